#include "download/UGatorade.h"

#include "download/JpegCodec.h"
#include "download/TransferGate.h"
#include "download/WhenFinished.h"

#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

namespace {

// The one process-wide counter: raised before every attempt of every fetch, never reset.
int32_t g_requestCounter = 0;

int32_t NextRequestNumber() {
    // Wraps instead of overflowing, should a process ever make two thousand million requests.
    g_requestCounter = static_cast<int32_t>(static_cast<uint32_t>(g_requestCounter) + 1U);
    return g_requestCounter;
}

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kReplyBufferBytes = 256 * 1024;

QString SizeReason(qint64 maxBytes) {
    if (maxBytes % kMiB == 0) {
        return QStringLiteral("respuesta de más de %1 MiB").arg(maxBytes / kMiB);
    }
    return QStringLiteral("respuesta de más de %1 bytes").arg(maxBytes);
}

QString DurationText(int ms) {
    if (ms % 1000 == 0) {
        return QStringLiteral("%1 s").arg(ms / 1000);
    }
    return QStringLiteral("%1 ms").arg(ms);
}

QString NetworkReason(const QNetworkReply* reply) {
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("conexión rechazada");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("conexión cerrada por el servidor");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("servidor no encontrado");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("sin respuesta");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("conexión segura fallida");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("error del proxy");
    default:
        return QStringLiteral("error de red: %1").arg(reply->errorString());
    }
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Statuses with which a server says it is busy and may say when to come back.
bool IsBusy(int status) {
    return status == 429 || status == 503;
}

} // namespace

int32_t CurrentRequestCounter() {
    return g_requestCounter;
}

QString NumberedRequestUrl(const QString& url, int32_t number) {
    const qsizetype p = url.indexOf(u'&') + 1; // 0 when there is none
    const QString n = QString::number(number);
    return url.left(p) + QStringLiteral("guid=") + n + QStringLiteral("&npetic=") + n +
           QLatin1Char('&') + url.mid(p);
}

int BackoffMs(int attempt, const FetchLimits& limits) {
    if (attempt < 2) {
        return 0;
    }
    int64_t wait = limits.firstBackoffMs;
    for (int k = 2; k < attempt && wait < limits.backoffCapMs; ++k) {
        wait *= 2;
    }
    return static_cast<int>(std::min<int64_t>(wait, limits.backoffCapMs));
}

std::optional<int> RetryAfterSeconds(const QByteArray& value, const QDateTime& now) {
    const QByteArray text = value.trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    bool isNumber = !text.isEmpty();
    for (const char c : text) {
        isNumber = isNumber && c >= '0' && c <= '9';
    }
    if (isNumber) {
        // Saturates: a long wait is capped by the caller anyway.
        return text.size() > 9 ? 999999999 : text.toInt();
    }
    // IMF-fixdate, the obsolete RFC 850 form, and asctime's. The weekday is left out: it
    // says nothing the date does not, and a wrong one is no reason to ignore the date.
    const QLocale c = QLocale::c();
    QString s = QString::fromLatin1(text).simplified();
    s = s.mid(s.indexOf(u' ') + 1);
    QDateTime when;
    for (const char* format :
         {"dd MMM yyyy HH:mm:ss 'GMT'", "dd-MMM-yy HH:mm:ss 'GMT'", "MMM d HH:mm:ss yyyy"}) {
        when = c.toDateTime(s, QLatin1String(format));
        if (when.isValid()) {
            break;
        }
    }
    if (!when.isValid()) {
        return std::nullopt;
    }
    when.setTimeSpec(Qt::UTC);
    if (when.date().year() < 1970) { // two-digit years of the RFC 850 form
        when = when.addYears(100);
    }
    const qint64 seconds = now.secsTo(when);
    return static_cast<int>(std::clamp<qint64>(seconds, 0, 999999999));
}

QString TileFetcher::TimeoutReason(int ms) {
    return QStringLiteral("sin respuesta en %1").arg(DurationText(ms));
}

QString TileFetcher::AttemptLimitReason(int ms) {
    return QStringLiteral("respuesta sin terminar en %1").arg(DurationText(ms));
}

TileFetcher::TileFetcher(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent), m_manager(manager) {
    qRegisterMetaType<TileFetchResult>();
    // Every attempt starts from the event loop, so windows repaint between attempts.
    m_start.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; a server's Retry-After is a promise kept.
    m_start.setTimerType(Qt::PreciseTimer);
    connect(&m_start, &QTimer::timeout, this, &TileFetcher::startAttempt);
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this,
            [this] { cut(TimeoutReason(m_limits.transferTimeoutMs)); });
    m_overall.setSingleShot(true);
    connect(&m_overall, &QTimer::timeout, this,
            [this] { cut(AttemptLimitReason(m_limits.attemptLimitMs)); });
}

TileFetcher::~TileFetcher() {
    abort();
}

void TileFetcher::FetchTile(const QString& url, const QString& tilePath, int priority) {
    if (m_busy) {
        // The fetch in progress goes on; this call still gets its one answer.
        QTimer::singleShot(0, this, [this] {
            TileFetchResult busy;
            busy.reason = QStringLiteral("ya hay una descarga en curso");
            emit finished(busy);
        });
        return;
    }
    m_busy = true;
    ++m_generation;
    m_priority = priority;
    m_url = url;
    m_tilePath = tilePath;
    m_toMemory = tilePath.isEmpty();
    m_memory.clear();
    m_answer.setTile(tilePath);
    m_attempt = 0;
    m_start.start(0);
}

void TileFetcher::FetchImage(const QString& url, int priority) {
    FetchTile(url, QString(), priority);
}

void TileFetcher::abort() {
    m_start.stop();
    m_stall.stop();
    m_overall.stop();
    dropReply();
    if (m_gate) {
        m_gate->withdraw(this);
    }
    releaseTransfer();
    if (m_cancel) {
        // The worker removes the answer itself and writes no tile once it sees this;
        // waiting for it here means nothing is left half-done when abort() returns.
        m_cancel->store(true);
        m_work.waitForFinished();
        m_cancel.reset();
    }
    if (m_busy) {
        m_answer.discard();
    }
    m_busy = false;
    ++m_generation;
}

void TileFetcher::startAttempt() {
    if (m_gate) {
        m_gate->acquire(this, m_priority, [this] { sendAttempt(); });
    } else {
        sendAttempt();
    }
}

void TileFetcher::releaseTransfer() {
    if (m_holdsTransfer) {
        m_holdsTransfer = false;
        if (m_gate) {
            m_gate->release(this);
        }
    }
}

void TileFetcher::sendAttempt() {
    m_holdsTransfer = true;
    if (!m_manager) {
        releaseTransfer();
        TileFetchResult r;
        r.reason = QStringLiteral("error de red: no hay gestor de red");
        r.attempts = m_attempt;
        complete(r);
        return;
    }
    ++m_attempt;
    const int32_t number = NextRequestNumber();
    m_redirects = 0;
    m_localError.reset();
    m_answer.discard();
    m_memory.clear();
    m_overall.start(m_limits.attemptLimitMs);
    emit attemptStarted(m_attempt);
    sendRequest(QUrl(NumberedRequestUrl(m_url, number)));
}

void TileFetcher::sendRequest(const QUrl& url) {
    m_requestUrl = url;
    QNetworkRequest request(url);
    // Redirects are followed here, one request at a time, so that an answer never mixes
    // with the body of another and a redirect from https to http is refused.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    m_received = 0;
    m_abortReason.clear();

    QNetworkReply* reply = m_manager->get(request);
    m_reply = reply;
    // Qt must not buffer a huge answer for us: this fetcher takes the bytes as they come.
    reply->setReadBufferSize(kReplyBufferBytes);
    connect(reply, &QNetworkReply::metaDataChanged, this, &TileFetcher::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &TileFetcher::onReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, [this] { m_stall.start(); });
    connect(reply, &QNetworkReply::finished, this, &TileFetcher::onReplyFinished);
    m_stall.start(m_limits.transferTimeoutMs);
}

bool TileFetcher::answerIsAccepted() const {
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.toInt();
    return status.isValid() && code >= 200 && code <= 299;
}

void TileFetcher::onMetaData() {
    m_stall.start();
    if (!m_reply || !answerIsAccepted()) {
        return;
    }
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > m_limits.maxAnswerBytes) {
        cut(SizeReason(m_limits.maxAnswerBytes));
    }
}

void TileFetcher::onReadyRead() {
    m_stall.start();
    if (m_reply && !consume(m_reply->readAll())) {
        cut(m_abortReason);
    }
}

bool TileFetcher::consume(const QByteArray& data) {
    if (data.isEmpty() || !answerIsAccepted()) {
        return true; // the body of an error answer or a redirect is not kept
    }
    m_received += data.size();
    if (m_received > m_limits.maxAnswerBytes) {
        m_abortReason = SizeReason(m_limits.maxAnswerBytes);
        return false;
    }
    if (m_toMemory) {
        m_memory += data;
        return true;
    }
    LocalWriteError error;
    if ((!m_answer.isOpen() && !m_answer.create(&error)) || !m_answer.write(data, &error)) {
        // Our side failed: asking the server again would not help.
        m_localError = error;
        m_abortReason = error.reason;
        return false;
    }
    return true;
}

void TileFetcher::cut(const QString& reason) {
    if (m_abortReason.isEmpty()) {
        m_abortReason = reason;
    }
    if (m_reply) {
        m_reply->abort(); // finished follows, and with it onReplyFinished
        return;
    }
    // The reply went away without finishing (its manager was deleted).
    m_stall.stop();
    m_overall.stop();
    releaseTransfer();
    attemptFailed(m_abortReason, 0);
}

QString TileFetcher::attemptOutcome(QNetworkReply* reply) const {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        return QStringLiteral("HTTP %1").arg(status.toInt());
    }
    if (reply->error() != QNetworkReply::NoError) {
        return NetworkReason(reply);
    }
    if (!status.isValid()) {
        return QStringLiteral("respuesta sin estado HTTP");
    }
    return {};
}

bool TileFetcher::followRedirect(QString* reason) {
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray location = m_reply->rawHeader("Location");
    if (!IsRedirect(status) || location.isEmpty() || !m_abortReason.isEmpty()) {
        return false;
    }
    const QUrl target = m_requestUrl.resolved(QUrl::fromEncoded(location));
    if (++m_redirects > m_limits.maxRedirects) {
        *reason = QStringLiteral("demasiadas redirecciones");
        return false;
    }
    const QString scheme = target.scheme().toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        (m_requestUrl.scheme().toLower() == QLatin1String("https") &&
         scheme == QLatin1String("http"))) {
        *reason = QStringLiteral("redirección insegura");
        return false;
    }
    dropReply();
    m_answer.discard();
    m_memory.clear();
    sendRequest(target);
    return true;
}

void TileFetcher::onReplyFinished() {
    if (!m_reply) {
        return;
    }
    m_stall.stop();
    if (m_abortReason.isEmpty() && m_reply->error() == QNetworkReply::NoError &&
        !consume(m_reply->readAll())) {
        // m_abortReason now says why.
    }
    if (m_localError) {
        dropReply();
        m_overall.stop();
        releaseTransfer();
        m_answer.discard();
        TileFetchResult r;
        r.reason = m_localError->reason;
        r.localWriteFailed = true;
        r.folderUnwritable = m_localError->folderUnwritable;
        r.attempts = m_attempt;
        complete(r);
        return;
    }
    QString reason = m_abortReason;
    if (reason.isEmpty() && followRedirect(&reason)) {
        return;
    }
    if (reason.isEmpty()) {
        reason = attemptOutcome(m_reply);
    }
    int serverSeconds = 0;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (IsBusy(status)) {
        serverSeconds =
            RetryAfterSeconds(m_reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc())
                .value_or(0);
        serverSeconds = std::min(serverSeconds, m_limits.retryAfterCapSeconds);
        if (m_gate && serverSeconds > 0) {
            // The server is busy for everyone who asks it, not only for this tile: no
            // request of the gate leaves before the time it asked for, not even the one
            // that takes the transfer given back below.
            m_gate->pauseUntil(QDeadlineTimer(
                qint64{serverSeconds} * m_limits.msPerRetryAfterSecond, Qt::PreciseTimer));
        }
    }
    dropReply();
    m_overall.stop();
    // The answer is in: the next request may leave while this one is decoded.
    releaseTransfer();
    if (!reason.isEmpty()) {
        attemptFailed(reason, serverSeconds);
    } else if (m_received == 0) {
        // An empty answer is a failed attempt, as any other answer that is no tile.
        attemptFailed(JpegErrorReason(JpegError::Empty), 0);
    } else {
        startImageWork();
    }
}

void TileFetcher::attemptFailed(const QString& reason, int serverSeconds) {
    m_answer.discard();
    m_memory.clear();
    if (m_attempt >= FetchLimits::kAttempts) {
        TileFetchResult r;
        r.reason = reason;
        r.attempts = m_attempt;
        complete(r);
        return;
    }
    const int backoff = BackoffMs(m_attempt + 1, m_limits);
    const int wait = std::max(backoff, serverSeconds * m_limits.msPerRetryAfterSecond);
    emit waitingToRetry(wait, serverSeconds, m_attempt + 1, reason);
    if (m_busy) { // a receiver may have aborted
        // With a gate, its pause holds this attempt back until the server's time has passed;
        // waiting in the gate meanwhile, it leaves before the tiles after it.
        m_start.start(m_gate && serverSeconds > 0 ? backoff : wait);
    }
}

void TileFetcher::startImageWork() {
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    const quint64 generation = m_generation;
    if (m_toMemory) {
        m_work = QtConcurrent::run(ImageWorkPool(),
                                   [answer = std::exchange(m_memory, {}), cancel = m_cancel] {
                                       return ProcessImageAnswer(answer, cancel.get());
                                   });
    } else {
        // The worker reads the answer through the descriptor that wrote it and closes it.
        m_work =
            QtConcurrent::run(ImageWorkPool(), [fd = m_answer.release(), answer = m_answer.path(),
                                                tile = m_tilePath, cancel = m_cancel] {
                return ProcessTileAnswer(fd, answer, tile, cancel.get());
            });
    }
    WhenFinished(this, m_work, [this, generation](const TileImageResult& result) {
        if (generation == m_generation && m_busy) {
            imageWorkDone(result);
        }
    });
}

void TileFetcher::imageWorkDone(const TileImageResult& result) {
    m_cancel.reset();
    // The future would keep its copy of the decoded tile for as long as this fetcher idles.
    m_work = QFuture<TileImageResult>();
    if (result.failure == TileImageFailure::WrongSize ||
        result.failure == TileImageFailure::BadAnswer) {
        // What the server sent is no tile: an overloaded server's error page, an answer cut
        // short. Asked again, as a wrong size is.
        attemptFailed(result.reason, 0);
        return;
    }
    TileFetchResult r;
    r.ok = result.ok();
    r.reason = result.reason;
    r.image = result.image;
    r.thumbnail = result.thumbnail;
    r.stamp = result.stamp;
    r.localWriteFailed = result.failure == TileImageFailure::LocalWrite;
    r.folderUnwritable = result.folderUnwritable;
    r.attempts = m_attempt;
    r.decodeNs = result.decodeNs;
    r.encodeNs = result.encodeNs;
    r.writeNs = result.writeNs;
    r.storedBytes = result.storedBytes;
    complete(r);
}

void TileFetcher::complete(TileFetchResult result) {
    releaseTransfer();
    m_start.stop();
    m_stall.stop();
    m_overall.stop();
    m_busy = false;
    // Last statement: the receiver may start the next fetch, or delete this fetcher.
    emit finished(result);
}

void TileFetcher::dropReply() {
    if (!m_reply) {
        return;
    }
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (!reply->isFinished()) {
        reply->abort();
    }
    reply->deleteLater();
}
