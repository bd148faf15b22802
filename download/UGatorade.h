#pragma once

// The tile fetcher: one request URL in, one tile file out. Each attempt is an asynchronous
// GET on the caller's QNetworkAccessManager; the answer goes into a temporary file beside
// the tile, and the image work (decode, re-encode, write, decode for the preview) runs on
// a worker thread. The outcome arrives through `finished`.

#include "download/TileFiles.h"
#include "download/TileImage.h"

#include <QDateTime>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class TransferGate;

// Process-wide request counter, read-only view for tests/bench.
int32_t CurrentRequestCounter();

// The URL of one attempt: the request number inserted right after the first "&" as
// "guid=n&npetic=n&" (in front of the whole URL when it has no "&").
QString NumberedRequestUrl(const QString& url, int32_t number);

// The time limits of a fetch. Tests shorten them.
struct FetchLimits {
    static constexpr int kAttempts = 10;
    int transferTimeoutMs = 30000;  // an attempt without progress for this long fails
    int attemptLimitMs = 120000;    // and so does one that takes longer than this in all
    int firstBackoffMs = 200;       // the wait before the second attempt, doubled after
    int backoffCapMs = 5000;        // each further one up to this
    int retryAfterCapSeconds = 120; // longest wait a server's Retry-After is granted
    int msPerRetryAfterSecond = 1000;
    qint64 maxAnswerBytes = 16 * 1024 * 1024; // a tile is tens of kilobytes
    int maxRedirects = 5;
};

// The wait before attempt `attempt` (2 and more): 200 ms, 400 ms, ... up to 5 s.
int BackoffMs(int attempt, const FetchLimits& limits = {});

// The seconds a Retry-After value asks to wait: a number of seconds, or an HTTP date
// (of the three forms HTTP allows) counted from `now`; nothing when it is neither.
std::optional<int> RetryAfterSeconds(const QByteArray& value, const QDateTime& now);

// How one fetch ended.
struct TileFetchResult {
    bool ok = false;
    QString reason;   // why it failed, in a few Spanish words
    QImage image;     // the tile as written, decoded
    QImage thumbnail; // the same scaled down for the windows (not for a fetch into memory)
    TileStamp stamp;  // of the tile file as written
    // Failed on our side: the answer or the tile could not be written. Not retried.
    bool localWriteFailed = false;
    // With it: the folder takes no file at all (no permission, disk full).
    bool folderUnwritable = false;
    int attempts = 0;
    qint64 decodeNs = 0;
    qint64 encodeNs = 0;
    qint64 writeNs = 0;
    qint64 storedBytes = 0; // the tile file's size (fetched into memory: what it would be)
};
Q_DECLARE_METATYPE(TileFetchResult)

class TileFetcher : public QObject {
    Q_OBJECT
public:
    explicit TileFetcher(QNetworkAccessManager* manager, QObject* parent = nullptr);
    ~TileFetcher() override;

    void setLimits(const FetchLimits& limits) { m_limits = limits; }
    // Each request waits for a transfer of this gate and gives it back when its answer is
    // in, and a busy answer with Retry-After pauses the gate for every requester sharing it;
    // without one, requests leave at once.
    void setGate(TransferGate* gate) { m_gate = gate; }

    // Starts one fetch; emits finished() exactly once per call unless abort() is called.
    // With a gate, `priority` orders it among the fetches waiting for a transfer.
    void FetchTile(const QString& url, const QString& tilePath, int priority = 0);
    // The same fetch into memory, for an image that is only shown: the answer must be a
    // whole tile and is decoded, nothing is written, and `finished` carries the image.
    void FetchImage(const QString& url, int priority = 0);
    // Aborts the attempt in flight or the wait for the next one, waits for the image work
    // of the answer if it is under way, and leaves no temporary file; no signal follows.
    void abort();
    bool isBusy() const { return m_busy; }

    // The reason given when an attempt saw no progress for `ms` milliseconds.
    static QString TimeoutReason(int ms);
    // The reason given when an attempt took longer than `ms` milliseconds in all.
    static QString AttemptLimitReason(int ms);

signals:
    void finished(const TileFetchResult& result);
    // Attempt `nextAttempt` follows after `waitMs`; `serverSeconds` is what the server
    // asked for with Retry-After (0 when it did not), `reason` why the last one failed.
    void waitingToRetry(int waitMs, int serverSeconds, int nextAttempt, const QString& reason);
    void attemptStarted(int attempt);

private:
    void startAttempt();
    void sendAttempt();
    void releaseTransfer();
    void sendRequest(const QUrl& url);
    void onMetaData();
    void onReadyRead();
    void onReplyFinished();
    // Keeps a piece of the answer; false when it must stop (reason set).
    bool consume(const QByteArray& data);
    void cut(const QString& reason);
    QString attemptOutcome(QNetworkReply* reply) const;
    bool answerIsAccepted() const;
    bool followRedirect(QString* reason);
    void attemptFailed(const QString& reason, int serverSeconds);
    void startImageWork();
    void imageWorkDone(const TileImageResult& result);
    void complete(TileFetchResult result);
    void dropReply();

    QPointer<QNetworkAccessManager> m_manager;
    FetchLimits m_limits;
    TransferGate* m_gate = nullptr;
    int m_priority = 0;
    bool m_holdsTransfer = false;

    // The fetch in progress.
    bool m_busy = false;
    quint64 m_generation = 0; // tells a late answer of an abandoned fetch from the current one
    QString m_url;
    QString m_tilePath;
    bool m_toMemory = false;
    QByteArray m_memory; // the answer of a fetch into memory
    int m_attempt = 0;

    // The attempt in progress.
    QPointer<QNetworkReply> m_reply;
    QUrl m_requestUrl;
    int m_redirects = 0;
    AnswerFile m_answer;
    qint64 m_received = 0;
    QString m_abortReason; // set when the fetcher itself cut the attempt short
    std::optional<LocalWriteError> m_localError;

    QTimer m_start;   // the next attempt: at once from the event loop, or after a wait
    QTimer m_stall;   // no progress
    QTimer m_overall; // the whole attempt
    QFuture<TileImageResult> m_work;
    std::shared_ptr<std::atomic<bool>> m_cancel;
};
