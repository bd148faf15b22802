#include "download/UGatorade.h"

#include "download/JpegCodec.h"

#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>

namespace {

// The one process-wide counter: raised before every attempt of every fetch, never reset.
int32_t g_requestCounter = 0;

int32_t NextRequestNumber() {
    // Wraps instead of overflowing, should a process ever make two thousand million requests.
    g_requestCounter = static_cast<int32_t>(static_cast<uint32_t>(g_requestCounter) + 1U);
    return g_requestCounter;
}

// A missing file is no error here.
void RemoveFile(const QString& path) {
    QFile::remove(path);
}

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kReplyBufferBytes = 256 * 1024;

QString SizeReason(qint64 maxBytes) {
    if (maxBytes % kMiB == 0) {
        return QStringLiteral("respuesta de más de %1 MiB").arg(maxBytes / kMiB);
    }
    return QStringLiteral("respuesta de más de %1 bytes").arg(maxBytes);
}

QString TempWriteReason() {
    return QStringLiteral("no se pudo escribir el fichero temporal");
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
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("demasiadas redirecciones");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("redirección insegura");
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

QString TileFetcher::TimeoutReason(int ms) {
    if (ms % 1000 == 0) {
        return QStringLiteral("sin respuesta en %1 s").arg(ms / 1000);
    }
    return QStringLiteral("sin respuesta en %1 ms").arg(ms);
}

TileFetcher::TileFetcher(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent), m_manager(manager) {
    // Every step starts from the event loop, so windows repaint between attempts.
    m_yield.setSingleShot(true);
    m_yield.setInterval(0);
    connect(&m_yield, &QTimer::timeout, this, &TileFetcher::runStep);
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, &TileFetcher::onStalled);
}

TileFetcher::~TileFetcher() {
    abort();
}

void TileFetcher::setTransferTimeout(int ms) {
    m_transferTimeoutMs = qMax(1, ms);
}

void TileFetcher::setMaxAnswerBytes(qint64 bytes) {
    m_maxAnswerBytes = qMax<qint64>(1, bytes);
}

bool TileFetcher::isBusy() const {
    return m_busy;
}

void TileFetcher::FetchTile(const QString& url, const QString& tilePath, JpegEncoder& encoder) {
    if (m_busy) {
        // The fetch in progress goes on; this call still gets its one answer.
        QTimer::singleShot(0, this, [this] {
            emit finished(false, QStringLiteral("ya hay una descarga en curso"));
        });
        return;
    }
    m_busy = true;
    m_url = url;
    m_tilePath = tilePath;
    m_tempPath = tilePath + QLatin1Char('1');
    m_encoder = &encoder;
    m_attempt = 0;
    m_timings = FetchTimings{};
    yieldThen(Step::Attempt);
}

void TileFetcher::abort() {
    m_yield.stop();
    m_stall.stop();
    dropReply();
    if (m_temp.isOpen()) {
        m_temp.close();
    }
    if (m_busy) {
        RemoveFile(m_tempPath);
    }
    m_busy = false;
    m_encoder = nullptr;
}

void TileFetcher::yieldThen(Step step) {
    m_next = step;
    m_yield.start();
}

void TileFetcher::runStep() {
    switch (m_next) {
    case Step::Attempt:
        startAttempt();
        break;
    case Step::Decode:
        decodeAndWrite();
        break;
    }
}

void TileFetcher::startAttempt() {
    if (!m_manager) {
        complete(false, QStringLiteral("error de red: no hay gestor de red"));
        return;
    }
    ++m_attempt;
    const int32_t number = NextRequestNumber();
    QNetworkRequest request(QUrl(NumberedRequestUrl(m_url, number)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    m_received = 0;
    m_abortReason.clear();
    RemoveFile(m_tempPath);

    QNetworkReply* reply = m_manager->get(request);
    m_reply = reply;
    // Qt must not buffer a huge answer for us: this fetcher takes the bytes as they come.
    reply->setReadBufferSize(kReplyBufferBytes);
    connect(reply, &QNetworkReply::metaDataChanged, this, &TileFetcher::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &TileFetcher::onReadyRead);
    connect(reply, &QNetworkReply::redirected, this, [this] { m_stall.start(); });
    connect(reply, &QNetworkReply::downloadProgress, this, [this] { m_stall.start(); });
    connect(reply, &QNetworkReply::finished, this, &TileFetcher::onReplyFinished);
    m_stall.start(m_transferTimeoutMs);
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
    if (length.isValid() && length.toLongLong() > m_maxAnswerBytes) {
        cut(SizeReason(m_maxAnswerBytes));
    }
}

void TileFetcher::onReadyRead() {
    m_stall.start();
    if (!m_reply) {
        return;
    }
    const QString reason = consume(m_reply->readAll());
    if (!reason.isEmpty()) {
        cut(reason);
    }
}

QString TileFetcher::consume(const QByteArray& data) {
    if (data.isEmpty() || !answerIsAccepted()) {
        return {}; // the body of an error answer is not kept
    }
    m_received += data.size();
    if (m_received > m_maxAnswerBytes) {
        return SizeReason(m_maxAnswerBytes);
    }
    if (!m_temp.isOpen()) {
        m_temp.setFileName(m_tempPath);
        if (!m_temp.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return TempWriteReason();
        }
    }
    if (m_temp.write(data) != data.size()) {
        return TempWriteReason();
    }
    return {};
}

void TileFetcher::cut(const QString& reason) {
    m_abortReason = reason;
    if (m_reply) {
        m_reply->abort(); // finished follows, and with it onReplyFinished
    }
}

void TileFetcher::onStalled() {
    if (m_reply) {
        cut(TimeoutReason(m_transferTimeoutMs));
    } else {
        // The reply went away without finishing (its manager was deleted).
        attemptFailed(TimeoutReason(m_transferTimeoutMs));
    }
}

QString TileFetcher::attemptOutcome(QNetworkReply* reply) const {
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::TooManyRedirectsError ||
        error == QNetworkReply::InsecureRedirectError) {
        return NetworkReason(reply);
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        return QStringLiteral("HTTP %1").arg(status.toInt());
    }
    if (error != QNetworkReply::NoError) {
        return NetworkReason(reply);
    }
    if (!status.isValid()) {
        return QStringLiteral("respuesta sin estado HTTP");
    }
    return {};
}

void TileFetcher::onReplyFinished() {
    if (!m_reply) {
        return;
    }
    m_stall.stop();
    QString reason = m_abortReason;
    if (reason.isEmpty() && m_reply->error() == QNetworkReply::NoError) {
        reason = consume(m_reply->readAll());
    }
    if (m_temp.isOpen()) {
        if (!m_temp.flush() && reason.isEmpty()) {
            reason = TempWriteReason();
        }
        m_temp.close();
    }
    if (reason.isEmpty()) {
        reason = attemptOutcome(m_reply);
    }
    if (reason.isEmpty() && !QFile::exists(m_tempPath)) {
        // An empty answer is still a downloaded file, and decoding it tells what it is.
        QFile empty(m_tempPath);
        if (!empty.open(QIODevice::WriteOnly)) {
            reason = TempWriteReason();
        }
    }
    dropReply();
    if (reason.isEmpty()) {
        yieldThen(Step::Decode);
    } else {
        attemptFailed(reason);
    }
}

void TileFetcher::attemptFailed(const QString& reason) {
    if (m_attempt < kMaxAttempts) {
        yieldThen(Step::Attempt); // no pause: the next attempt follows at once
        return;
    }
    RemoveFile(m_tempPath);
    complete(false, reason);
}

void TileFetcher::decodeAndWrite() {
    QFile downloaded(m_tempPath);
    if (!downloaded.open(QIODevice::ReadOnly)) {
        complete(false, QStringLiteral("no se pudo leer el fichero descargado"));
        return;
    }
    const QByteArray data = downloaded.readAll();
    downloaded.close();

    QElapsedTimer clock;
    clock.start();
    QImage picture;
    QString detail;
    JpegError kind = JpegError::None;
    const bool decoded = DecodeJpeg(data, &picture, &detail, &kind);
    m_timings.decodeNs = clock.nsecsElapsed();
    // An answer that is no JPEG at all stays on disk, where the user can look at it.
    if (kind != JpegError::NotJpeg) {
        RemoveFile(m_tempPath);
    }
    if (!decoded) {
        complete(false, JpegErrorReason(kind));
        return;
    }

    clock.restart();
    QByteArray encoded;
    if (!m_encoder->encode(picture, kTileQuality, &encoded, &detail)) {
        complete(false, QStringLiteral("no se pudo codificar la imagen"));
        return;
    }
    m_timings.encodeNs = clock.nsecsElapsed();

    clock.restart();
    QSaveFile tile(m_tilePath);
    if (!tile.open(QIODevice::WriteOnly) || tile.write(encoded) != encoded.size() ||
        !tile.commit()) {
        complete(false, QStringLiteral("no se pudo escribir el fichero"));
        return;
    }
    m_timings.writeNs = clock.nsecsElapsed();
    complete(true, QString());
}

void TileFetcher::complete(bool ok, const QString& reason) {
    m_yield.stop();
    m_stall.stop();
    m_busy = false;
    m_encoder = nullptr;
    // Last statement: the receiver may start the next fetch, or delete this fetcher.
    emit finished(ok, reason);
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
