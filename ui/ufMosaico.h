#pragma once

#include <QDialog>

// The mosaic viewer window "Mosaico".
class TfMosaico : public QDialog {
    Q_OBJECT
public:
    explicit TfMosaico(QWidget* parent = nullptr);
};
