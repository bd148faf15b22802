#include "exports/ExportGeometry.h"

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

struct SrsDeleter {
    void operator()(OGRSpatialReferenceH srs) const { OSRDestroySpatialReference(srs); }
};
using Srs = std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, SrsDeleter>;
struct TransformDeleter {
    void operator()(OGRCoordinateTransformationH t) const { OCTDestroyCoordinateTransformation(t); }
};
using Transform =
    std::unique_ptr<std::remove_pointer_t<OGRCoordinateTransformationH>, TransformDeleter>;
struct OptionsDeleter {
    void operator()(OGRCoordinateTransformationOptionsH o) const {
        OCTDestroyCoordinateTransformationOptions(o);
    }
};
using TransformOptions =
    std::unique_ptr<std::remove_pointer_t<OGRCoordinateTransformationOptionsH>, OptionsDeleter>;

// x before y whatever the order of the CRS's own axes, as GDAL's rasters have them.
Srs EpsgSrs(int code) {
    Srs srs(OSRNewSpatialReference(nullptr));
    if (!srs || OSRImportFromEPSG(srs.get(), code) != OGRERR_NONE) {
        return nullptr;
    }
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

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

std::string PipelineTo(MovedCrs crs, const QString& etrs89Pipeline) {
    const std::string base = etrs89Pipeline.trimmed().toStdString();
    if (base.rfind("+proj=pipeline ", 0) != 0) {
        return {};
    }
    // ETRS89 longitude and latitude in degrees are taken as WGS 84's.
    if (crs == MovedCrs::WebMercator) {
        return base + " +step +proj=unitconvert +xy_in=deg +xy_out=rad"
                      " +step +proj=webmerc +lat_0=0 +lon_0=0 +x_0=0 +y_0=0 +ellps=WGS84";
    }
    return base + " +step +proj=axisswap +order=2,1";
}

bool MoveArea(const GridArea& area, MovedCrs crs, const std::string& pipeline, MovedArea* moved,
              QString* error) {
    const Srs source = EpsgSrs(kEd50Utm30);
    const Srs target = EpsgSrs(MovedCrsEpsg(crs));
    const TransformOptions options(OCTNewCoordinateTransformationOptions());
    if (!source || !target || !options || pipeline.empty() ||
        !OCTCoordinateTransformationOptionsSetOperation(options.get(), pipeline.c_str(), FALSE)) {
        return Fail(error, QStringLiteral("no hay transformación de ED50 a ETRS89 para la zona"));
    }
    const Transform transform(
        OCTNewCoordinateTransformationEx(source.get(), target.get(), options.get()));
    MovedArea m;
    if (!transform ||
        !OCTTransformBounds(transform.get(), area.west, area.south, area.east, area.north, &m.minX,
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
