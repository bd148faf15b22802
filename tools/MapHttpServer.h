#pragma once

// A very small HTTP/1.1 server for the map endpoint, shared by the demo map server and
// the tests' map server. It is meant for loopback use only: it parses GET requests,
// keeps connections alive, and lets its handler answer at once, slowly, never, or by
// resetting the connection.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTcpServer;
class QTcpSocket;

// The path of the map request, before its query.
inline constexpr char kMapRequestPath[] = "/navegar/asp/mime.aspx";

struct HttpRequest {
    QByteArray method;
    QByteArray target; // path and query exactly as sent
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case

    QByteArray path() const;
    QByteArray header(const QByteArray& lowerCaseName) const;
};

// The parameters of a map request, as far as they could be read.
struct MapTileQuery {
    bool valid = false; // the map path with numeric TIPO, Xmin, Ymin, Xmax and Ymax
    int tipo = -1;
    int guid = -1;
    int npetic = -1;
    double xmin = 0;
    double ymin = 0;
    double xmax = 0;
    double ymax = 0;
    // The integer parts of Xmin and Ymin as sent, which name a tile (0 when they are not
    // plain integers).
    int xminKey = 0;
    int yminKey = 0;
    int pixWidth = 400;
    int pixHeight = 400;
};

// Reads a request target such as "/navegar/asp/mime.aspx?TIPO=6&guid=1&...". Image sizes
// outside 1..4000 are taken as 400.
MapTileQuery ParseMapTileQuery(const QByteArray& target);

// How many requests a server has received and not yet answered, now and at most.
struct ServerLoad {
    int inFlight = 0;
    int maxInFlight = 0;
    void begin() { maxInFlight = qMax(maxInFlight, ++inFlight); }
    void end() { --inFlight; }
};

// One client connection. The handler answers each request exactly once through one of
// the answering calls; requests that arrive on the same connection meanwhile wait.
class HttpConnection : public QObject {
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    HttpConnection(QTcpSocket* socket, std::shared_ptr<ServerLoad> load, QObject* parent);
    ~HttpConnection() override;

    void respond(int status, const QByteArray& contentType, const QByteArray& body,
                 const Headers& extra = {});
    // Sends the headers with the first of `pieces` parts of the body, then the others
    // `delayMs` apart.
    void respondSlowly(int status, const QByteArray& contentType, const QByteArray& body,
                       int pieces, int delayMs);
    // No Content-Length: the body ends when the connection is closed.
    void respondUnsized(int status, const QByteArray& contentType, const QByteArray& body);
    // Never answers; the connection stays open until the client gives up.
    void stall();
    // Drops the connection with a TCP reset.
    void reset();

signals:
    void requestReceived(HttpConnection* connection, const HttpRequest& request);

private:
    void onReadyRead();
    void processBuffer();
    void finishResponse();
    void sendPiece(QByteArray rest, int piecesLeft, int delayMs);
    QByteArray statusAndHeaders(int status, const QByteArray& contentType, qint64 length,
                                const Headers& extra) const;

    QPointer<QTcpSocket> m_socket;
    std::shared_ptr<ServerLoad> m_load;
    QByteArray m_buffer;
    bool m_busy = false;       // a request is waiting for its answer
    bool m_closeAfter = false; // the client asked to close, or spoke HTTP/1.0
};

class MapHttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(HttpConnection& connection, const HttpRequest& request)>;
    using Observer = std::function<void(const HttpRequest& request)>;

    explicit MapHttpServer(Handler handler, QObject* parent = nullptr);

    // Sees every request as it arrives, before any latency or throttling.
    void setObserver(Observer observer) { m_observer = std::move(observer); }
    // Every answer leaves this many milliseconds after its request arrived, as from a
    // distant server.
    void setLatency(int ms) { m_latencyMs = qMax(0, ms); }
    // Every n-th request (0: none) gets 429 with "Retry-After: <seconds>" instead of its
    // map, as from a busy server that throttles its clients.
    void setThrottle(int everyNth, int retryAfterSeconds = 1);
    // Requests received and not yet answered: now, and the most there ever were.
    int inFlight() const { return m_load->inFlight; }
    int maxInFlight() const { return m_load->maxInFlight; }
    void resetMaxInFlight() { m_load->maxInFlight = m_load->inFlight; }

    // Before listen(): serve https with this certificate and key instead of plain http.
    void setTlsConfiguration(const QSslConfiguration& tls);
    bool listen(const QHostAddress& address, quint16 port = 0);
    quint16 port() const;
    QString errorString() const;

private:
    void onNewConnection();
    void dispatch(HttpConnection& connection, const HttpRequest& request);

    Handler m_handler;
    Observer m_observer;
    std::shared_ptr<ServerLoad> m_load = std::make_shared<ServerLoad>();
    int m_latencyMs = 0;
    int m_throttleEvery = 0;
    int m_throttleSeconds = 1;
    qint64 m_requestCount = 0;
    std::optional<QSslConfiguration> m_tls;
    QTcpServer* m_server = nullptr;
};

// The reason phrase of the status codes these servers send.
QByteArray HttpReasonPhrase(int status);
