#pragma once

#include <QDialog>

// The event log window "Sucesos de descarga".
class TfElegirCarpeta : public QDialog {
    Q_OBJECT
public:
    explicit TfElegirCarpeta(QWidget* parent = nullptr);
};
