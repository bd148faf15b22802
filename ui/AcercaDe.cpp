#include "ui/AcercaDe.h"

#include "ui/ProgramPicture.h"
#include "ui/WindowFont.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Acerca de ..."));
    setFont(WindowFont());
    setFixedSize(338, 173);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    // Lowered outside, raised inside: an etched frame.
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 321, 121);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(ProgramPicture(65));
    ProgramIcon->setGeometry(8, 8, 65, 65);

    ProductName = new QLabel(QStringLiteral("Morvel"), Panel1);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->setFont(WindowFont(true));
    ProductName->move(88, 16);
    ProductName->adjustSize();

    Version = new QLabel(QStringLiteral("Versión 1.0.4"), Panel1);
    Version->setObjectName(QStringLiteral("Version"));
    Version->move(160, 32);
    Version->adjustSize();

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(135, 140, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}
