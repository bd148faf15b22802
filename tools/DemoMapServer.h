#pragma once

// A stand-in for the regional map server: it draws, for any rectangle asked, a map that shows
// at a glance whether tiles and calibration line up: a colour per map type, the 100 m and
// 1 km UTM grid lines, and the rectangle's coordinates as text.

#include "tools/MapHttpServer.h"

#include <QColor>
#include <QHostAddress>
#include <QImage>
#include <QObject>

#include <memory>

class JpegEncoder;

struct DemoStyle {
    QColor background;
    QColor minorLine; // every 100 m
    QColor majorLine; // every 1 km
    QColor text;
};

// The look of a map type (TIPO): cartography and terrain model share TIPO 6.
DemoStyle DemoStyleFor(int tipo);

// Pixel spacing below which the 100 m lines are left out, so that they do not fill the tile.
constexpr double kMinMinorSpacingPx = 5.0;

// The picture for one request: pixWidth x pixHeight, north up.
QImage PaintDemoTile(const MapTileQuery& query);

class DemoMapServer : public QObject {
    Q_OBJECT
public:
    explicit DemoMapServer(QObject* parent = nullptr);
    ~DemoMapServer() override;

    bool listen(const QHostAddress& address, quint16 port);
    // As a distant server: every answer leaves `ms` after its request.
    void setLatency(int ms);
    // As a busy server: every n-th request (0: none) gets 429 with "Retry-After: 1".
    void setThrottle(int everyNth);
    quint16 port() const;
    QString errorString() const;

signals:
    // One line per request answered, for the console.
    void served(const QString& line);

private:
    void handle(HttpConnection& connection, const HttpRequest& request);

    std::unique_ptr<MapHttpServer> m_http;
    std::unique_ptr<JpegEncoder> m_encoder;
};
