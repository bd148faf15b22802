#include "exports/ExportGeometry.h"

#include "exports/GdalSupport.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <type_traits>

namespace {

// The image's own grid.
constexpr int kEd50Utm30 = 23030;
// Points along each edge of the rectangle, so that the bulge of its moved outline counts.
constexpr int kEdgePoints = 21;
// Web Mercator's zoom levels stop here in every reader.
constexpr int kLastZoom = 24;

bool Fail(QString* error, const QString& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

} // namespace

std::array<double, 6> GridArea::geoTransform() const {
    return {west, (east - west) / width, 0.0, north, 0.0, -(north - south) / height};
}

bool GridAreaOfJob(const DownloadJob& job, int imageWidth, int imageHeight, GridArea* area,
                   QString* error) {
    GridArea a;
    a.west = job.easting;
    a.north = static_cast<double>(job.northingField) + kNorthingOffset;
    a.east = job.cornerEasting;
    a.south = static_cast<double>(job.cornerNorthingField) + kNorthingOffset;
    a.width = job.widthPixels;
    a.height = job.heightPixels;
    if (a.width <= 0 || a.height <= 0 || !(a.east > a.west) || !(a.north > a.south)) {
        return Fail(error, QStringLiteral("la zona no tiene tamaño"));
    }
    if (a.width != imageWidth || a.height != imageHeight) {
        return Fail(error,
                    QStringLiteral("la imagen (%1 x %2 píxeles) no es la de la zona (%3 x %4)")
                        .arg(imageWidth)
                        .arg(imageHeight)
                        .arg(a.width)
                        .arg(a.height));
    }
    *area = a;
    return true;
}

int MovedCrsEpsg(MovedCrs crs) {
    return crs == MovedCrs::WebMercator ? 3857 : 4326;
}

std::string PipelineThen(const QString& etrs89Pipeline, const std::string& steps) {
    const std::string base = etrs89Pipeline.trimmed().toStdString();
    return base.rfind("+proj=pipeline ", 0) == 0 ? base + steps : std::string();
}

QString NoDatumChangeText() {
    return QStringLiteral("no hay transformación de ED50 a ETRS89 para la zona");
}

std::string PipelineTo(MovedCrs crs, const QString& etrs89Pipeline) {
    // ETRS89 longitude and latitude in degrees are taken as WGS 84's.
    if (crs == MovedCrs::WebMercator) {
        return PipelineThen(etrs89Pipeline,
                            " +step +proj=unitconvert +xy_in=deg +xy_out=rad"
                            " +step +proj=webmerc +lat_0=0 +lon_0=0 +x_0=0 +y_0=0 +ellps=WGS84");
    }
    return PipelineThen(etrs89Pipeline, " +step +proj=axisswap +order=2,1");
}

namespace {

// The change from the image's grid to the CRS through the pipeline; null when it cannot be
// made.
OgrTransform TransformTo(MovedCrs crs, const std::string& pipeline) {
    return PipelineTransform(kEd50Utm30, MovedCrsEpsg(crs), pipeline);
}

} // namespace

bool MoveArea(const GridArea& area, MovedCrs crs, const std::string& pipeline, MovedArea* moved,
              QString* error) {
    const OgrTransform transform = TransformTo(crs, pipeline);
    if (!transform) {
        return Fail(error, NoDatumChangeText());
    }
    MovedArea m;
    if (!OCTTransformBounds(transform.get(), area.west, area.south, area.east, area.north, &m.minX,
                            &m.minY, &m.maxX, &m.maxY, kEdgePoints)) {
        return Fail(error, QStringLiteral("PROJ no puede transformar la zona"));
    }
    // One pixel east and one north of the centre: their moved lengths are the pixel's there.
    const double x0 = (area.west + area.east) / 2.0;
    const double y0 = (area.south + area.north) / 2.0;
    double x[] = {x0, x0 + (area.east - area.west) / area.width, x0};
    double y[] = {y0, y0, y0 + (area.north - area.south) / area.height};
    int ok[3] = {0, 0, 0};
    if (!OCTTransformEx(transform.get(), 3, x, y, nullptr, ok) || !ok[0] || !ok[1] || !ok[2]) {
        return Fail(error, QStringLiteral("PROJ no puede transformar la zona"));
    }
    m.stepX = std::hypot(x[1] - x[0], y[1] - y[0]);
    m.stepY = std::hypot(x[2] - x[0], y[2] - y[0]);
    if (!(m.stepX > 0.0 && m.stepY > 0.0 && m.maxX > m.minX && m.maxY > m.minY)) {
        return Fail(error, QStringLiteral("PROJ no puede transformar la zona"));
    }
    *moved = m;
    return true;
}

bool MoveOutline(const GridArea& area, MovedCrs crs, const std::string& pipeline, int perEdge,
                 std::vector<GridPoint>* outline, QString* error) {
    const OgrTransform transform = TransformTo(crs, pipeline);
    if (!transform || perEdge < 1) {
        return Fail(error, NoDatumChangeText());
    }
    // Clockwise from the upper-left corner, each edge without its last point.
    const double corners[][2] = {{area.west, area.north},
                                 {area.east, area.north},
                                 {area.east, area.south},
                                 {area.west, area.south}};
    std::vector<double> x;
    std::vector<double> y;
    for (int edge = 0; edge < 4; ++edge) {
        const double* from = corners[edge];
        const double* to = corners[(edge + 1) % 4];
        for (int i = 0; i < perEdge; ++i) {
            const double t = static_cast<double>(i) / perEdge;
            x.push_back(from[0] + t * (to[0] - from[0]));
            y.push_back(from[1] + t * (to[1] - from[1]));
        }
    }
    std::vector<int> ok(x.size(), 0);
    if (!OCTTransformEx(transform.get(), static_cast<int>(x.size()), x.data(), y.data(), nullptr,
                        ok.data()) ||
        std::find(ok.begin(), ok.end(), 0) != ok.end()) {
        return Fail(error, QStringLiteral("PROJ no puede transformar la zona"));
    }
    outline->clear();
    for (size_t i = 0; i < x.size(); ++i) {
        outline->push_back({x[i], y[i]});
    }
    return true;
}

double WebMercatorPixel(int zoom) {
    return 2.0 * kWebMercatorHalfWorld / kWebTilePixels / std::ldexp(1.0, zoom);
}

ZoomRange WebMercatorZooms(double width, double height, double pixel) {
    // A hair of tolerance so that a pixel exactly a zoom's does not take the next zoom.
    constexpr double kSlack = 1e-9;
    ZoomRange range;
    while (range.maxZoom < kLastZoom && WebMercatorPixel(range.maxZoom) > pixel * (1.0 + kSlack)) {
        ++range.maxZoom;
    }
    const double side = std::max(width, height);
    range.minZoom = range.maxZoom;
    while (range.minZoom > 0 &&
           side > kWebTilePixels * WebMercatorPixel(range.minZoom) * (1.0 + kSlack)) {
        --range.minZoom;
    }
    return range;
}

std::vector<PixelWindow> SplitIntoWindows(int width, int height, int maxSide) {
    std::vector<PixelWindow> windows;
    if (width <= 0 || height <= 0 || maxSide <= 0) {
        return windows;
    }
    const int across = (width + maxSide - 1) / maxSide;
    const int down = (height + maxSide - 1) / maxSide;
    // Edges at i * size / count, so that neighbours differ by one pixel at most.
    const auto edge = [](int i, int size, int count) {
        return static_cast<int>(static_cast<long long>(i) * size / count);
    };
    for (int row = 0; row < down; ++row) {
        for (int column = 0; column < across; ++column) {
            PixelWindow w;
            w.x = edge(column, width, across);
            w.y = edge(row, height, down);
            w.width = edge(column + 1, width, across) - w.x;
            w.height = edge(row + 1, height, down) - w.y;
            windows.push_back(w);
        }
    }
    return windows;
}

namespace {

// A stretch of a grid line inside the outline: [low, high] along the line.
struct Span {
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
    bool empty() const { return !(low <= high); }
};

// The stretches of one grid line inside the outline. `along` picks the coordinate along the
// line, `across` the other. The edges of a UTM area along the grid's rows bend on the degrees'
// grid, so a line may cross one of them twice. Lines a hair to either side are taken, so
// that an edge lying on the line itself counts as inside.
std::vector<Span> SpansAt(const std::vector<GridPoint>& outline, double at,
                          double GridPoint::*along, double GridPoint::*across) {
    constexpr double kHair = 1e-7;
    std::vector<Span> spans;
    for (const double line : {at - kHair, at + kHair}) {
        std::vector<double> crossings;
        for (size_t i = 0; i < outline.size(); ++i) {
            const GridPoint& p = outline[i];
            const GridPoint& q = outline[(i + 1) % outline.size()];
            if ((p.*across <= line) != (q.*across <= line)) {
                crossings.push_back(p.*along + (q.*along - p.*along) * (line - p.*across) /
                                                   (q.*across - p.*across));
            }
        }
        std::sort(crossings.begin(), crossings.end());
        for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
            spans.push_back({crossings[i], crossings[i + 1]});
        }
    }
    return spans;
}

// The stretches of the outline on every grid line 0 to count.
std::vector<std::vector<Span>> Spans(const std::vector<GridPoint>& outline, int count,
                                     double GridPoint::*along, double GridPoint::*across) {
    std::vector<std::vector<Span>> spans;
    for (int line = 0; line <= count; ++line) {
        spans.push_back(SpansAt(outline, line, along, across));
    }
    return spans;
}

// The whole of the outline on a line: from its first stretch to its last.
Span Outer(const std::vector<Span>& spans) {
    Span outer;
    for (const Span& s : spans) {
        outer.low = std::min(outer.low, s.low);
        outer.high = std::max(outer.high, s.high);
    }
    return outer;
}

// On each horizontal line of the window, the stretch that overlaps it most.
std::vector<Span> WindowSpans(const PixelWindow& w, const std::vector<std::vector<Span>>& rows) {
    std::vector<Span> chosen;
    for (int line = w.y; line <= w.y + w.height; ++line) {
        Span best;
        double overlap = 0.0;
        for (const Span& s : rows[static_cast<size_t>(line)]) {
            const double o = std::min<double>(s.high, w.x + w.width) - std::max<double>(s.low, w.x);
            if (o > overlap) {
                overlap = o;
                best = s;
            }
        }
        chosen.push_back(best);
    }
    return chosen;
}

// The largest rectangle of whole pixels inside the window and the outline, whose stretches on
// the window's horizontal lines are `rows` (the first at the window's top): for each pair of
// top and bottom lines, the columns every line between them holds.
PixelWindow LargestInside(const PixelWindow& w, const std::vector<Span>& rows) {
    // A hair of slack, so that an edge exactly on a pixel's edge counts as inside.
    constexpr double kSlack = 1e-9;
    const auto holds = [&](int line) {
        const Span& s = rows[static_cast<size_t>(line - w.y)];
        return s.low <= w.x + kSlack && s.high >= w.x + w.width - kSlack;
    };
    bool whole = true;
    for (int line = w.y; whole && line <= w.y + w.height; ++line) {
        whole = holds(line);
    }
    if (whole) {
        return w;
    }
    PixelWindow best{w.x, w.y, 0, 0};
    long long bestArea = 0;
    for (int top = w.y; top < w.y + w.height; ++top) {
        double left = -HUGE_VAL;
        double right = HUGE_VAL;
        for (int bottom = top; bottom <= w.y + w.height; ++bottom) {
            const Span& s = rows[static_cast<size_t>(bottom - w.y)];
            if (s.empty()) {
                break;
            }
            left = std::max(left, s.low);
            right = std::min(right, s.high);
            const int x0 = std::max(w.x, static_cast<int>(std::ceil(left - kSlack)));
            const int x1 = std::min(w.x + w.width, static_cast<int>(std::floor(right + kSlack)));
            if (x1 <= x0) {
                break;
            }
            const long long area = static_cast<long long>(x1 - x0) * (bottom - top);
            if (area > bestArea) {
                bestArea = area;
                best = {x0, top, x1 - x0, bottom - top};
            }
        }
    }
    return best;
}

} // namespace

WindowsInside WindowsInsideOutline(const std::vector<GridPoint>& outline, int width, int height,
                                   int maxSide) {
    WindowsInside inside;
    if (outline.size() < 3) {
        return inside;
    }
    const std::vector<std::vector<Span>> rows =
        Spans(outline, height, &GridPoint::x, &GridPoint::y);
    std::vector<Span> rowsOuter;
    for (const std::vector<Span>& r : rows) {
        rowsOuter.push_back(Outer(r));
    }
    std::vector<Span> columns;
    for (const std::vector<Span>& c : Spans(outline, width, &GridPoint::y, &GridPoint::x)) {
        columns.push_back(Outer(c));
    }
    double covered = 0.0;
    for (const PixelWindow& w : SplitIntoWindows(width, height, maxSide)) {
        const PixelWindow t = LargestInside(w, WindowSpans(w, rows));
        if (t.width <= 0 || t.height <= 0) {
            continue;
        }
        inside.windows.push_back(t);
        covered += static_cast<double>(t.width) * t.height;
        // How far the area reaches past the sides the window has on the grid's edges.
        for (int x = t.x; w.y == 0 && x <= t.x + t.width; ++x) {
            inside.gap = std::max(inside.gap, t.y - columns[static_cast<size_t>(x)].low);
        }
        for (int x = t.x; w.y + w.height == height && x <= t.x + t.width; ++x) {
            inside.gap =
                std::max(inside.gap, columns[static_cast<size_t>(x)].high - (t.y + t.height));
        }
        for (int y = t.y; w.x == 0 && y <= t.y + t.height; ++y) {
            inside.gap = std::max(inside.gap, t.x - rowsOuter[static_cast<size_t>(y)].low);
        }
        for (int y = t.y; w.x + w.width == width && y <= t.y + t.height; ++y) {
            inside.gap =
                std::max(inside.gap, rowsOuter[static_cast<size_t>(y)].high - (t.x + t.width));
        }
    }
    // The outline's own area, by the shoelace formula.
    double twice = 0.0;
    for (size_t i = 0; i < outline.size(); ++i) {
        const GridPoint& p = outline[i];
        const GridPoint& q = outline[(i + 1) % outline.size()];
        twice += p.x * q.y - q.x * p.y;
    }
    inside.covered = twice == 0.0 ? 0.0 : covered / (std::fabs(twice) / 2.0);
    return inside;
}
