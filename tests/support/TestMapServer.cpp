#include "tests/support/TestMapServer.h"

#include "download/JpegCodec.h"
#include "tools/MapHttpServer.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kServerQuality = 90;
// Hue steps per metre of Xmin and of Ymin. Chosen so that moving by any tile size the
// program offers (100 m to 10 km) turns the hue by at least about 40 degrees.
constexpr double kHuePerMetreX = 0.153285713;
constexpr double kHuePerMetreY = 0.064434279;
constexpr quint16 kHugeSide = 60000;

// Puts `side` as height and width into the first start-of-frame segment.
QByteArray WithFrameSize(QByteArray jpeg, quint16 side) {
    qsizetype pos = 2; // after the start-of-image marker
    while (pos + 9 < jpeg.size()) {
        if (static_cast<uchar>(jpeg[pos]) != 0xFF) {
            break;
        }
        const auto marker = static_cast<uchar>(jpeg[pos + 1]);
        const int length =
            (static_cast<uchar>(jpeg[pos + 2]) << 8) | static_cast<uchar>(jpeg[pos + 3]);
        if (marker >= 0xC0 && marker <= 0xC2) {
            for (int i = 0; i < 2; ++i) {
                jpeg[pos + 5 + 2 * i] = static_cast<char>(side >> 8);
                jpeg[pos + 6 + 2 * i] = static_cast<char>(side & 0xFF);
            }
            break;
        }
        pos += 2 + length;
    }
    return jpeg;
}

QByteArray HtmlErrorPage() {
    return "<!DOCTYPE html>\n<html><head><title>Error</title></head>"
           "<body><h1>Servicio no disponible</h1></body></html>\n";
}

} // namespace

TestMapServer::TestMapServer(QObject* parent)
    : QObject(parent), m_http(std::make_unique<MapHttpServer>(
                           [this](HttpConnection& c, const HttpRequest& r) { handle(c, r); })),
      m_encoder(std::make_unique<JpegEncoder>()) {
    // Every request is recorded as it arrives, also those a throttle or latency holds.
    m_http->setObserver([this](const HttpRequest& request) {
        const QString target = QString::fromLatin1(request.target);
        m_requests.append(target);
        emit requestArrived(target);
    });
}

TestMapServer::~TestMapServer() = default;

bool TestMapServer::listen() {
    return m_http->listen(QHostAddress::LocalHost, 0);
}

bool TestMapServer::listen(const QSslConfiguration& tls) {
    m_scheme = QStringLiteral("https");
    m_http->setTlsConfiguration(tls);
    return listen();
}

QString TestMapServer::baseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_scheme).arg(m_http->port());
}

void TestMapServer::setRedirectBase(const QString& base) {
    m_redirectBase = base;
}

QStringList TestMapServer::requests() const {
    return m_requests;
}

QStringList TestMapServer::requestsNumberedAfter(int number) const {
    QStringList out;
    for (const QString& target : m_requests) {
        if (ParseMapTileQuery(target.toLatin1()).guid > number) {
            out << target;
        }
    }
    return out;
}

void TestMapServer::setFault(int xmin, int ymin, Fault fault, int attempts) {
    m_rules.insert({xmin, ymin}, Rule{fault, attempts});
}

void TestMapServer::setFaultForAll(Fault fault, int attempts) {
    m_ruleForAll = Rule{fault, attempts};
    m_remainingForAll.clear();
}

void TestMapServer::clearFaults() {
    m_rules.clear();
    m_ruleForAll = Rule{};
    m_remainingForAll.clear();
}

void TestMapServer::setSlowPace(int pieces, int delayMs) {
    m_slowPieces = pieces;
    m_slowDelayMs = delayMs;
}

void TestMapServer::setOversizedBytes(qsizetype bytes) {
    m_oversizedBytes = bytes;
}

QColor TestMapServer::TileColour(int xmin, int ymin) {
    const double turns =
        static_cast<double>(xmin) * kHuePerMetreX + static_cast<double>(ymin) * kHuePerMetreY;
    const double hue = turns - std::floor(turns);
    return QColor::fromHsvF(static_cast<float>(hue), 0.7f, 0.9f).toRgb();
}

QColor TestMapServer::FaultColour() {
    return QColor(0, 0, 0);
}

QByteArray TestMapServer::plainJpeg(const QColor& colour, int width, int height, bool grey) {
    const QString key =
        QStringLiteral("%1,%2,%3,%4").arg(colour.rgb()).arg(width).arg(height).arg(grey);
    const auto cached = m_cache.constFind(key);
    if (cached != m_cache.constEnd()) {
        return *cached;
    }
    QByteArray jpeg;
    QString error;
    if (grey) {
        QImage image(width, height, QImage::Format_Grayscale8);
        image.fill(qGray(colour.rgb()));
        EncodeGreyJpeg(image, kServerQuality, &jpeg, &error);
    } else {
        QImage image(width, height, QImage::Format_RGB888);
        image.fill(colour);
        m_encoder->encode(image, kServerQuality, &jpeg, &error);
    }
    m_cache.insert(key, jpeg);
    return jpeg;
}

QByteArray TestMapServer::tileJpeg(int xmin, int ymin, int width, int height) {
    return plainJpeg(TileColour(xmin, ymin), width, height, false);
}

// A valid progressive JPEG that spends one scan on each coefficient of each component:
// 1 + 63 x 3 scans for a three-component image.
QByteArray TestMapServer::manyScansJpeg(const QColor& colour) {
    const QString key = QStringLiteral("scans,%1").arg(colour.rgb());
    const auto cached = m_cache.constFind(key);
    if (cached != m_cache.constEnd()) {
        return *cached;
    }
    QImage image(400, 400, QImage::Format_RGB888);
    image.fill(colour);
    std::vector<jpeg_scan_info> script;
    script.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0}); // the DC coefficients of all three
    for (int component = 0; component < 3; ++component) {
        for (int k = 1; k < 64; ++k) {
            script.push_back({1, {component, 0, 0, 0}, k, k, 0, 0});
        }
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = 400;
    cinfo.image_height = 400;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kServerQuality, TRUE);
    cinfo.scan_info = script.data();
    cinfo.num_scans = static_cast<int>(script.size());
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const QByteArray jpeg(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    m_cache.insert(key, jpeg);
    return jpeg;
}

TestMapServer::Fault TestMapServer::takeFault(const TileKey& key) {
    auto take = [](int* remaining) {
        if (*remaining == 0) {
            return false;
        }
        if (*remaining > 0) {
            --*remaining;
        }
        return true;
    };
    const auto own = m_rules.find(key);
    if (own != m_rules.end()) {
        return take(&own->remaining) ? own->fault : Fault::None;
    }
    if (m_ruleForAll.fault == Fault::None) {
        return Fault::None;
    }
    auto left = m_remainingForAll.find(key);
    if (left == m_remainingForAll.end()) {
        left = m_remainingForAll.insert(key, m_ruleForAll.remaining);
    }
    return take(&*left) ? m_ruleForAll.fault : Fault::None;
}

void TestMapServer::releaseHeld() {
    const QList<HeldAnswer> held = std::exchange(m_held, {});
    for (const HeldAnswer& h : held) {
        if (h.connection) {
            HttpRequest request;
            request.target = h.target;
            answer(*h.connection, request, ParseMapTileQuery(h.target), Fault::None);
        }
    }
}

void TestMapServer::setLatency(int ms) {
    m_http->setLatency(ms);
}

void TestMapServer::setThrottle(int everyNth) {
    m_http->setThrottle(everyNth, 1);
}

int TestMapServer::maxInFlight() const {
    return m_http->maxInFlight();
}

void TestMapServer::resetMaxInFlight() {
    m_http->resetMaxInFlight();
}

void TestMapServer::handle(HttpConnection& connection, const HttpRequest& request) {
    const MapTileQuery q = ParseMapTileQuery(request.target);
    if (!q.valid) {
        connection.respond(request.path() == kMapRequestPath ? 400 : 404, "text/html",
                           HtmlErrorPage());
        return;
    }
    answer(connection, request, q, takeFault({q.xminKey, q.yminKey}));
}

void TestMapServer::answer(HttpConnection& connection, const HttpRequest& request,
                           const MapTileQuery& q, Fault fault) {
    const QByteArray jpegType = "image/jpeg";
    const int w = q.pixWidth;
    const int h = q.pixHeight;
    switch (fault) {
    case Fault::None:
        connection.respond(200, jpegType, tileJpeg(q.xminKey, q.yminKey, w, h));
        return;
    case Fault::Http500:
    case Fault::Http404:
        connection.respond(fault == Fault::Http500 ? 500 : 404, jpegType,
                           plainJpeg(FaultColour(), w, h, false));
        return;
    case Fault::HtmlPage:
        connection.respond(200, "text/html; charset=utf-8", HtmlErrorPage());
        return;
    case Fault::EmptyBody:
        connection.respond(200, jpegType, QByteArray());
        return;
    case Fault::TruncatedJpeg: {
        const QByteArray full = tileJpeg(q.xminKey, q.yminKey, w, h);
        connection.respond(200, jpegType, full.left(full.size() / 2));
        return;
    }
    case Fault::GreyJpeg:
        connection.respond(200, jpegType, plainJpeg(TileColour(q.xminKey, q.yminKey), w, h, true));
        return;
    case Fault::HugeHeaderJpeg:
        connection.respond(200, jpegType,
                           WithFrameSize(tileJpeg(q.xminKey, q.yminKey, w, h), kHugeSide));
        return;
    case Fault::Stall:
        connection.stall();
        return;
    case Fault::Reset:
        connection.reset();
        return;
    case Fault::Slow:
        connection.respondSlowly(200, jpegType, tileJpeg(q.xminKey, q.yminKey, w, h), m_slowPieces,
                                 m_slowDelayMs);
        return;
    case Fault::Redirect:
        connection.respond(
            302, "text/plain", "moved\n",
            {{"Location", (m_redirectBase.isEmpty() ? baseUrl() : m_redirectBase).toLatin1() +
                              request.target}});
        return;
    case Fault::Oversized:
        connection.respondUnsized(200, jpegType, QByteArray(m_oversizedBytes, '\x55'));
        return;
    case Fault::PaddedJpeg: {
        QByteArray padded = tileJpeg(q.xminKey, q.yminKey, w, h);
        padded.resize(std::max(padded.size(), m_oversizedBytes), '\0');
        connection.respond(200, jpegType, padded);
        return;
    }
    case Fault::Busy429:
    case Fault::Busy503: {
        HttpConnection::Headers headers;
        if (!m_retryAfter.isEmpty()) {
            headers.append({"Retry-After", m_retryAfter});
        }
        connection.respond(fault == Fault::Busy429 ? 429 : 503, "text/plain", "busy\n", headers);
        return;
    }
    case Fault::SmallJpeg:
        connection.respond(200, jpegType, tileJpeg(q.xminKey, q.yminKey, 100, 100));
        return;
    case Fault::LargeJpeg:
        connection.respond(200, jpegType, tileJpeg(q.xminKey, q.yminKey, 4000, 4000));
        return;
    case Fault::ManyScans:
        connection.respond(200, jpegType, manyScansJpeg(TileColour(q.xminKey, q.yminKey)));
        return;
    case Fault::Held:
        m_held.append({&connection, request.target});
        return;
    }
}
