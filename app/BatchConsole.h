#pragma once

#include <QDateTime>
#include <QString>

#include <cstdio>
#include <functional>

// What a run without windows writes: the event log's lines on standard output as they
// come, each with the stamp the window's log gives it; messages on standard error; and,
// on a terminal only, a progress figure below them, rewritten in place. The figure is
// cleared before anything else is written, so that it never ends up inside a line, and
// drawn again after it.
class BatchConsole {
public:
    using Clock = std::function<QDateTime()>;

    BatchConsole(std::FILE* out, std::FILE* err, bool showProgress);

    // True when the stream is a terminal, where the progress figure belongs.
    static bool IsTerminal(std::FILE* stream);

    // A log message without its stamp, such as ". Fin de la descarga".
    void logEvent(const QString& message);
    // A line of its own on standard output, without a stamp.
    void line(const QString& text);
    // A message for the user on standard error.
    void error(const QString& text);
    // Shows "   0/100" when a figure is shown at all.
    void setProgressRange(int maximum);
    // "  37/100", in place of the figure before.
    void setProgress(int value);
    // No figure from now on; the one shown is cleared.
    void endProgress();

    // Tests put a clock of their own here; the default is the local system clock.
    void setClock(Clock clock) { m_clock = std::move(clock); }

private:
    void clearProgress();
    void drawProgress();
    void write(std::FILE* stream, const QString& text);

    std::FILE* m_out;
    std::FILE* m_err;
    bool m_showProgress;
    int m_maximum = 0;
    int m_value = -1;     // the figure to show, -1 for none
    int m_shownWidth = 0; // characters of the figure on the screen, 0 when none is
    Clock m_clock;
};
