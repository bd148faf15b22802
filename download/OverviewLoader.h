#pragma once

// The images of the map window: the squares a settled view needs, each asked for through
// the tile fetcher (into memory) and a transfer gate, so that the map's requests share the
// server's connections and obey its Retry-After as the tiles' do. Answers are kept for the
// session; a square that a later view no longer needs is abandoned, in flight or waiting.

#include "download/UGatorade.h"
#include "job/OverviewSquares.h"

#include <QCache>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QNetworkAccessManager;
class TransferGate;

class OverviewLoader : public QObject {
    Q_OBJECT
public:
    // Images kept, in bytes of decoded pixels; past it the least recently shown go first.
    static constexpr qint64 kCacheBytes = 256LL * 1024 * 1024;
    // The map's requests take a free transfer before a run's tiles do: they are few, and
    // someone is looking at them.
    static constexpr int kFirstPriority = -100000;
    // The largest answer taken for an image: one of 400 × 400 pixels is some tens of
    // kilobytes, and the best JPEG of it far under this. Larger ones are refused by the size
    // they declare, or as they pass it while they come, as the tiles are.
    static constexpr qint64 kMaxAnswerBytes = 2 * 1024 * 1024;

    OverviewLoader(QNetworkAccessManager* manager, TransferGate& gate, QObject* parent = nullptr);
    ~OverviewLoader() override;

    void setLimits(const FetchLimits& limits) { m_limits = limits; }
    // The request up to "&Xmin=" of the map kind on the server; what is in flight for
    // another is abandoned. Images are kept per prefix.
    void setRequestPrefix(const QString& prefix);
    QString requestPrefix() const { return m_prefix; }

    // The squares of a settled view, most wanted first: those kept come at once through
    // imageReady, the others are asked for, and what an earlier view asked for and this
    // one does not need is abandoned.
    void show(const std::vector<OverviewSquare>& squares);

    // Squares asked for and not yet in: in flight, waiting for a transfer or between
    // attempts.
    int pending() const { return static_cast<int>(m_active.size()); }
    // Fetches abandoned because no view needed them any more.
    int abandoned() const { return m_abandoned; }
    bool isKept(const OverviewSquare& square) const;

signals:
    void imageReady(const OverviewSquare& square, const QImage& image);
    void imageFailed(const OverviewSquare& square, const QString& reason);
    // A fresh answer: the bytes its tile file would take, and the time from its request
    // to the decoded image.
    void answerMeasured(const OverviewSquare& square, qint64 storedBytes, qint64 ms);

private:
    struct Fetch {
        std::unique_ptr<TileFetcher> fetcher;
        OverviewSquare square;
        QElapsedTimer sent; // since the request of the latest attempt left
    };
    QString keyOf(const OverviewSquare& square) const;
    void start(const OverviewSquare& square, int priority);
    void finished(TileFetcher* fetcher, const TileFetchResult& result);
    void abandonAll();
    template <typename Stale> void abandon(Stale stale);

    QNetworkAccessManager* m_manager;
    TransferGate& m_gate;
    FetchLimits m_limits;
    QString m_prefix;
    std::vector<Fetch> m_active;
    std::vector<std::unique_ptr<TileFetcher>> m_idle;
    QCache<QString, QImage> m_kept;
    int m_abandoned = 0;
};
