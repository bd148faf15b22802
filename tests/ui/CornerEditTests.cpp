// The corner fields on their own: what the mask makes of a stored text, and the focus
// moves that are no exit. The refusal of an incomplete entry is driven in the main window.
#include "ui/CornerEdit.h"

#include "job/AreaRecalc.h"

#include <QApplication>
#include <QFocusEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct MaskCase {
    const char* stored;
    const char* shown;
    const char* value;
};

class CornerMaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(CornerMaskTest, StoredTextThroughTheMask) {
    const MaskCase& c = GetParam();
    CornerEdit edit;
    edit.setValue(QString::fromUtf8(c.stored));
    EXPECT_EQ(edit.displayText(), QString::fromUtf8(c.shown)) << c.stored;
    EXPECT_EQ(edit.value(), QString::fromUtf8(c.value)) << c.stored;
    EXPECT_EQ(CornerFieldValue(QString::fromUtf8(c.stored)), QString::fromUtf8(c.value));
    EXPECT_FALSE(edit.isModified());
}

// Each character goes to its own digit place; a non-digit leaves it empty ("_"). Leading
// empty places are left out of the value, inner ones read as blanks.
INSTANTIATE_TEST_SUITE_P(Table, CornerMaskTest,
                         ::testing::Values(MaskCase{"585000", "585.000", "585000"},
                                           MaskCase{"5850000", "585.000", "585000"},
                                           MaskCase{"12ab56", "12_._56", "12  56"},
                                           MaskCase{"585", "585.___", "585   "},
                                           MaskCase{"", "___.___", ""},
                                           MaskCase{"  5000", "__5.000", "5000"},
                                           MaskCase{"585.000", "585.000", "585000"},
                                           MaskCase{"-12345", "_12.345", "12345"}));

// The window-less run reads the stored corners without a field: what it reads must be
// what the field would give, for texts a hand-edited settings file may hold.
TEST(CornerValueTest, AgreesWithTheField) {
    const QStringList stored{"585000",
                             "5850000",
                             "585.000",
                             "585.0001",
                             "58.5000",
                             "585.00",
                             "585.",
                             ".585000",
                             "5 8 5 0 0 0",
                             "58500",
                             "",
                             " ",
                             "0",
                             "000000",
                             "999.999",
                             "12345678901",
                             "+12345",
                             "585,000",
                             "abcdef",
                             "5\t85000",
                             "585.0000",
                             "  .  ",
                             "585000 ",
                             "\u00bd85000",
                             "\uff15\uff18\uff15\uff10\uff10\uff10",
                             "\u0665\u0668\u0665\u0660\u0660\u0660",
                             "\U0001F5FA585000"};
    for (const QString& text : stored) {
        CornerEdit edit;
        edit.setValue(text);
        EXPECT_EQ(CornerFieldValue(text), edit.value()) << text.toStdString();
    }
}

TEST(CornerFocusTest, UnchangedEntryAndLeavingTheWindowAreNoRefusal) {
    QWidget window;
    auto* first = new CornerEdit(&window);
    auto* second = new CornerEdit(&window);
    second->move(0, 40);
    first->setValue(QStringLiteral("58")); // incomplete, as a settings file may give it
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    first->setFocus(Qt::TabFocusReason);
    QSignalSpy exited(first, &CornerEdit::exited);
    QSignalSpy refused(first, &CornerEdit::exitRefused);

    // Entered but left unchanged, an incomplete entry may go.
    QTest::keyClick(first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), second);
    EXPECT_EQ(exited.count(), 1);

    // Changed and incomplete, but the focus goes to another window or a menu: no exit.
    first->setFocus(Qt::TabFocusReason);
    first->setCursorPosition(0);
    QTest::keyClick(first, Qt::Key_1);
    ASSERT_TRUE(first->isModified() && first->hasEmptyPlace());
    for (Qt::FocusReason reason :
         {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason, Qt::MenuBarFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(first, &out);
    }
    QTest::qWait(10);
    EXPECT_EQ(exited.count(), 1);
    EXPECT_EQ(refused.count(), 0);
}

} // namespace
