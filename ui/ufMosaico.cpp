#include "ui/ufMosaico.h"

TfMosaico::TfMosaico(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Mosaico"));
    resize(668, 604);
}
