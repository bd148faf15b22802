#include "ui/TrackPicture.h"

#include "ui/MapView.h"

#include <QLineF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_set>
#include <vector>

namespace {

const QColor kTrackColour(210, 0, 150);
const QColor kHalo(255, 255, 255, 200);
constexpr qreal kLinePixels = 3;
constexpr qreal kHaloPixels = 6;
constexpr qreal kDotRadius = 4;
// A picture is never larger than this a side, whatever the view.
constexpr double kLargestSide = 8192;
// Thinner than this the track's wiggles do not show: the points between are left out.
constexpr double kThinnestPixels = 0.5;

QPen RoundPen(const QColor& colour, qreal width) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

} // namespace

QImage DrawTrack(const GroundTrack& track, const GroundRect& ground, double metresPerPixel) {
    if (!(metresPerPixel > 0)) {
        return {};
    }
    const int width =
        static_cast<int>(std::min(kLargestSide, std::ceil(ground.width() / metresPerPixel)));
    const int height =
        static_cast<int>(std::min(kLargestSide, std::ceil(ground.height() / metresPerPixel)));
    if (width <= 0 || height <= 0) {
        return {};
    }
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    const auto pixel = [&](const GroundPoint& g) {
        return QPointF((g.easting - ground.west) / metresPerPixel,
                       (ground.north - g.northing) / metresPerPixel);
    };
    // Segments beyond this do not touch the picture, even with the halo's width.
    const QRectF reach =
        QRectF(0, 0, width, height).adjusted(-kHaloPixels, -kHaloPixels, kHaloPixels, kHaloPixels);
    // A segment that shows as the same pixels as one already there is drawn once: a track
    // that goes back and forth over the same ground (a zig-zag, laps) takes no more than
    // the picture holds.
    std::unordered_set<uint64_t> seen;
    const auto firstTime = [&seen](const QPointF& a, const QPointF& b) {
        constexpr double kKeyed = 16000; // pixels within which ends are told apart
        if (std::abs(a.x()) > kKeyed || std::abs(a.y()) > kKeyed || std::abs(b.x()) > kKeyed ||
            std::abs(b.y()) > kKeyed) {
            return true;
        }
        const auto cell = [](const QPointF& p) {
            return (uint64_t(uint16_t(int16_t(std::floor(p.x())))) << 16) |
                   uint64_t(uint16_t(int16_t(std::floor(p.y()))));
        };
        const uint64_t ca = cell(a);
        const uint64_t cb = cell(b);
        return seen.insert(ca < cb ? (ca << 32) | cb : (cb << 32) | ca).second;
    };
    std::vector<QLineF> segments;
    for (const std::vector<GroundPoint>& line : track.lines) {
        QPointF last;
        for (size_t i = 0; i < line.size(); ++i) {
            const QPointF p = pixel(line[i]);
            if (i > 0 && i + 1 < line.size() && std::abs(p.x() - last.x()) < kThinnestPixels &&
                std::abs(p.y() - last.y()) < kThinnestPixels) {
                continue;
            }
            if (i > 0 && QRectF(last, p).normalized().adjusted(-1, -1, 1, 1).intersects(reach) &&
                firstTime(last, p)) {
                segments.emplace_back(last, p);
            }
            last = p;
        }
    }
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    // A pale edge under the line keeps it visible on any map. A few hundred segments at a
    // time keep each path the painter fills small.
    constexpr size_t kBatch = 256;
    for (const QPen& pen : {RoundPen(kHalo, kHaloPixels), RoundPen(kTrackColour, kLinePixels)}) {
        painter.setPen(pen);
        for (size_t from = 0; from < segments.size(); from += kBatch) {
            painter.drawLines(segments.data() + from,
                              static_cast<int>(std::min(kBatch, segments.size() - from)));
        }
    }
    painter.setPen(RoundPen(Qt::white, 2));
    painter.setBrush(kTrackColour);
    QPoint lastDot(-1, -1);
    for (const GroundPoint& g : track.points) {
        const QPointF p = pixel(g);
        if (!reach.contains(p) || p.toPoint() == lastDot) {
            continue;
        }
        lastDot = p.toPoint();
        painter.drawEllipse(p, kDotRadius, kDotRadius);
    }
    return picture;
}

TrackPicture::TrackPicture(const GroundRect& extent) {
    // Room for the pens at the coarsest scale, where a pixel is widest.
    m_bounds = SceneRect(extent.grown((kHaloPixels + kDotRadius) * MapView::kMaxMetresPerPixel));
}

void TrackPicture::setPicture(const QImage& picture, const GroundRect& ground) {
    m_picture = picture;
    m_place = SceneRect(ground);
    update();
}

void TrackPicture::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (!m_picture.isNull()) {
        painter->drawImage(m_place, m_picture);
    }
}
