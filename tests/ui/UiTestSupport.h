#pragma once

#include "tests/support/TestFiles.h"
#include "ui/Dialogs.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <optional>
#include <vector>

// Records every box the program would show and answers the questions as told.
class FakeDialogs : public Dialogs {
public:
    struct Shown {
        QString kind; // "message", "error", "notice", "okCancel", "choice",
                      // "chooseFolder", "chooseFile"
        QString caption;
        QString text;
    };

    void message(const QString& text) override { shown.push_back({"message", {}, text}); }
    void error(const QString& text) override { shown.push_back({"error", {}, text}); }
    void notice(const QString& caption, const QString& text) override {
        shown.push_back({"notice", caption, text});
    }
    bool okCancel(const QString& caption, const QString& text) override {
        shown.push_back({"okCancel", caption, text});
        return okAnswer;
    }
    int choice(const QString& caption, const QString& text, const QStringList& buttons) override {
        shown.push_back({"choice", caption, text});
        choiceButtons = buttons;
        return choiceAnswer;
    }
    std::optional<QString> chooseFolder(const QString& prompt) override {
        shown.push_back({"chooseFolder", {}, prompt});
        return folderAnswer;
    }
    std::optional<QString> chooseFile(const QString& caption, const QString& filter) override {
        shown.push_back({"chooseFile", caption, filter});
        return fileAnswer;
    }

    // The texts of the boxes of one kind, in order.
    QStringList texts(const QString& kind) const {
        QStringList out;
        for (const Shown& s : shown) {
            if (s.kind == kind) {
                out << s.text;
            }
        }
        return out;
    }

    std::vector<Shown> shown;
    bool okAnswer = true;
    int choiceAnswer = 0;      // the first button
    QStringList choiceButtons; // of the latest choice
    std::optional<QString> folderAnswer;
    std::optional<QString> fileAnswer;
};

// How long the event loop went without a turn while it ran, from the gaps between the
// ticks of a 1 ms timer: the longest gap, and the most the thread worked within one gap
// (its own processor time). On a busy machine a gap also holds the time the thread waited
// for a processor, which says nothing of the program; the work within it does.
class StallProbe : public QObject {
public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 worked = ThreadNs();
            m_longestNs = std::max(m_longestNs, m_clock.nsecsElapsed());
            m_busiestNs = std::max(m_busiestNs, worked - m_workedNs);
            m_workedNs = worked;
            m_clock.restart();
        });
    }
    void start() {
        m_longestNs = 0;
        m_busiestNs = 0;
        m_workedNs = ThreadNs();
        m_clock.start();
        m_timer.start();
    }
    double longestMs() const { return static_cast<double>(m_longestNs) / 1e6; }
    double busiestMs() const { return static_cast<double>(m_busiestNs) / 1e6; }

private:
    static qint64 ThreadNs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64{t.tv_sec} * 1000000000 + t.tv_nsec;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longestNs = 0;
    qint64 m_busiestNs = 0;
    qint64 m_workedNs = 0;
};
