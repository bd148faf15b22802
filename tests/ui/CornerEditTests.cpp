// The corner coordinate fields: what the mask makes of a text, and the refusal of an
// incomplete entry when the focus leaves.
#include "ui/CornerEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

struct MaskCase {
    const char* stored;
    const char* shown;
    const char* value;
    const char* why;
};

class CornerMaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(CornerMaskTest, StoredTextThroughTheMask) {
    const MaskCase& c = GetParam();
    CornerEdit edit;
    edit.setValue(QString::fromUtf8(c.stored));
    EXPECT_EQ(edit.displayText(), QString::fromUtf8(c.shown)) << c.why;
    EXPECT_EQ(edit.value(), QString::fromUtf8(c.value)) << c.why;
    EXPECT_FALSE(edit.isModified());
}

// Each character goes to its own digit place; a place without a digit stays empty ("_").
// Leading empty places are left out of the value, other ones read as blanks.
INSTANTIATE_TEST_SUITE_P(
    Table, CornerMaskTest,
    ::testing::Values(MaskCase{"585000", "585.000", "585000", "the default easting"},
                      MaskCase{"5850000", "585.000", "585000", "seventh digit dropped"},
                      MaskCase{"12ab56", "12_._56", "12  56", "letters leave inner places empty"},
                      MaskCase{"585", "585.___", "585   ", "short text: trailing places empty"},
                      MaskCase{"", "___.___", "", "empty"},
                      MaskCase{"  5000", "__5.000", "5000", "leading places left out"},
                      MaskCase{"585.000", "585.000", "585000", "the shown form is taken too"},
                      MaskCase{"-12345", "_12.345", "12345", "a sign is no digit"}));

// A window with two corner fields and a plain edit, shown and active, so that the focus
// moves as it does for the user.
class CornerFocusTest : public ::testing::Test {
protected:
    void SetUp() override {
        first = new CornerEdit(&window);
        first->setGeometry(10, 10, 60, 21);
        second = new CornerEdit(&window);
        second->setGeometry(10, 40, 60, 21);
        other = new QLineEdit(&window);
        other->setGeometry(10, 70, 60, 21);
        first->setValue(QStringLiteral("585000"));
        second->setValue(QStringLiteral("730000"));
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        first->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(first->hasFocus());
    }

    // Deletes the last digit, as the user would with Backspace at the end of the field.
    void deleteLastDigit() {
        first->setCursorPosition(first->displayText().size());
        QTest::keyClick(first, Qt::Key_Backspace);
    }

    QWidget window;
    CornerEdit* first = nullptr;
    CornerEdit* second = nullptr;
    QLineEdit* other = nullptr;
};

TEST_F(CornerFocusTest, IncompleteChangedEntryKeepsTheFocus) {
    QSignalSpy exited(first, &CornerEdit::exited);
    QSignalSpy refused(first, &CornerEdit::exitRefused);
    QSignalSpy secondExited(second, &CornerEdit::exited);
    deleteLastDigit();
    ASSERT_EQ(first->displayText(), "585.00_");

    QTest::keyClick(first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), first);
    EXPECT_TRUE(refused.wait(1000));
    EXPECT_EQ(refused.count(), 1);
    EXPECT_EQ(exited.count(), 0);
    // The field the focus was heading for never entered, so it does not "leave" now.
    EXPECT_EQ(secondExited.count(), 0);

    // A click elsewhere is refused the same way.
    QTest::mouseClick(other, Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), first);
    EXPECT_TRUE(refused.wait(1000));
    EXPECT_EQ(exited.count(), 0);
}

TEST_F(CornerFocusTest, EscapeRestoresTheEntryAndLetsGo) {
    QSignalSpy exited(first, &CornerEdit::exited);
    QSignalSpy refused(first, &CornerEdit::exitRefused);
    deleteLastDigit();
    QTest::keyClick(first, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), first);
    ASSERT_TRUE(refused.wait(1000));

    // The value at the first entry comes back, not the broken one of the refused exit.
    QTest::keyClick(first, Qt::Key_Escape);
    EXPECT_EQ(first->displayText(), "585.000");
    QTest::keyClick(first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), second);
    EXPECT_EQ(exited.count(), 1);
    EXPECT_EQ(refused.count(), 1);
}

TEST_F(CornerFocusTest, CompleteOrUnchangedEntriesLeave) {
    QSignalSpy exited(first, &CornerEdit::exited);
    QSignalSpy refused(first, &CornerEdit::exitRefused);
    // A complete new entry.
    first->selectAll();
    QTest::keyClicks(first, QStringLiteral("600000"));
    EXPECT_EQ(first->displayText(), "600.000");
    QTest::keyClick(first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), second);
    EXPECT_EQ(exited.count(), 1);

    // An incomplete text from the settings, entered but not changed, may leave.
    first->setValue(QStringLiteral("58"));
    first->setFocus(Qt::TabFocusReason);
    QTest::keyClick(first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), second);
    EXPECT_EQ(exited.count(), 2);
    QTest::qWait(10);
    EXPECT_EQ(refused.count(), 0);
}

TEST_F(CornerFocusTest, LeavingTheWindowIsNoExit) {
    QSignalSpy exited(first, &CornerEdit::exited);
    QSignalSpy refused(first, &CornerEdit::exitRefused);
    deleteLastDigit();
    // Another window or a menu taking the focus does not leave the control.
    for (Qt::FocusReason reason :
         {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason, Qt::MenuBarFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(first, &out);
    }
    QTest::qWait(10);
    EXPECT_EQ(exited.count(), 0);
    EXPECT_EQ(refused.count(), 0);
}

} // namespace
