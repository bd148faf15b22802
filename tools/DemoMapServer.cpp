#include "tools/DemoMapServer.h"

#include "download/JpegCodec.h"

#include <QFont>
#include <QPainter>

#include <cmath>

namespace {

constexpr int kDemoQuality = 85;
constexpr double kMinorStep = 100.0;
constexpr double kMajorStep = 1000.0;
// Below this spacing the 1 km lines, three pixels wide, would all but fill the map.
constexpr double kMinMajorSpacingPx = 8.0;
// Below this spacing the kilometre labels would run into each other.
constexpr double kMinLabelSpacingPx = 40.0;
constexpr int kNorthingOffset = 4000000;

struct Frame {
    const MapTileQuery& q;
    double width;
    double height;

    int column(double easting) const {
        return static_cast<int>(std::floor((easting - q.xmin) / (q.xmax - q.xmin) * width));
    }
    int row(double northing) const {
        return static_cast<int>(std::floor((q.ymax - northing) / (q.ymax - q.ymin) * height));
    }
    double spacingPx(double step) const { return step / (q.xmax - q.xmin) * width; }
};

// The multiples of `step` between `low` and `high`, as whole numbers of steps; empty when
// there would be more of them than `limit` (a hostile rectangle must not loop for ever).
QList<qint64> StepsBetween(double low, double high, double step, int limit) {
    const double first = std::ceil(low / step);
    const double last = std::floor(high / step);
    if (!(last >= first) || last - first >= limit || std::fabs(first) > 1e15) {
        return {};
    }
    QList<qint64> steps;
    for (auto k = static_cast<qint64>(first); k <= static_cast<qint64>(last); ++k) {
        steps.append(k);
    }
    return steps;
}

// Lines of the grid every `step` metres, `thickness` pixels wide; with `skipMajor` the
// lines that fall on a kilometre are left to the kilometre pass.
void DrawGrid(QPainter& p, const Frame& f, double step, int thickness, const QColor& colour,
              bool skipMajor) {
    const int w = static_cast<int>(f.width);
    const int h = static_cast<int>(f.height);
    const int before = thickness / 2;
    const auto perMajor = static_cast<qint64>(kMajorStep / step);
    for (const qint64 k : StepsBetween(f.q.xmin, f.q.xmax, step, w)) {
        if (!skipMajor || k % perMajor != 0) {
            p.fillRect(f.column(static_cast<double>(k) * step) - before, 0, thickness, h, colour);
        }
    }
    for (const qint64 k : StepsBetween(f.q.ymin, f.q.ymax, step, h)) {
        if (!skipMajor || k % perMajor != 0) {
            p.fillRect(0, f.row(static_cast<double>(k) * step) - before, w, thickness, colour);
        }
    }
}

void DrawKilometreLabels(QPainter& p, const Frame& f, const QColor& colour) {
    p.setPen(colour);
    const int w = static_cast<int>(f.width);
    const int h = static_cast<int>(f.height);
    for (const qint64 k : StepsBetween(f.q.xmin, f.q.xmax, kMajorStep, w)) {
        p.drawText(f.column(static_cast<double>(k) * kMajorStep) + 4, 14, QString::number(k));
    }
    for (const qint64 k : StepsBetween(f.q.ymin, f.q.ymax, kMajorStep, h)) {
        // Labels give the full northing in kilometres.
        p.drawText(4, f.row(static_cast<double>(k) * kMajorStep) - 4,
                   QString::number(k + kNorthingOffset / static_cast<qint64>(kMajorStep)));
    }
}

QString KindName(int tipo) {
    switch (tipo) {
    case 6:
        return QStringLiteral("Cartografía / M.D.T.");
    case 0:
        return QStringLiteral("Ortofoto");
    default:
        return QStringLiteral("tipo desconocido");
    }
}

void DrawCaption(QPainter& p, const MapTileQuery& q, int width, int height,
                 const DemoStyle& style) {
    auto metres = [](double v) { return QString::number(std::floor(v), 'f', 0); };
    const QStringList lines{
        QStringLiteral("TIPO=%1  %2").arg(q.tipo).arg(KindName(q.tipo)),
        QStringLiteral("X %1 - %2").arg(metres(q.xmin), metres(q.xmax)),
        QStringLiteral("Y %1 - %2")
            .arg(metres(q.ymin + kNorthingOffset), metres(q.ymax + kNorthingOffset)),
    };
    const int lineHeight = 15;
    const QRect box(4, height - 8 - lineHeight * static_cast<int>(lines.size()),
                    qMin(width - 8, 220), lineHeight * static_cast<int>(lines.size()) + 4);
    p.fillRect(box, QColor(255, 255, 255, 200));
    p.setPen(style.text);
    for (int i = 0; i < lines.size(); ++i) {
        p.drawText(box.left() + 4, box.top() + lineHeight * (i + 1) - 2, lines.at(i));
    }
}

} // namespace

DemoStyle DemoStyleFor(int tipo) {
    switch (tipo) {
    case 6: // paper map
        return {QColor(242, 236, 214), QColor(205, 190, 160), QColor(170, 40, 40),
                QColor(40, 40, 40)};
    case 0: // aerial photograph
        return {QColor(106, 138, 84), QColor(140, 170, 118), QColor(250, 250, 250),
                QColor(20, 20, 20)};
    default:
        return {QColor(190, 190, 190), QColor(160, 160, 160), QColor(60, 60, 60), QColor(0, 0, 0)};
    }
}

QImage PaintDemoTile(const MapTileQuery& q) {
    QImage image(q.pixWidth, q.pixHeight, QImage::Format_RGB888);
    const DemoStyle style = DemoStyleFor(q.tipo);
    image.fill(style.background);
    QPainter p(&image);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const Frame frame{q, static_cast<double>(q.pixWidth), static_cast<double>(q.pixHeight)};
    if (q.xmax > q.xmin && q.ymax > q.ymin) {
        if (frame.spacingPx(kMinorStep) >= kMinMinorSpacingPx) {
            DrawGrid(p, frame, kMinorStep, 1, style.minorLine, true);
        }
        if (frame.spacingPx(kMajorStep) >= kMinMajorSpacingPx) {
            DrawGrid(p, frame, kMajorStep, 3, style.majorLine, false);
        }
        if (frame.spacingPx(kMajorStep) >= kMinLabelSpacingPx) {
            DrawKilometreLabels(p, frame, style.majorLine);
        }
    }
    if (q.pixWidth >= 120 && q.pixHeight >= 80) {
        DrawCaption(p, q, q.pixWidth, q.pixHeight, style);
    }
    return image;
}

DemoMapServer::DemoMapServer(QObject* parent)
    : QObject(parent), m_http(std::make_unique<MapHttpServer>(
                           [this](HttpConnection& c, const HttpRequest& r) { handle(c, r); })),
      m_encoder(std::make_unique<JpegEncoder>()) {}

DemoMapServer::~DemoMapServer() = default;

void DemoMapServer::setLatency(int ms) {
    m_http->setLatency(ms);
}

void DemoMapServer::setThrottle(int everyNth) {
    m_http->setThrottle(everyNth, 1);
}

bool DemoMapServer::listen(const QHostAddress& address, quint16 port) {
    return m_http->listen(address, port);
}

quint16 DemoMapServer::port() const {
    return m_http->port();
}

QString DemoMapServer::errorString() const {
    return m_http->errorString();
}

void DemoMapServer::handle(HttpConnection& connection, const HttpRequest& request) {
    const MapTileQuery q = ParseMapTileQuery(request.target);
    const QString target = QString::fromLatin1(request.target);
    if (!q.valid) {
        const int status = request.path() == kMapRequestPath ? 400 : 404;
        connection.respond(status, "text/html; charset=utf-8",
                           "<html><body>Petición no válida</body></html>\n");
        emit served(QStringLiteral("%1 -> %2").arg(target).arg(status));
        return;
    }
    QByteArray jpeg;
    QString error;
    if (!m_encoder->encode(PaintDemoTile(q), kDemoQuality, &jpeg, &error)) {
        connection.respond(500, "text/plain; charset=utf-8", error.toUtf8());
        emit served(QStringLiteral("%1 -> 500 %2").arg(target, error));
        return;
    }
    connection.respond(200, "image/jpeg", jpeg);
    emit served(QStringLiteral("%1 -> 200, %2 bytes").arg(target).arg(jpeg.size()));
}
