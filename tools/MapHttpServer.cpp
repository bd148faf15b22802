#include "tools/MapHttpServer.h"

#include <QMetaObject>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

// A request head larger than this is refused; real clients send a few hundred bytes.
constexpr qsizetype kMaxHeadBytes = 64 * 1024;
constexpr int kMaxImageSide = 4000;

bool ParseInt(const QByteArray& text, int* value) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (ok) {
        *value = v;
    }
    return ok;
}

bool ParseDouble(const QByteArray& text, double* value) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (ok) {
        *value = v;
    }
    return ok;
}

// The digits before the decimal point of a coordinate as sent ("585000.38" -> 585000).
bool ParseIntegerPart(const QByteArray& text, int* value) {
    const qsizetype dot = text.indexOf('.');
    return ParseInt(dot < 0 ? text : text.left(dot), value);
}

} // namespace

QByteArray HttpRequest::path() const {
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray HttpRequest::header(const QByteArray& lowerCaseName) const {
    for (const auto& h : headers) {
        if (h.first == lowerCaseName) {
            return h.second;
        }
    }
    return {};
}

QByteArray HttpReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

MapTileQuery ParseMapTileQuery(const QByteArray& target) {
    MapTileQuery q;
    const qsizetype mark = target.indexOf('?');
    if (mark < 0 || target.left(mark) != kMapRequestPath) {
        return q;
    }
    bool haveTipo = false;
    bool haveXmin = false;
    bool haveYmin = false;
    bool haveXmax = false;
    bool haveYmax = false;
    const QList<QByteArray> pairs = target.mid(mark + 1).split('&');
    for (const QByteArray& pair : pairs) {
        const qsizetype eq = pair.indexOf('=');
        if (eq < 0) {
            continue;
        }
        const QByteArray key = pair.left(eq);
        const QByteArray value = pair.mid(eq + 1);
        if (key == "TIPO") {
            haveTipo = ParseInt(value, &q.tipo);
        } else if (key == "guid") {
            ParseInt(value, &q.guid);
        } else if (key == "npetic") {
            ParseInt(value, &q.npetic);
        } else if (key == "Xmin") {
            haveXmin = ParseDouble(value, &q.xmin);
            ParseIntegerPart(value, &q.xminKey);
        } else if (key == "Ymin") {
            haveYmin = ParseDouble(value, &q.ymin);
            ParseIntegerPart(value, &q.yminKey);
        } else if (key == "Xmax") {
            haveXmax = ParseDouble(value, &q.xmax);
        } else if (key == "Ymax") {
            haveYmax = ParseDouble(value, &q.ymax);
        } else if (key == "PixAncho") {
            ParseInt(value, &q.pixWidth);
        } else if (key == "PixAlto") {
            ParseInt(value, &q.pixHeight);
        }
    }
    if (q.pixWidth < 1 || q.pixWidth > kMaxImageSide) {
        q.pixWidth = 400;
    }
    if (q.pixHeight < 1 || q.pixHeight > kMaxImageSide) {
        q.pixHeight = 400;
    }
    q.valid = haveTipo && haveXmin && haveYmin && haveXmax && haveYmax;
    return q;
}

HttpConnection::HttpConnection(QTcpSocket* socket, std::shared_ptr<ServerLoad> load,
                               QObject* parent)
    : QObject(parent), m_socket(socket), m_load(std::move(load)) {
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

HttpConnection::~HttpConnection() {
    if (m_busy) {
        m_load->end(); // dropped without an answer
    }
}

void HttpConnection::onReadyRead() {
    if (!m_socket) {
        return;
    }
    m_buffer += m_socket->readAll();
    processBuffer();
}

void HttpConnection::processBuffer() {
    if (m_busy || !m_socket) {
        return;
    }
    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_buffer.size() > kMaxHeadBytes) {
            m_closeAfter = true;
            m_busy = true;
            m_load->begin();
            respond(431, "text/plain", "request head too large\n");
        }
        return;
    }
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    HttpRequest request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    request.version = first.value(2);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) {
            request.headers.append(
                {lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
        }
    }
    // A request body, if any, is skipped once it has fully arrived.
    const qsizetype bodyLength = request.header("content-length").toLongLong();
    if (m_buffer.size() < end + 4 + bodyLength) {
        return;
    }
    m_buffer.remove(0, end + 4 + bodyLength);

    m_closeAfter =
        request.version != "HTTP/1.1" || request.header("connection").toLower().contains("close");
    m_busy = true;
    m_load->begin();
    if (request.method != "GET") {
        m_closeAfter = true;
        respond(400, "text/plain", "only GET is served\n");
        return;
    }
    emit requestReceived(this, request);
}

QByteArray HttpConnection::statusAndHeaders(int status, const QByteArray& contentType,
                                            qint64 length, const Headers& extra) const {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + HttpReasonPhrase(status) +
                      "\r\nContent-Type: " + contentType + "\r\n";
    if (length >= 0) {
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    if (m_closeAfter) {
        head += "Connection: close\r\n";
    }
    for (const auto& h : extra) {
        head += h.first + ": " + h.second + "\r\n";
    }
    return head + "\r\n";
}

void HttpConnection::respond(int status, const QByteArray& contentType, const QByteArray& body,
                             const Headers& extra) {
    if (!m_socket) {
        return;
    }
    m_socket->write(statusAndHeaders(status, contentType, body.size(), extra) + body);
    finishResponse();
}

void HttpConnection::respondSlowly(int status, const QByteArray& contentType,
                                   const QByteArray& body, int pieces, int delayMs) {
    if (!m_socket) {
        return;
    }
    // The first piece goes out with the headers, the others after a pause each.
    pieces = qMax(1, pieces);
    const qsizetype size = (body.size() + pieces - 1) / pieces;
    m_socket->write(statusAndHeaders(status, contentType, body.size(), {}) + body.left(size));
    if (pieces == 1) {
        finishResponse();
    } else {
        sendPiece(body.mid(size), pieces - 1, delayMs);
    }
}

void HttpConnection::sendPiece(QByteArray rest, int piecesLeft, int delayMs) {
    QTimer::singleShot(delayMs, this, [this, rest, piecesLeft, delayMs] {
        if (!m_socket) {
            return;
        }
        const qsizetype size = (rest.size() + piecesLeft - 1) / piecesLeft;
        m_socket->write(rest.left(size));
        if (piecesLeft <= 1) {
            finishResponse();
        } else {
            sendPiece(rest.mid(size), piecesLeft - 1, delayMs);
        }
    });
}

void HttpConnection::respondUnsized(int status, const QByteArray& contentType,
                                    const QByteArray& body) {
    if (!m_socket) {
        return;
    }
    m_closeAfter = true;
    m_socket->write(statusAndHeaders(status, contentType, -1, {}) + body);
    finishResponse();
}

void HttpConnection::stall() {
    // Nothing is sent; m_busy stays set so that nothing else is answered here either.
}

void HttpConnection::reset() {
    if (!m_socket) {
        return;
    }
#ifdef Q_OS_UNIX
    // A zero linger time turns the close into a reset instead of an orderly end.
    const linger hard{1, 0};
    ::setsockopt(static_cast<int>(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                 sizeof hard);
#endif
    m_socket->abort();
    deleteLater();
}

void HttpConnection::finishResponse() {
    if (m_busy) {
        m_load->end();
    }
    m_busy = false;
    if (!m_socket) {
        return;
    }
    if (m_closeAfter) {
        m_socket->disconnectFromHost();
        return;
    }
    // Further requests on this connection are read on the next turn of the event loop.
    QMetaObject::invokeMethod(this, &HttpConnection::processBuffer, Qt::QueuedConnection);
}

MapHttpServer::MapHttpServer(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {}

void MapHttpServer::setTlsConfiguration(const QSslConfiguration& tls) {
    m_tls = tls;
}

bool MapHttpServer::listen(const QHostAddress& address, quint16 port) {
    if (!m_server) {
        if (m_tls) {
            auto* tlsServer = new QSslServer(this);
            tlsServer->setSslConfiguration(*m_tls);
            m_server = tlsServer;
        } else {
            m_server = new QTcpServer(this);
        }
        // Emitted once a connection is ready, which for https means after the handshake.
        connect(m_server, &QTcpServer::pendingConnectionAvailable, this,
                &MapHttpServer::onNewConnection);
    }
    return m_server->listen(address, port);
}

quint16 MapHttpServer::port() const {
    return m_server ? m_server->serverPort() : 0;
}

QString MapHttpServer::errorString() const {
    return m_server ? m_server->errorString() : QString();
}

void MapHttpServer::setThrottle(int everyNth, int retryAfterSeconds) {
    m_throttleEvery = qMax(0, everyNth);
    m_throttleSeconds = qMax(0, retryAfterSeconds);
}

void MapHttpServer::onNewConnection() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto* connection = new HttpConnection(socket, m_load, this);
        connect(connection, &HttpConnection::requestReceived, this,
                [this](HttpConnection* c, const HttpRequest& r) {
                    if (m_observer) {
                        m_observer(r);
                    }
                    if (m_latencyMs == 0) {
                        dispatch(*c, r);
                        return;
                    }
                    QTimer::singleShot(m_latencyMs, c, [this, c, r] { dispatch(*c, r); });
                });
    }
}

void MapHttpServer::dispatch(HttpConnection& connection, const HttpRequest& request) {
    ++m_requestCount;
    if (m_throttleEvery > 0 && m_requestCount % m_throttleEvery == 0) {
        connection.respond(429, "text/plain", "too many requests\n",
                           {{"Retry-After", QByteArray::number(m_throttleSeconds)}});
        return;
    }
    m_handler(connection, request);
}
