#include "exports/FormatWriters.h"
#include "exports/TilePyramid.h"

#include <QStringList>

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr int kQuality = 85;
constexpr double kPi = 3.14159265358979323846;
// Levels above the one where the whole area is one tile: about a phone's screen.
constexpr int kCentreZoomsAboveLowest = 2;

// The whole tiles of the most detailed level that hold the area.
struct TileGrid {
    double minX, maxY, pixel;
    int width, height;
    double maxX() const { return minX + width * pixel; }
    double minY() const { return maxY - height * pixel; }
};

TileGrid TilesHolding(const MovedArea& m, double pixel) {
    const double h = kWebMercatorHalfWorld;
    const double tile = kWebTilePixels * pixel;
    const double left = std::floor((m.minX + h) / tile);
    const double right = std::ceil((m.maxX + h) / tile);
    const double top = std::floor((h - m.maxY) / tile);
    const double bottom = std::ceil((h - m.minY) / tile);
    return {-h + left * tile, h - top * tile, pixel,
            static_cast<int>(right - left) * kWebTilePixels,
            static_cast<int>(bottom - top) * kWebTilePixels};
}

// "west,south,east,north" in degrees, as the MBTiles metadata keeps its bounds.
std::string BoundsText(const MovedArea& g) {
    return GdalArguments::Number(g.minX) + ',' + GdalArguments::Number(g.minY) + ',' +
           GdalArguments::Number(g.maxX) + ',' + GdalArguments::Number(g.maxY);
}

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

// The dataset of each level: the file itself for the most detailed, then its overviews.
std::vector<GDALDatasetH> LevelDatasets(GDALDatasetH file, int levels) {
    std::vector<GDALDatasetH> datasets{file};
    GDALRasterBandH band = GDALGetRasterBand(file, 1);
    for (int i = 0; i + 1 < levels && i < GDALGetOverviewCount(band); ++i) {
        datasets.push_back(GDALGetBandDataset(GDALGetOverview(band, i)));
    }
    return datasets;
}

// Every level from the moved image, read once, each tile written whole: the most detailed
// level into the file, the ones below into its overviews. False, with a fallback reason,
// when GDAL fails or a stop is asked for.
bool WriteLevels(const ExportWork& work, GDALDatasetH moved, GDALDatasetH file,
                 const TileGrid& grid, const ZoomRange& zooms, QString* reason) {
    const int levelCount = zooms.maxZoom - zooms.minZoom + 1;
    const std::vector<GDALDatasetH> datasets = LevelDatasets(file, levelCount);
    std::vector<TilePyramid::Level> levels;
    for (int i = 0; i < static_cast<int>(datasets.size()); ++i) {
        // Rows of the level above its first edge of tiles.
        const double levelPixel = WebMercatorPixel(zooms.maxZoom - i);
        const long long above =
            std::llround((kWebMercatorHalfWorld - grid.maxY) / levelPixel) % kWebTilePixels;
        levels.push_back({GDALGetRasterXSize(datasets[static_cast<size_t>(i)]),
                          GDALGetRasterYSize(datasets[static_cast<size_t>(i)]),
                          kWebTilePixels - static_cast<int>(above)});
    }
    if (static_cast<int>(levels.size()) != levelCount || !TilePyramid::Halves(levels)) {
        *reason = QStringLiteral("GDAL no da los niveles del MBTiles que se esperaban");
        return false;
    }
    TilePyramid pyramid(
        levels, kWebTilePixels, [&](int level, int firstRow, int rows, const uint8_t* pixels) {
            const int width = levels[static_cast<size_t>(level)].width;
            return GDALDatasetRasterIO(datasets[static_cast<size_t>(level)], GF_Write, 0, firstRow,
                                       width, rows, const_cast<uint8_t*>(pixels), width, rows,
                                       GDT_Byte, 3, nullptr, 3, 3 * width, 1) == CE_None;
        });
    *reason = QStringLiteral("GDAL no ha podido escribir el MBTiles");
    std::vector<GByte> stripe(3u * static_cast<size_t>(grid.width) * kWebTilePixels);
    for (int y = 0; y < grid.height; y += kWebTilePixels) {
        if (GDALDatasetRasterIO(moved, GF_Read, 0, y, grid.width, kWebTilePixels, stripe.data(),
                                grid.width, kWebTilePixels, GDT_Byte, 3, nullptr, 3, 3 * grid.width,
                                1) != CE_None ||
            !pyramid.add(stripe.data(), kWebTilePixels) ||
            !work.progress.report(0.9 * (y + kWebTilePixels) / grid.height)) {
            return false;
        }
    }
    return pyramid.finish();
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
    const TileGrid grid = TilesHolding(mercator, pixel);
    const GdalDataset moved = MovedImage(
        work, MovedCrs::WebMercator, toMercator,
        {grid.minX, grid.minY(), grid.maxX(), grid.maxY, pixel, pixel}, grid.width, grid.height);
    if (!moved) {
        return GdalFailure(work, QStringLiteral("GDAL no puede pasar la imagen a Web Mercator"));
    }

    // The file covers whole tiles; the bounds tell readers where the map ends.
    const std::string name = work.input.job.bmpName.toStdString();
    const std::string bounds = BoundsText(degrees);
    const int centreZoom = std::min(zooms.minZoom + kCentreZoomsAboveLowest, zooms.maxZoom);
    GdalArguments creation{"TILE_FORMAT=JPEG",
                           "QUALITY=" + std::to_string(kQuality),
                           "NAME=" + name,
                           "DESCRIPTION=" + name,
                           "TYPE=baselayer",
                           "BOUNDS=" + bounds,
                           "CENTER=" + GdalArguments::Number((degrees.minX + degrees.maxX) / 2) +
                               ',' + GdalArguments::Number((degrees.minY + degrees.maxY) / 2) +
                               ',' + std::to_string(centreZoom)};
    GDALDriverH driver = GDALGetDriverByName("MBTiles");
    GdalDataset written(driver == nullptr ? nullptr
                                          : GDALCreate(driver, path.c_str(), grid.width,
                                                       grid.height, 3, GDT_Byte, creation.list()));
    std::array<double, 6> transform{grid.minX, pixel, 0.0, grid.maxY, 0.0, -pixel};
    if (!written || GDALSetProjection(written.get(), EpsgWkt(3857).c_str()) != CE_None ||
        GDALSetGeoTransform(written.get(), transform.data()) != CE_None) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido crear el MBTiles"));
    }

    const int levelCount = zooms.maxZoom - zooms.minZoom + 1;
    if (!WriteLevels(work, moved.get(), written.get(), grid, zooms, &reason)) {
        return GdalFailure(work, reason);
    }
    written.reset();
    // GDAL records the lowest level in the metadata only when it builds the levels itself:
    // asked to build them without computing anything, it records it for those written here.
    const char* const drivers[] = {"MBTiles", nullptr};
    written.reset(
        GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE, drivers, nullptr, nullptr));
    std::vector<int> factors;
    for (int level = 1; level < levelCount; ++level) {
        factors.push_back(1 << level);
    }
    if (!written || (!factors.empty() &&
                     GDALBuildOverviews(written.get(), "NONE", static_cast<int>(factors.size()),
                                        factors.data(), 0, nullptr, nullptr, nullptr) != CE_None)) {
        return GdalFailure(work, QStringLiteral("GDAL no puede abrir el MBTiles escrito"));
    }
    written.reset();

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
    if (overviews != levelCount - 1) {
        return Failure(QStringLiteral("el MBTiles escrito tiene %1 niveles, no %2")
                           .arg(overviews + 1)
                           .arg(levelCount));
    }
    WrittenFile done;
    done.ok = true;
    done.description = QStringLiteral("MBTiles, Web Mercator con %1, niveles %2 a %3")
                           .arg(work.input.datum.name)
                           .arg(zooms.minZoom)
                           .arg(zooms.maxZoom);
    return done;
}
