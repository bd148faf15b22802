#include "ui/Dialogs.h"

#include "ui/ProgramTitle.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Without a parent the box is centred on the screen, as the program's boxes are.
int ShowBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
            QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, text, buttons);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec();
}

} // namespace

void Dialogs::message(const QString& text) {
    ShowBox(QMessageBox::NoIcon, ProgramTitle(), text, QMessageBox::Ok);
}

void Dialogs::error(const QString& text) {
    ShowBox(QMessageBox::Critical, ProgramTitle(), text + QLatin1Char('.'), QMessageBox::Ok);
}

void Dialogs::notice(const QString& caption, const QString& text) {
    ShowBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
}

bool Dialogs::okCancel(const QString& caption, const QString& text) {
    return ShowBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
}

int Dialogs::choice(const QString& caption, const QString& text, const QStringList& buttons) {
    QMessageBox box(QMessageBox::NoIcon, caption, text);
    QList<QAbstractButton*> made;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        made << box.addButton(buttons[i], i + 1 == buttons.size() ? QMessageBox::RejectRole
                                                                  : QMessageBox::AcceptRole);
    }
    if (made.isEmpty()) {
        return -1;
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(made.front()));
    box.setEscapeButton(made.back());
    box.exec();
    const qsizetype chosen = made.indexOf(box.clickedButton());
    return static_cast<int>(chosen < 0 ? made.size() - 1 : chosen);
}

std::optional<QString> Dialogs::chooseFolder(const QString& prompt) {
    const QString chosen = QFileDialog::getExistingDirectory(QApplication::activeWindow(), prompt,
                                                             QString(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(chosen);
}

std::optional<QString> Dialogs::chooseFile(const QString& caption, const QString& filter) {
    const QString chosen =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, QString(), filter);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(chosen);
}
