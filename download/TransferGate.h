#pragma once

#include <QtGlobal>

#include <functional>
#include <vector>

// Shares a number of transfers to the map server among the fetches of a run: a fetch
// waits for a free transfer before each request it sends, and gives it back as soon as
// the answer is in, so that the next request leaves while the answer is decoded. Waiting
// fetches get the free transfers in the order of their priority (the tile's place in grid
// order), so that requests leave in grid order whatever finished first.
class TransferGate {
public:
    explicit TransferGate(int transfers = 1) : m_transfers(qMax(1, transfers)) {}

    int transfers() const { return m_transfers; }
    int inUse() const { return m_inUse; }

    // Calls `start` once a transfer is free for `owner`: at once when one is, otherwise
    // when one is given back and no waiting fetch of a lower priority number is ahead.
    void acquire(const void* owner, int priority, std::function<void()> start);
    // The transfer of `owner` ended; the next waiting fetch gets it.
    void release(const void* owner);
    // `owner` waits no more (abandoned before its turn came).
    void withdraw(const void* owner);
    // Nothing waiting gets a transfer any more: what is given back stays free.
    void close();

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
};
