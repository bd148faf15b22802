#include "download/TransferGate.h"

#include <algorithm>

TransferGate::TransferGate(int transfers) : m_transfers(qMax(1, transfers)) {
    m_resume.setSingleShot(true);
    // A coarse timer may fire early; the server's time is a promise kept.
    m_resume.setTimerType(Qt::PreciseTimer);
    m_resume.callOnTimeout([this] {
        if (m_pausedUntil.hasExpired()) {
            grant();
        } else { // woken a little early
            m_resume.start(static_cast<int>(std::max<qint64>(1, m_pausedUntil.remainingTime())));
        }
    });
}

void TransferGate::acquire(const void* owner, int priority, std::function<void()> start) {
    if (m_closed) {
        return;
    }
    m_queue.push_back({priority, m_next++, owner, std::move(start)});
    grant();
}

void TransferGate::release(const void* owner) {
    const auto held = std::find(m_holders.begin(), m_holders.end(), owner);
    if (held == m_holders.end()) {
        return;
    }
    m_holders.erase(held);
    --m_inUse;
    grant();
}

void TransferGate::withdraw(const void* owner) {
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                                 [owner](const Waiting& w) { return w.owner == owner; }),
                  m_queue.end());
}

void TransferGate::close() {
    m_closed = true;
    m_queue.clear();
}

void TransferGate::pauseUntil(const QDeadlineTimer& deadline) {
    if (isPaused() && deadline.deadlineNSecs() <= m_pausedUntil.deadlineNSecs()) {
        return;
    }
    m_pausedUntil = deadline;
    m_resume.start(static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
}

void TransferGate::grant() {
    while (!m_closed && !isPaused() && m_inUse < m_transfers && !m_queue.empty()) {
        const auto first = std::min_element(
            m_queue.begin(), m_queue.end(), [](const Waiting& a, const Waiting& b) {
                return a.priority != b.priority ? a.priority < b.priority : a.order < b.order;
            });
        Waiting next = std::move(*first);
        m_queue.erase(first);
        m_holders.push_back(next.owner);
        ++m_inUse;
        // May come back here (a start that fails at once gives its transfer back).
        next.start();
    }
}
