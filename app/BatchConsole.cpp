#include "app/BatchConsole.h"

#include "run/EventStamp.h"

#include <unistd.h>

BatchConsole::BatchConsole(std::FILE* out, std::FILE* err, bool showProgress)
    : m_out(out), m_err(err), m_showProgress(showProgress),
      m_clock([] { return QDateTime::currentDateTime(); }) {}

bool BatchConsole::IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

void BatchConsole::logEvent(const QString& message) {
    line(EventStamp(m_clock()) + message);
}

void BatchConsole::line(const QString& text) {
    clearProgress();
    write(m_out, text + u'\n');
    drawProgress();
}

void BatchConsole::error(const QString& text) {
    clearProgress();
    write(m_err, text + u'\n');
    drawProgress();
}

void BatchConsole::setProgressRange(int maximum) {
    m_maximum = maximum;
    setProgress(0);
}

void BatchConsole::setProgress(int value) {
    if (!m_showProgress) {
        return;
    }
    m_value = value;
    drawProgress();
}

void BatchConsole::endProgress() {
    clearProgress();
    m_showProgress = false;
}

void BatchConsole::drawProgress() {
    if (!m_showProgress || m_value < 0) {
        return;
    }
    const QString max = QString::number(m_maximum);
    const QString figure = QStringLiteral("  %1/%2").arg(m_value, max.size()).arg(max);
    // Carriage return only: the next figure, or the clearing, writes over this one.
    write(m_out, u'\r' + figure);
    m_shownWidth = static_cast<int>(figure.size());
}

void BatchConsole::clearProgress() {
    if (m_shownWidth == 0) {
        return;
    }
    write(m_out, u'\r' + QString(m_shownWidth, u' ') + u'\r');
    m_shownWidth = 0;
}

void BatchConsole::write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    // Each piece is seen as it happens, also through a pipe or in a file.
    std::fflush(stream);
}
