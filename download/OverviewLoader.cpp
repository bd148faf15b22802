#include "download/OverviewLoader.h"

#include "download/TransferGate.h"

#include <algorithm>
#include <utility>

namespace {

qint64 CostOf(const QImage& image) {
    return std::max<qint64>(1, image.sizeInBytes() / 1024);
}

} // namespace

OverviewLoader::OverviewLoader(QNetworkAccessManager* manager, TransferGate& gate, QObject* parent)
    : QObject(parent), m_manager(manager), m_gate(gate) {
    // Costs in KiB, so that the limit fits the cache's int.
    m_kept.setMaxCost(static_cast<int>(kCacheBytes / 1024));
}

OverviewLoader::~OverviewLoader() {
    abandonAll();
}

void OverviewLoader::setRequestPrefix(const QString& prefix) {
    if (prefix == m_prefix) {
        return;
    }
    abandonAll();
    m_prefix = prefix;
}

QString OverviewLoader::keyOf(const OverviewSquare& square) const {
    return OverviewUrl(m_prefix, square);
}

bool OverviewLoader::isKept(const OverviewSquare& square) const {
    return m_kept.contains(keyOf(square));
}

void OverviewLoader::abandonAll() {
    abandon([](const OverviewSquare&) { return true; });
}

template <typename Stale> void OverviewLoader::abandon(Stale stale) {
    // None of them may wait for a transfer any more before the first gives its own back:
    // it would go to the next stale one, whose request would leave only to be cut.
    for (const Fetch& f : m_active) {
        if (stale(f.square)) {
            m_gate.withdraw(f.fetcher.get());
        }
    }
    for (auto it = m_active.begin(); it != m_active.end();) {
        if (stale(it->square)) {
            it->fetcher->abort();
            ++m_abandoned;
            m_idle.push_back(std::move(it->fetcher));
            it = m_active.erase(it);
        } else {
            ++it;
        }
    }
}

void OverviewLoader::show(const std::vector<OverviewSquare>& squares) {
    // What no longer shows is abandoned first, so that its transfers go to this view.
    abandon([&squares](const OverviewSquare& square) {
        return std::find(squares.begin(), squares.end(), square) == squares.end();
    });
    int priority = kFirstPriority;
    for (const OverviewSquare& square : squares) {
        ++priority;
        if (const QImage* image = m_kept.object(keyOf(square))) {
            emit imageReady(square, *image);
            continue;
        }
        const bool asked = std::any_of(m_active.begin(), m_active.end(),
                                       [&square](const Fetch& f) { return f.square == square; });
        if (!asked) {
            start(square, priority);
        }
    }
}

void OverviewLoader::start(const OverviewSquare& square, int priority) {
    std::unique_ptr<TileFetcher> fetcher;
    if (m_idle.empty()) {
        fetcher = std::make_unique<TileFetcher>(m_manager);
        TileFetcher* raw = fetcher.get();
        connect(raw, &TileFetcher::finished, this,
                [this, raw](const TileFetchResult& result) { finished(raw, result); });
        connect(raw, &TileFetcher::attemptStarted, this, [this, raw] {
            for (Fetch& f : m_active) {
                if (f.fetcher.get() == raw) {
                    f.sent.start();
                }
            }
        });
    } else {
        fetcher = std::move(m_idle.back());
        m_idle.pop_back();
    }
    FetchLimits limits = m_limits;
    limits.maxAnswerBytes = std::min(limits.maxAnswerBytes, kMaxAnswerBytes);
    fetcher->setLimits(limits);
    fetcher->setGate(&m_gate);
    TileFetcher* raw = fetcher.get();
    m_active.push_back({std::move(fetcher), square, {}});
    raw->FetchImage(OverviewUrl(m_prefix, square), priority);
}

void OverviewLoader::finished(TileFetcher* fetcher, const TileFetchResult& result) {
    const auto it = std::find_if(m_active.begin(), m_active.end(),
                                 [fetcher](const Fetch& f) { return f.fetcher.get() == fetcher; });
    if (it == m_active.end()) {
        return;
    }
    const OverviewSquare square = it->square;
    const qint64 ms = it->sent.isValid() ? it->sent.elapsed() : 0;
    // The fetcher is kept for the next square; it may not be deleted while it emits.
    m_idle.push_back(std::move(it->fetcher));
    m_active.erase(it);
    if (!result.ok) {
        emit imageFailed(square, result.reason);
        return;
    }
    m_kept.insert(keyOf(square), new QImage(result.image), CostOf(result.image));
    emit answerMeasured(square, result.storedBytes, ms);
    emit imageReady(square, result.image);
}
