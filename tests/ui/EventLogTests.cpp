// The event log: the stamp of its lines, shared with the window-less run, and the window:
// clearing and adding, the editable text area.
#include "run/EventStamp.h"
#include "ui/ufElegirCarpeta.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct StampCase {
    QTime time;
    const char* stamp;
};
void PrintTo(const StampCase& c, std::ostream* out) {
    *out << c.stamp;
}

class EventStampTest : public ::testing::TestWithParam<StampCase> {};

// Day/month/four-digit year, one blank, 24-hour time with seconds; the date alone at
// exactly midnight, whatever the fraction of the second.
TEST_P(EventStampTest, Format) {
    const QDateTime when(QDate(2026, 1, 31), GetParam().time);
    EXPECT_EQ(EventStamp(when), QString::fromUtf8(GetParam().stamp));
}

INSTANTIATE_TEST_SUITE_P(Stamps, EventStampTest,
                         ::testing::Values(StampCase{QTime(13, 5, 9), "31/01/2026 13:05:09"},
                                           StampCase{QTime(0, 0, 0), "31/01/2026"},
                                           StampCase{QTime(0, 0, 0, 999), "31/01/2026"},
                                           StampCase{QTime(0, 0, 1), "31/01/2026 00:00:01"},
                                           StampCase{QTime(0, 1, 0), "31/01/2026 00:01:00"},
                                           StampCase{QTime(12, 0, 0), "31/01/2026 12:00:00"}));

class EventLogWindow : public ::testing::Test {
protected:
    void SetUp() override {
        m_log.setClock([this] { return m_now; });
        m_area = m_log.findChild<QPlainTextEdit*>(QStringLiteral("mLog"));
        m_button = m_log.findChild<QPushButton*>(QStringLiteral("Button1"));
        ASSERT_NE(m_area, nullptr);
        ASSERT_NE(m_button, nullptr);
    }
    void TearDown() override { m_log.hide(); }

    TfElegirCarpeta m_log;
    QDateTime m_now{QDate(2026, 12, 7), QTime(13, 5, 9)};
    QPlainTextEdit* m_area = nullptr;
    QPushButton* m_button = nullptr;
};

// The stamp comes from the clock at each line; the text area is the log itself.
TEST_F(EventLogWindow, LinesAreStampFollowedDirectlyByMessageUntilCleared) {
    m_log.AddEvent(QStringLiteral(". Comienzo de la descarga"));
    m_now = QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0));
    m_log.AddEvent(QStringLiteral(". Descargado mosaico A01.jpg"));
    EXPECT_EQ(m_log.lines(), (QStringList{"07/12/2026 13:05:09. Comienzo de la descarga",
                                          "08/12/2026. Descargado mosaico A01.jpg"}));
    EXPECT_EQ(m_area->toPlainText(), m_log.lines().join(u'\n'));
    m_log.Clear();
    EXPECT_TRUE(m_log.lines().isEmpty());
    m_log.AddEvent(QStringLiteral(". Fin de la descarga"));
    EXPECT_EQ(m_log.lines(), QStringList{"08/12/2026. Fin de la descarga"});
}

TEST_F(EventLogWindow, AcceptHasTheFocusAndTypedTextStaysInTheLog) {
    m_log.AddEvent(QStringLiteral(". Fin de la descarga"));
    m_log.show();
    QApplication::setActiveWindow(&m_log);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_log));
    EXPECT_EQ(QApplication::focusWidget(), m_button);
    m_area->setFocus();
    m_area->moveCursor(QTextCursor::End);
    QTest::keyClicks(m_area, QStringLiteral(" visto"));
    QTest::mouseClick(m_button, Qt::LeftButton);
    EXPECT_FALSE(m_log.isVisible());
    EXPECT_EQ(m_log.result(), QDialog::Accepted);
    m_log.show();
    EXPECT_EQ(m_log.lines(), QStringList{"07/12/2026 13:05:09. Fin de la descarga visto"});
    // A line added after typing starts a line of its own.
    m_log.AddEvent(QStringLiteral(". Comienzo de la descarga"));
    EXPECT_EQ(m_log.lines().size(), 2);
}

TEST(EventLog, DefaultClockIsTheSystemClock) {
    TfElegirCarpeta log;
    const QDateTime before = QDateTime::currentDateTime();
    log.AddEvent(QStringLiteral(". x"));
    const QDateTime after = QDateTime::currentDateTime();
    const QString line = log.lines().value(0);
    // Either second may have ticked between the readings.
    EXPECT_TRUE(line == EventStamp(before) + ". x" || line == EventStamp(after) + ". x")
        << line.toStdString();
}

} // namespace
