#include "exports/FormatWriters.h"

#include <QStringList>

#include <gdal_utils.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr int kQuality = 85;
constexpr double kPi = 3.14159265358979323846;
// Levels above the one where the whole area is one tile: about a phone's screen.
constexpr int kCentreZoomsAboveLowest = 2;

struct TranslateOptionsDeleter {
    void operator()(GDALTranslateOptions* o) const { GDALTranslateOptionsFree(o); }
};
struct WarpOptionsDeleter {
    void operator()(GDALWarpAppOptions* o) const { GDALWarpAppOptionsFree(o); }
};

// The rectangle on the pixel grid of a zoom level that holds the area.
struct SnappedArea {
    double minX, minY, maxX, maxY;
    int width, height;
};

SnappedArea Snap(const MovedArea& m, double pixel) {
    const double h = kWebMercatorHalfWorld;
    SnappedArea s{};
    const double left = std::floor((m.minX + h) / pixel);
    const double right = std::ceil((m.maxX + h) / pixel);
    const double top = std::floor((h - m.maxY) / pixel);
    const double bottom = std::ceil((h - m.minY) / pixel);
    s.minX = -h + left * pixel;
    s.maxX = -h + right * pixel;
    s.maxY = h - top * pixel;
    s.minY = h - bottom * pixel;
    s.width = static_cast<int>(right - left);
    s.height = static_cast<int>(bottom - top);
    return s;
}

// "west,south,east,north" in degrees, as the MBTiles metadata keeps its bounds.
std::string BoundsText(const MovedArea& g) {
    return GdalArguments::Number(g.minX) + ',' + GdalArguments::Number(g.minY) + ',' +
           GdalArguments::Number(g.maxX) + ',' + GdalArguments::Number(g.maxY);
}

// "west,south,east,north" as the metadata keeps them, read back as numbers.
bool SameBounds(const char* text, const MovedArea& g) {
    const QStringList parts = QString::fromUtf8(text).split(u',');
    const double meant[] = {g.minX, g.minY, g.maxX, g.maxY};
    if (parts.size() != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        bool number = false;
        const double value = parts.at(i).toDouble(&number);
        if (!number || std::fabs(value - meant[i]) > 1e-9) {
            return false;
        }
    }
    return true;
}

// The metadata a reader finds against what was meant; the first difference, if any.
QString MetadataDifference(GDALDatasetH dataset,
                           const std::vector<std::pair<const char*, std::string>>& meant,
                           const MovedArea& bounds) {
    for (const auto& [key, value] : meant) {
        const char* found = GDALGetMetadataItem(dataset, key, nullptr);
        const bool same =
            found != nullptr &&
            (std::strcmp(key, "bounds") == 0 ? SameBounds(found, bounds) : value == found);
        if (!same) {
            return QStringLiteral("el MBTiles escrito tiene %1=%2, no %3")
                .arg(QLatin1String(key), QString::fromUtf8(found ? found : ""),
                     QString::fromStdString(value));
        }
    }
    return {};
}

} // namespace

WrittenFile WriteMbTiles(const ExportWork& work, const std::string& path) {
    const QString& pipeline = work.input.datum.pipeline;
    const std::string toMercator = PipelineTo(MovedCrs::WebMercator, pipeline);
    MovedArea mercator;
    MovedArea degrees;
    QString reason;
    if (!MoveArea(work.area, MovedCrs::WebMercator, toMercator, &mercator, &reason) ||
        !MoveArea(work.area, MovedCrs::Wgs84, PipelineTo(MovedCrs::Wgs84, pipeline), &degrees,
                  &reason)) {
        return Failure(reason);
    }
    const ZoomRange zooms =
        WebMercatorZooms(mercator.maxX - mercator.minX, mercator.maxY - mercator.minY,
                         std::min(mercator.stepX, mercator.stepY));
    const double pixel = WebMercatorPixel(zooms.maxZoom);
    const SnappedArea grid = Snap(mercator, pixel);

    // The image moved once, onto the pixels of the most detailed level, so that the tiles
    // are cut from it without a second resampling.
    GdalArguments warpArguments{"-of", "VRT", "-t_srs", "EPSG:3857", "-ct", toMercator};
    warpArguments.add("-te")
        .add(GdalArguments::Number(grid.minX))
        .add(GdalArguments::Number(grid.minY))
        .add(GdalArguments::Number(grid.maxX))
        .add(GdalArguments::Number(grid.maxY))
        .add("-ts")
        .add(std::to_string(grid.width))
        .add(std::to_string(grid.height))
        .add("-r", "bilinear");
    const std::unique_ptr<GDALWarpAppOptions, WarpOptionsDeleter> warpOptions(
        GDALWarpAppOptionsNew(warpArguments.list(), nullptr));
    GDALDatasetH source = work.image;
    GdalDataset moved(warpOptions ? GDALWarp("", nullptr, 1, &source, warpOptions.get(), nullptr)
                                  : nullptr);
    if (!moved) {
        return GdalFailure(work, QStringLiteral("GDAL no puede pasar la imagen a Web Mercator"));
    }

    const std::string name = work.input.job.bmpName.toStdString();
    const std::string bounds = BoundsText(degrees);
    const int centreZoom = std::min(zooms.minZoom + kCentreZoomsAboveLowest, zooms.maxZoom);
    GdalArguments arguments{"-of", "MBTILES"};
    arguments.creation("TILE_FORMAT=JPEG")
        .creation("QUALITY=" + std::to_string(kQuality))
        .creation("ZOOM_LEVEL_STRATEGY=AUTO")
        .creation("RESAMPLING=NEAREST")
        .creation("NAME=" + name)
        .creation("DESCRIPTION=" + name)
        .creation("TYPE=baselayer")
        .creation("BOUNDS=" + bounds)
        .creation("CENTER=" + GdalArguments::Number((degrees.minX + degrees.maxX) / 2) + ',' +
                  GdalArguments::Number((degrees.minY + degrees.maxY) / 2) + ',' +
                  std::to_string(centreZoom));
    const std::unique_ptr<GDALTranslateOptions, TranslateOptionsDeleter> options(
        GDALTranslateOptionsNew(arguments.list(), nullptr));
    if (!options) {
        return GdalFailure(work, QStringLiteral("GDAL no acepta las opciones del MBTiles"));
    }
    const ExportProgress::Stage tiles(work.progress, 0.0, 0.75);
    GDALTranslateOptionsSetProgress(options.get(), tiles.function(), tiles.data());
    GdalDataset written(GDALTranslate(path.c_str(), moved.get(), options.get(), nullptr));
    if (!written) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido escribir el MBTiles"));
    }
    // The levels go into the file as opened anew: the dataset the copy returns records its
    // lowest level wrongly.
    written.reset();
    const char* const driver[] = {"MBTiles", nullptr};
    written.reset(
        GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE, driver, nullptr, nullptr));
    if (!written) {
        return GdalFailure(work, QStringLiteral("GDAL no puede abrir el MBTiles escrito"));
    }
    std::vector<int> factors;
    for (int zoom = zooms.maxZoom - 1; zoom >= zooms.minZoom; --zoom) {
        factors.push_back(1 << (zooms.maxZoom - zoom));
    }
    const ExportProgress::Stage levels(work.progress, 0.75, 0.95);
    if (!factors.empty() &&
        GDALBuildOverviews(written.get(), "AVERAGE", static_cast<int>(factors.size()),
                           factors.data(), 0, nullptr, levels.function(),
                           levels.data()) != CE_None) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido hacer los niveles del MBTiles"));
    }
    written.reset();
    moved.reset();

    // A reader shows the area the bounds give, on the pixels of the most detailed level.
    const double h = kWebMercatorHalfWorld;
    const double west = degrees.minX * h / 180.0;
    const double east = degrees.maxX * h / 180.0;
    const auto northing = [h](double latitude) {
        return std::log(std::tan(kPi / 4.0 + latitude * kPi / 360.0)) * h / kPi;
    };
    const double north = northing(degrees.maxY);
    const double south = northing(degrees.minY);
    const int width = static_cast<int>((east - west) / pixel + 0.5);
    const int height = static_cast<int>((north - south) / pixel + 0.5);
    const GdalDataset back = OpenAndCompare(
        path, {"MBTiles", 3857, width, height, west, south, east, north, pixel}, &reason);
    if (!back) {
        return Failure(reason);
    }
    reason = MetadataDifference(back.get(),
                                {{"name", name},
                                 {"format", "jpg"},
                                 {"bounds", bounds},
                                 {"minzoom", std::to_string(zooms.minZoom)},
                                 {"maxzoom", std::to_string(zooms.maxZoom)}},
                                degrees);
    if (!reason.isEmpty()) {
        return Failure(reason);
    }
    const int overviews = GDALGetOverviewCount(GDALGetRasterBand(back.get(), 1));
    if (overviews != static_cast<int>(factors.size())) {
        return Failure(QStringLiteral("el MBTiles escrito tiene %1 niveles, no %2")
                           .arg(overviews + 1)
                           .arg(factors.size() + 1));
    }
    WrittenFile done;
    done.ok = true;
    done.description = QStringLiteral("MBTiles, Web Mercator con %1, niveles %2 a %3")
                           .arg(work.input.datum.name)
                           .arg(zooms.minZoom)
                           .arg(zooms.maxZoom);
    return done;
}
