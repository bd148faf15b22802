// The About box and the real message boxes and folder chooser, answered by a timer the
// way a user would answer them.
#include "ui/AcercaDe.h"
#include "ui/Dialogs.h"
#include "ui/ProgramTitle.h"

#include "UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs `answer` on the modal window that `show` opens, once it is open.
void AnswerModal(const std::function<void(QWidget*)>& answer, const std::function<void()>& show) {
    bool answered = false;
    std::function<void()> poll = [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            answered = true;
            answer(modal);
        } else {
            QTimer::singleShot(10, poll);
        }
    };
    QTimer::singleShot(0, poll);
    show();
    EXPECT_TRUE(answered);
}

TEST(AboutBoxTest, ShowsNameAndVersionAndEnterClosesIt) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "Acerca de ...");
    EXPECT_EQ(box.findChild<QLabel*>("ProductName")->text(), "Morvel");
    EXPECT_EQ(box.findChild<QLabel*>("Version")->text(), "Versión 1.0.4");
    EXPECT_FALSE(box.findChild<QLabel*>("ProgramIcon")->pixmap().isNull());
    EXPECT_TRUE(box.findChild<QPushButton*>("OKButton")->isDefault());
    int result = -1;
    AnswerModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); },
                [&] { result = box.exec(); });
    EXPECT_EQ(result, QDialog::Accepted);
}

struct BoxCase {
    std::function<bool(Dialogs&)> show; // returns what the call answers, true if nothing
    QMessageBox::StandardButton press;
    QString title, text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    bool answer;
};

TEST(DialogsTest, BoxesShowCaptionTextIconAndButtons) {
    const QString title = ProgramTitle();
    const QMessageBox::StandardButtons okCancel = QMessageBox::Ok | QMessageBox::Cancel;
    const auto ask = [](Dialogs& d) { return d.okCancel("Fichero", "¿Reemplazar?"); };
    const BoxCase cases[] = {
        {[](Dialogs& d) { return d.message("Introduzca"), true; }, QMessageBox::Ok, title,
         "Introduzca", QMessageBox::NoIcon, QMessageBox::Ok, true},
        // The error display adds the final full stop.
        {[](Dialogs& d) { return d.error("No se puede grabar ./Morvel.ini"), true; },
         QMessageBox::Ok, title, "No se puede grabar ./Morvel.ini.", QMessageBox::Critical,
         QMessageBox::Ok, true},
        {[](Dialogs& d) { return d.notice("Carpeta destino", "No"), true; }, QMessageBox::Ok,
         "Carpeta destino", "No", QMessageBox::NoIcon, QMessageBox::Ok, true},
        {ask, QMessageBox::Ok, "Fichero", "¿Reemplazar?", QMessageBox::NoIcon, okCancel, true},
        {ask, QMessageBox::Cancel, "Fichero", "¿Reemplazar?", QMessageBox::NoIcon, okCancel, false},
    };
    Dialogs dialogs;
    for (const BoxCase& c : cases) {
        bool answer = !c.answer;
        AnswerModal(
            [&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->windowTitle(), c.title);
                EXPECT_EQ(box->text(), c.text);
                EXPECT_EQ(box->icon(), c.icon);
                EXPECT_EQ(box->standardButtons(), c.buttons);
                EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
                box->button(c.press)->click();
            },
            [&] { answer = c.show(dialogs); });
        EXPECT_EQ(answer, c.answer) << c.text.toStdString();
    }
}

// A box of buttons of its own: each gives its place, Escape and the close give the last.
TEST(DialogsTest, AChoiceGivesThePressedButtonAndEscapeTheLast) {
    const QStringList buttons{"Crear la carpeta", "Usar la carpeta actual (/tmp)", "Cancelar"};
    // Enter, the second button, Escape and the close box.
    const std::pair<std::function<void(QMessageBox*)>, int> presses[] = {
        {[](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, 0},
        {[](QMessageBox* box) { box->buttons().at(1)->click(); }, 1},
        {[](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, 2},
        {[](QMessageBox* box) { box->close(); }, 2},
    };
    Dialogs dialogs;
    for (const auto& [press, expected] : presses) {
        int answer = -1;
        AnswerModal(
            [&, press = press](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->windowTitle() + box->text(), "Carpeta destino¿Qué hacer?");
                EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
                QStringList shown;
                for (QAbstractButton* b : box->buttons()) {
                    shown << b->text();
                }
                EXPECT_EQ(shown, buttons);
                press(box);
            },
            [&] { answer = dialogs.choice("Carpeta destino", "¿Qué hacer?", buttons); });
        EXPECT_EQ(answer, expected);
    }
}

TEST(DialogsTest, FolderChooserGivesTheChosenFolderOrNothing) {
    const CurrentDirScope cwd;
    ASSERT_TRUE(QDir(cwd.path()).mkdir(QStringLiteral("mapas")));
    const QString chosen = cwd.file(QStringLiteral("mapas"));
    Dialogs dialogs;
    std::optional<QString> result;
    AnswerModal(
        [&](QWidget* modal) {
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(chooser, nullptr);
            EXPECT_EQ(chooser->windowTitle(), "Seleccione carpeta");
            EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
            EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
            chooser->setDirectory(chosen);
            chooser->selectFile(chosen);
            QMetaObject::invokeMethod(chooser, "accept");
        },
        [&] { result = dialogs.chooseFolder(QStringLiteral("Seleccione carpeta")); });
    EXPECT_EQ(result, QDir::toNativeSeparators(chosen));

    AnswerModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); },
                [&] { result = dialogs.chooseFolder(QStringLiteral("x")); });
    EXPECT_FALSE(result.has_value());
}

} // namespace
