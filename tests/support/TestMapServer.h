#pragma once

// A map server for the tests, on 127.0.0.1 and the test's own event loop. It answers the
// map request with a JPEG of a plain colour that names the tile, records every request,
// and can be told to misbehave for chosen tiles.

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class HttpConnection;
class JpegEncoder;
class MapHttpServer;
class QSslConfiguration;
struct HttpRequest;
struct MapTileQuery;

class TestMapServer : public QObject {
    Q_OBJECT
public:
    enum class Fault {
        None,
        Http500,        // error status; the body is a valid JPEG in FaultColour()
        Http404,        // likewise
        HtmlPage,       // 200 with an HTML error page
        EmptyBody,      // 200 with no body
        TruncatedJpeg,  // 200 with the first half of the tile's JPEG
        GreyJpeg,       // 200 with a single-component JPEG of the tile's grey level
        HugeHeaderJpeg, // 200 with the tile's JPEG claiming 60000 x 60000 px
        Stall,          // reads the request and never answers
        Reset,          // reads the request and resets the connection
        Slow,           // the tile's JPEG in pieces, see setSlowPace()
        Redirect,       // 302 to the very same URL (a loop while the fault lasts)
        Oversized,      // 200 without Content-Length, far more bytes than a tile
        Busy429,        // 429 with the Retry-After of setRetryAfter()
        Busy503,        // 503 likewise
        SmallJpeg,      // 200 with a valid 100 x 100 JPEG of the tile's colour
        LargeJpeg,      // 200 with a valid 4000 x 4000 JPEG of the tile's colour
        ManyScans,      // 200 with a valid progressive tile of kManyScans scans
        Held,           // reads the request and answers it, as without fault, at releaseHeld()
        PaddedJpeg,     // 200 with the tile's JPEG and zeros after it, to setOversizedBytes()
                        // in all, with its Content-Length
    };
    static constexpr int kManyScans = 190;

    explicit TestMapServer(QObject* parent = nullptr);
    ~TestMapServer() override;

    bool listen();                             // 127.0.0.1 on a free port
    bool listen(const QSslConfiguration& tls); // the same over https
    QString baseUrl() const;                   // "http://127.0.0.1:<port>", no trailing slash
    QStringList requests() const;              // path+query of every request, in arrival order
    // Those of the requests numbered (guid) after `number`: taken before a run starts, the
    // run's own, whatever of an earlier one reaches the server late.
    QStringList requestsNumberedAfter(int number) const;

    // A tile is known by the integer parts of its Xmin and Ymin. Its first `attempts`
    // requests get the fault (-1: every request).
    void setFault(int xmin, int ymin, Fault fault, int attempts = -1);
    void setFaultForAll(Fault fault, int attempts = -1);
    void clearFaults();
    // Fault::Slow sends the JPEG in `pieces` parts, the first at once, the others `delayMs`
    // apart.
    void setSlowPace(int pieces, int delayMs);
    // Where Fault::Redirect points: this server's own base unless set.
    void setRedirectBase(const QString& base);
    // Size of the body Fault::Oversized and Fault::PaddedJpeg send.
    void setOversizedBytes(qsizetype bytes);
    // The Retry-After header of Fault::Busy429 and Busy503 (none when empty).
    void setRetryAfter(const QByteArray& value) { m_retryAfter = value; }
    // Answers every request held by Fault::Held (those whose connection is still open).
    void releaseHeld();
    // A distant server: every answer leaves `ms` after its request arrived.
    void setLatency(int ms);
    // A busy server: every n-th request gets 429 with "Retry-After: 1".
    void setThrottle(int everyNth);
    // Requests received and not yet answered, at most since the last reset.
    int maxInFlight() const;
    void resetMaxInFlight();

    // The colour the server paints a tile with (a plain fill, so that tests can find a tile
    // in a joined image after JPEG re-encoding): derived from (xmin, ymin), well apart between
    // neighbouring tiles.
    static QColor TileColour(int xmin, int ymin);
    // The colour of the JPEG carried by error answers: black, far from every tile colour.
    static QColor FaultColour();

    // The JPEG the server sends for a tile without fault.
    QByteArray tileJpeg(int xmin, int ymin, int width = 400, int height = 400);

signals:
    void requestArrived(const QString& target);

private:
    struct Rule {
        Fault fault = Fault::None;
        int remaining = -1; // -1: for ever
    };
    using TileKey = QPair<int, int>;

    void handle(HttpConnection& connection, const HttpRequest& request);
    Fault takeFault(const TileKey& key);
    void answer(HttpConnection& connection, const HttpRequest& request, const MapTileQuery& q,
                Fault fault);
    QByteArray plainJpeg(const QColor& colour, int width, int height, bool grey);
    QByteArray manyScansJpeg(const QColor& colour);

    std::unique_ptr<MapHttpServer> m_http;
    std::unique_ptr<JpegEncoder> m_encoder;
    QStringList m_requests;
    QHash<TileKey, Rule> m_rules;
    Rule m_ruleForAll;
    QHash<TileKey, int> m_remainingForAll; // per tile, from m_ruleForAll
    QHash<QString, QByteArray> m_cache;
    struct HeldAnswer {
        QPointer<HttpConnection> connection;
        QByteArray target;
    };
    QList<HeldAnswer> m_held;
    int m_slowPieces = 8;
    int m_slowDelayMs = 50;
    qsizetype m_oversizedBytes = 2 * 1024 * 1024;
    QByteArray m_retryAfter = "1";
    QString m_scheme = QStringLiteral("http");
    QString m_redirectBase;
};
