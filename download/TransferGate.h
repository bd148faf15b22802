#pragma once

#include <QDeadlineTimer>
#include <QTimer>
#include <QtGlobal>

#include <functional>
#include <vector>

// Shares a number of transfers to one map server among the fetches that ask it, those of a
// run and any other requester given the same gate: a fetch waits for a free transfer before
// each request it sends, and gives it back as soon as the answer is in, so that the next
// request leaves while the answer is decoded. Waiting fetches get the free transfers in the
// order of their priority (a tile's place in grid order), so that requests leave in grid
// order whatever finished first. A server that says it is busy pauses the gate: no new
// request leaves before the time it asked for.
class TransferGate {
public:
    explicit TransferGate(int transfers = 1);
    TransferGate(const TransferGate&) = delete;
    TransferGate& operator=(const TransferGate&) = delete;

    int transfers() const { return m_transfers; }
    int inUse() const { return m_inUse; }

    // Calls `start` once a transfer is free for `owner`: at once when one is and the gate
    // is not paused, otherwise when one is given back (or the pause ends) and no waiting
    // fetch of a lower priority number is ahead.
    void acquire(const void* owner, int priority, std::function<void()> start);
    // The transfer of `owner` ended; the next waiting fetch gets it.
    void release(const void* owner);
    // `owner` waits no more (abandoned before its turn came).
    void withdraw(const void* owner);
    // Nothing waiting gets a transfer any more: what is given back stays free. For a gate
    // of one requester only; one that stops among others withdraws its own fetches.
    void close();

    // No transfer is handed out before `deadline`; those in flight go on. A later deadline
    // lengthens the pause, an earlier one changes nothing.
    void pauseUntil(const QDeadlineTimer& deadline);
    bool isPaused() const { return m_resume.isActive(); }

private:
    struct Waiting {
        int priority;
        quint64 order;
        const void* owner;
        std::function<void()> start;
    };
    void grant();

    int m_transfers;
    int m_inUse = 0;
    bool m_closed = false;
    quint64 m_next = 0;
    std::vector<const void*> m_holders;
    std::vector<Waiting> m_queue;
    QDeadlineTimer m_pausedUntil;
    QTimer m_resume; // fires when the pause is over
};
