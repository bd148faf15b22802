// The About box and the real message boxes and folder chooser, answered by a timer the
// way a user would answer them.
#include "ui/AcercaDe.h"
#include "ui/Dialogs.h"
#include "ui/ProgramTitle.h"

#include "UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
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
    std::function<void()> poll;
    poll = [&] {
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

TEST(AboutBoxTest, ShowsNameAndVersion) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "Acerca de ...");
    EXPECT_EQ(box.size(), QSize(338, 173));
    EXPECT_EQ(box.minimumSize(), box.maximumSize()); // not resizable
    const auto* name = box.findChild<QLabel*>("ProductName");
    const auto* version = box.findChild<QLabel*>("Version");
    const auto* icon = box.findChild<QLabel*>("ProgramIcon");
    const auto* panel = box.findChild<QFrame*>("Panel1");
    const auto* ok = box.findChild<QPushButton*>("OKButton");
    ASSERT_TRUE(name && version && icon && panel && ok);
    EXPECT_EQ(name->text(), "Morvel");
    EXPECT_EQ(version->text(), "Versión 1.0.4");
    EXPECT_EQ(name->pos(), QPoint(88, 16));
    EXPECT_EQ(version->pos(), QPoint(160, 32));
    EXPECT_EQ(panel->geometry(), QRect(8, 8, 321, 121));
    EXPECT_EQ(icon->geometry(), QRect(8, 8, 65, 65));
    EXPECT_FALSE(icon->pixmap().isNull());
    EXPECT_TRUE(icon->hasScaledContents());
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(135, 140, 75, 25));
    EXPECT_TRUE(ok->isDefault());
}

TEST(AboutBoxTest, EnterOrOkClosesIt) {
    TAboutBox box;
    int result = -1;
    AnswerModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); },
                [&] { result = box.exec(); });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());

    AnswerModal(
        [](QWidget* modal) {
            QTest::mouseClick(modal->findChild<QPushButton*>("OKButton"), Qt::LeftButton);
        },
        [&] { result = box.exec(); });
    EXPECT_EQ(result, QDialog::Accepted);

    // The close box ends the modal showing too; the box is only hidden.
    AnswerModal([](QWidget* modal) { modal->close(); }, [&] { result = box.exec(); });
    EXPECT_EQ(result, QDialog::Rejected);
}

struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool okIsDefault = false;
};

// Reads what the open message box shows, then presses the button with `press`.
std::function<void(QWidget*)> ReadAndPress(BoxSeen& seen, QMessageBox::StandardButton press) {
    return [&seen, press](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.okIsDefault = box->defaultButton() == box->button(QMessageBox::Ok);
        box->button(press)->click();
    };
}

TEST(DialogsTest, MessageHasTheProgramTitleAndNoIcon) {
    Dialogs dialogs;
    BoxSeen seen;
    AnswerModal(ReadAndPress(seen, QMessageBox::Ok),
                [&] { dialogs.message(QStringLiteral("Introduzca coordenadas UTM")); });
    EXPECT_EQ(seen.title, ProgramTitle());
    EXPECT_EQ(seen.text, "Introduzca coordenadas UTM");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
}

TEST(DialogsTest, ErrorAddsTheFullStopAndTheErrorIcon) {
    Dialogs dialogs;
    BoxSeen seen;
    AnswerModal(ReadAndPress(seen, QMessageBox::Ok),
                [&] { dialogs.error(QStringLiteral("Unable to write to ./Morvel.ini")); });
    EXPECT_EQ(seen.title, ProgramTitle());
    EXPECT_EQ(seen.text, "Unable to write to ./Morvel.ini.");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
}

TEST(DialogsTest, NoticeAndOkCancelHaveTheirOwnCaption) {
    Dialogs dialogs;
    BoxSeen notice;
    AnswerModal(ReadAndPress(notice, QMessageBox::Ok),
                [&] { dialogs.notice(QStringLiteral("Carpeta destino"), QStringLiteral("No")); });
    EXPECT_EQ(notice.title, "Carpeta destino");
    EXPECT_EQ(notice.buttons, QMessageBox::Ok);
    EXPECT_EQ(notice.icon, QMessageBox::NoIcon);

    for (const auto press : {QMessageBox::Ok, QMessageBox::Cancel}) {
        BoxSeen seen;
        bool answer = press != QMessageBox::Ok;
        AnswerModal(ReadAndPress(seen, press), [&] {
            answer = dialogs.okCancel(QStringLiteral("Fichero"), QStringLiteral("¿Reemplazar?"));
        });
        EXPECT_EQ(answer, press == QMessageBox::Ok);
        EXPECT_EQ(seen.title, "Fichero");
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
        EXPECT_EQ(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_TRUE(seen.okIsDefault);
    }
}

TEST(DialogsTest, FolderChooserGivesTheChosenFolderOrNothing) {
    const CurrentDirScope cwd;
    ASSERT_TRUE(QDir(cwd.path()).mkdir(QStringLiteral("mapas")));
    const QString chosen = cwd.file(QStringLiteral("mapas"));
    Dialogs dialogs;
    std::optional<QString> result;
    QString title;
    AnswerModal(
        [&](QWidget* modal) {
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(chooser, nullptr);
            title = chooser->windowTitle();
            EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
            EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
            chooser->setDirectory(chosen);
            chooser->selectFile(chosen);
            QMetaObject::invokeMethod(chooser, "accept");
        },
        [&] { result = dialogs.chooseFolder(QStringLiteral("Seleccione carpeta destino")); });
    EXPECT_EQ(title, "Seleccione carpeta destino");
    EXPECT_EQ(result, QDir::toNativeSeparators(chosen));

    AnswerModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); },
                [&] { result = dialogs.chooseFolder(QStringLiteral("x")); });
    EXPECT_FALSE(result.has_value());
}

} // namespace
