#include "ui/ufElegirCarpeta.h"

TfElegirCarpeta::TfElegirCarpeta(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Sucesos de descarga"));
    resize(354, 381);
}
