#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// SIGINT and SIGTERM as a Qt signal: while an object lives, the two signals no longer end
// the process; each is reported through `received` from the event loop. The handler only
// writes the signal's number into a socket pair that a notifier watches.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the socket pair could not be made; the signals then act as before.
    bool active() const { return m_notifier != nullptr; }

signals:
    void received(int signal);

private:
    void drain();

    int m_read = -1;
    int m_write = -1;
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_previousInt {};
    struct sigaction m_previousTerm {};
};
