#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

// The About box "Acerca de ...": the program's picture, name and version, and OK.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

private:
    QFrame* Panel1;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QPushButton* OKButton;
};
