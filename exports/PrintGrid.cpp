#include "exports/PrintGrid.h"

#include "exports/ExportGeometry.h"
#include "exports/GdalSupport.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kEd50Utm30 = 23030;
constexpr int kEtrs89Utm30 = 25830;
// Points along a line: the grid's lines are straight to far less than a point of paper,
// a few more show that they are drawn as PROJ moves them.
constexpr int kLinePoints = 9;
// ED50 ticks closer than this to a corner would lie on the frame's other edge.
constexpr double kCornerMm = 0.5;

bool Move(OGRCoordinateTransformationH transform, const QPointF& in, QPointF* out) {
    double x = in.x();
    double y = in.y();
    int ok = 0;
    if (!OCTTransformEx(transform, 1, &x, &y, nullptr, &ok) || !ok || !std::isfinite(x) ||
        !std::isfinite(y)) {
        return false;
    }
    *out = QPointF(x, y);
    return true;
}

// Where the polyline crosses the level `value` of its coordinate `y` (or x), if it does.
bool Crossing(const std::vector<QPointF>& points, bool alongY, double value, double* at) {
    for (size_t i = 1; i < points.size(); ++i) {
        const QPointF& a = points[i - 1];
        const QPointF& b = points[i];
        const double va = alongY ? a.y() : a.x();
        const double vb = alongY ? b.y() : b.x();
        if ((va - value) * (vb - value) > 0.0 || va == vb) {
            continue;
        }
        const double t = (value - va) / (vb - va);
        *at = alongY ? a.x() + t * (b.x() - a.x()) : a.y() + t * (b.y() - a.y());
        return true;
    }
    return false;
}

bool Fail(QString* error, const QString& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

} // namespace

struct Etrs89Grid::Transforms {
    OgrTransform forward;
    OgrTransform backward;
};

Etrs89Grid::Etrs89Grid(std::unique_ptr<Transforms> transforms)
    : m_transforms(std::move(transforms)) {}

Etrs89Grid::~Etrs89Grid() = default;

std::unique_ptr<Etrs89Grid> Etrs89Grid::FromPipeline(const QString& etrs89Pipeline,
                                                     QString* error) {
    // ETRS89 degrees on to its UTM zone 30: the same zone the map server's grid uses.
    const std::string pipeline =
        PipelineThen(etrs89Pipeline, " +step +proj=unitconvert +xy_in=deg +xy_out=rad"
                                     " +step +proj=utm +zone=30 +ellps=GRS80");
    auto transforms = std::make_unique<Transforms>();
    if (!pipeline.empty()) {
        transforms->forward = PipelineTransform(kEd50Utm30, kEtrs89Utm30, pipeline, false);
        transforms->backward = PipelineTransform(kEtrs89Utm30, kEd50Utm30, pipeline, true);
    }
    if (!transforms->forward || !transforms->backward) {
        Fail(error, NoDatumChangeText());
        return nullptr;
    }
    return std::unique_ptr<Etrs89Grid>(new Etrs89Grid(std::move(transforms)));
}

bool Etrs89Grid::toEtrs89(const QPointF& ed50, QPointF* etrs89) const {
    return Move(m_transforms->forward.get(), ed50, etrs89);
}

bool Etrs89Grid::toEd50(const QPointF& etrs89, QPointF* ed50) const {
    return Move(m_transforms->backward.get(), etrs89, ed50);
}

bool MakePageGrid(const PrintPage& page, int32_t scale, const Etrs89Grid& grid, PageGrid* out,
                  QString* error) {
    const QRectF& f = page.frame;
    const GroundRect& g = page.ground;
    const double mmPerMetre = 1000.0 / scale;
    const auto paper = [&](const QPointF& ed50) {
        return QPointF(f.left() + (ed50.x() - g.west) * mmPerMetre,
                       f.top() + (g.north - ed50.y()) * mmPerMetre);
    };
    const QPointF corners[] = {
        {g.west, g.north}, {g.east, g.north}, {g.east, g.south}, {g.west, g.south}};
    std::array<QPointF, 4> moved;
    for (size_t i = 0; i < moved.size(); ++i) {
        if (!grid.toEtrs89(corners[i], &moved[i])) {
            return Fail(
                error, QStringLiteral("PROJ no puede llevar la hoja %1 a ETRS89").arg(page.number));
        }
    }
    PageGrid result;
    // Three corners give the page's affine map; ED50 and ETRS89 differ by a shift and a turn
    // of a few millionths, so the fourth corner lies on it to well under a millimetre.
    const double left = f.left() * kPointsPerMm;
    const double top = f.top() * kPointsPerMm;
    const double right = f.right() * kPointsPerMm;
    const double bottom = f.bottom() * kPointsPerMm;
    std::array<double, 6>& t = result.geoTransform;
    t[1] = (moved[1].x() - moved[0].x()) / (right - left);
    t[2] = (moved[3].x() - moved[0].x()) / (bottom - top);
    t[0] = moved[0].x() - t[1] * left - t[2] * top;
    t[4] = (moved[1].y() - moved[0].y()) / (right - left);
    t[5] = (moved[3].y() - moved[0].y()) / (bottom - top);
    t[3] = moved[0].y() - t[4] * left - t[5] * top;
    const double points[][2] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
    for (size_t i = 0; i < result.neatline.size(); ++i) {
        result.neatline[i] = QPointF(t[0] + t[1] * points[i][0] + t[2] * points[i][1],
                                     t[3] + t[4] * points[i][0] + t[5] * points[i][1]);
    }

    // The ETRS89 lines that cross the frame, from just beyond it on either side.
    const int32_t spacing = PrintGridMetres(scale);
    double minX = moved[0].x();
    double maxX = minX;
    double minY = moved[0].y();
    double maxY = minY;
    for (const QPointF& p : moved) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    const double beyond = spacing / 4.0;
    for (const bool ofEasting : {true, false}) {
        const double low = ofEasting ? minX : minY;
        const double high = ofEasting ? maxX : maxY;
        const double from = ofEasting ? minY - beyond : minX - beyond;
        const double to = ofEasting ? maxY + beyond : maxX + beyond;
        for (auto k = static_cast<int64_t>(std::ceil(low / spacing));
             k <= static_cast<int64_t>(std::floor(high / spacing)); ++k) {
            GridLine line;
            line.ofEasting = ofEasting;
            line.metres = static_cast<int32_t>(k * spacing);
            for (int i = 0; i < kLinePoints; ++i) {
                const double along = from + (to - from) * i / (kLinePoints - 1);
                const QPointF etrs89 =
                    ofEasting ? QPointF(line.metres, along) : QPointF(along, line.metres);
                QPointF ed50;
                if (!grid.toEd50(etrs89, &ed50)) {
                    return Fail(
                        error,
                        QStringLiteral("PROJ no puede llevar la hoja %1 a ED50").arg(page.number));
                }
                line.points.push_back(paper(ed50));
            }
            // Labelled where it meets the frame, on the edges it crosses.
            const FrameEdge ends[2] = {ofEasting ? FrameEdge::North : FrameEdge::West,
                                       ofEasting ? FrameEdge::South : FrameEdge::East};
            const double levels[2] = {ofEasting ? f.top() : f.left(),
                                      ofEasting ? f.bottom() : f.right()};
            for (int e = 0; e < 2; ++e) {
                double at = 0.0;
                const double first = ofEasting ? f.left() : f.top();
                const double last = ofEasting ? f.right() : f.bottom();
                if (Crossing(line.points, ofEasting, levels[e], &at) && at >= first && at <= last) {
                    result.labels.push_back({ends[e], line.metres, at});
                }
            }
            result.lines.push_back(std::move(line));
        }
    }

    // The map server's own grid: straight on the image, ticks where it meets the frame.
    for (const bool ofEasting : {true, false}) {
        const double low = ofEasting ? g.west : g.south;
        const double high = ofEasting ? g.east : g.north;
        for (auto k = static_cast<int64_t>(std::ceil(low / spacing));
             k <= static_cast<int64_t>(std::floor(high / spacing)); ++k) {
            const auto metres = static_cast<int32_t>(k * spacing);
            const double at = ofEasting ? f.left() + (metres - g.west) * mmPerMetre
                                        : f.top() + (g.north - metres) * mmPerMetre;
            const double first = ofEasting ? f.left() : f.top();
            const double last = ofEasting ? f.right() : f.bottom();
            if (at < first + kCornerMm || at > last - kCornerMm) {
                continue;
            }
            if (ofEasting) {
                result.ed50Ticks.push_back({FrameEdge::North, metres, at});
                result.ed50Ticks.push_back({FrameEdge::South, metres, at});
            } else {
                result.ed50Ticks.push_back({FrameEdge::West, metres, at});
                result.ed50Ticks.push_back({FrameEdge::East, metres, at});
            }
        }
    }
    *out = std::move(result);
    return true;
}
