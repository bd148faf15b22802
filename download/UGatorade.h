#pragma once

// The tile fetcher: one request URL in, one tile file out. Each attempt is an asynchronous
// GET on the caller's QNetworkAccessManager; the outcome arrives through `finished`.

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>

class JpegEncoder;
class QNetworkAccessManager;
class QNetworkReply;

// Process-wide request counter, read-only view for tests/bench.
int32_t CurrentRequestCounter();

// The URL of one attempt: the request number inserted right after the first "&" as
// "guid=n&npetic=n&" (in front of the whole URL when it has no "&").
QString NumberedRequestUrl(const QString& url, int32_t number);

// Where the time of the latest successful fetch went after its download, in nanoseconds.
struct FetchTimings {
    qint64 decodeNs = 0;
    qint64 encodeNs = 0;
    qint64 writeNs = 0;
};

class TileFetcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kTransferTimeoutMs = 30000; // 30 s without progress
    static constexpr int kMaxAttempts = 10;
    static constexpr int kMaxRedirects = 5;
    // A tile is tens of kilobytes; anything past this is not a tile and is not kept.
    static constexpr qint64 kMaxAnswerBytes = 16 * 1024 * 1024;
    static constexpr int kTileQuality = 70;

    explicit TileFetcher(QNetworkAccessManager* manager, QObject* parent = nullptr);
    ~TileFetcher() override;

    void setTransferTimeout(int ms); // tests shorten it
    void setMaxAnswerBytes(qint64 bytes);

    // Starts one fetch; emits finished() exactly once per call unless abort() is called.
    void FetchTile(const QString& url, const QString& tilePath, JpegEncoder& encoder);
    void abort(); // aborts the attempt in flight, removes its temporary file, no signal
    bool isBusy() const;

    FetchTimings lastTimings() const { return m_timings; }

    // The reason given when an attempt saw no progress for `ms` milliseconds.
    static QString TimeoutReason(int ms);

signals:
    void finished(bool ok, const QString& reason); // reason empty on success

private:
    enum class Step { Attempt, Decode };

    void yieldThen(Step step);
    void runStep();
    void startAttempt();
    void onMetaData();
    void onReadyRead();
    void onReplyFinished();
    void onStalled();
    // Keeps a piece of the answer; returns why the attempt must stop, or nothing.
    QString consume(const QByteArray& data);
    void cut(const QString& reason);
    QString attemptOutcome(QNetworkReply* reply) const;
    bool answerIsAccepted() const;
    void attemptFailed(const QString& reason);
    void decodeAndWrite();
    void complete(bool ok, const QString& reason);
    void dropReply();

    QPointer<QNetworkAccessManager> m_manager;
    int m_transferTimeoutMs = kTransferTimeoutMs;
    qint64 m_maxAnswerBytes = kMaxAnswerBytes;

    // The fetch in progress.
    bool m_busy = false;
    QString m_url;
    QString m_tilePath;
    QString m_tempPath;
    JpegEncoder* m_encoder = nullptr;
    int m_attempt = 0;

    // The attempt in progress.
    QPointer<QNetworkReply> m_reply;
    QFile m_temp;
    qint64 m_received = 0;
    QString m_abortReason; // set when the fetcher itself cut the attempt short

    QTimer m_yield;
    Step m_next = Step::Attempt;
    QTimer m_stall;
    FetchTimings m_timings;
};
