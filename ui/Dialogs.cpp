#include "ui/Dialogs.h"

#include "ui/ProgramTitle.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

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
