#include "exports/FormatWriters.h"
#include "exports/OrderedWorkers.h"
#include "exports/TileEncoding.h"
#include "exports/TilePyramid.h"

#include <QStringList>

#include <ogr_api.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

namespace {

constexpr int kQuality = 85;
constexpr double kPi = 3.14159265358979323846;
// Levels above the one where the whole area is one tile: about a phone's screen.
constexpr int kCentreZoomsAboveLowest = 2;
constexpr int kTile = TilePyramid::kTile;
static_assert(kTile == kWebTilePixels, "the pyramid's tiles are the web's");

// The whole tiles of the most detailed level that hold the area.
struct TileGrid {
    double minX, maxY, pixel;
    int width, height;
    // Its upper-left tile: columns from the west, rows from the north.
    TilePyramid::TileIndex first;
    double maxX() const { return minX + width * pixel; }
    double minY() const { return maxY - height * pixel; }
};

TileGrid TilesHolding(const MovedArea& m, double pixel) {
    const double h = kWebMercatorHalfWorld;
    const double tile = kTile * pixel;
    const double left = std::floor((m.minX + h) / tile);
    const double right = std::ceil((m.maxX + h) / tile);
    const double top = std::floor((h - m.maxY) / tile);
    const double bottom = std::ceil((h - m.minY) / tile);
    return {-h + left * tile,
            h - top * tile,
            pixel,
            static_cast<int>(right - left) * kTile,
            static_cast<int>(bottom - top) * kTile,
            {static_cast<int>(left), static_cast<int>(top)}};
}

// One tile as the file keeps it: rows count from the south, as in TMS.
struct StoredTile {
    int zoom = 0;
    int column = 0;
    int row = 0;
    QByteArray data;
    bool png = false;
};

// The tiles of a row of tiles that hold any of the map: JPEG where the map fills them, PNG
// with the rest transparent where it ends inside them, none where there is nothing.
bool EncodeRow(const uint8_t* pixels, int columns, int zoom, TilePyramid::TileIndex first,
               std::vector<StoredTile>* tiles) {
    const RgbaPixels row{pixels, columns * kTile, kTile, 4u * kTile * static_cast<size_t>(columns)};
    for (int c = 0; c < columns; ++c) {
        const RgbaPixels tile = row.part(c * kTile, 0, kTile, kTile);
        const Coverage coverage = CoverageOf(tile);
        if (coverage == Coverage::Empty) {
            continue;
        }
        StoredTile stored;
        stored.zoom = zoom;
        stored.column = first.column + c;
        stored.row = (1 << zoom) - 1 - first.row;
        stored.png = coverage == Coverage::Partial;
        if (!(stored.png ? EncodePng(tile, &stored.data)
                         : EncodeJpeg(tile, kQuality, &stored.data))) {
            return false;
        }
        tiles->push_back(std::move(stored));
    }
    return true;
}

// The file as the MBTiles format lays it out (a metadata table of names and values,
// a tiles table), written through GDAL's SQLite driver in one transaction.
class TileDatabase {
public:
    ~TileDatabase() {
        if (m_db && m_open) {
            GDALDatasetRollbackTransaction(m_db.get());
        }
    }

    bool create(const std::string& path) {
        GDALDriverH driver = GDALGetDriverByName("SQLite");
        // A plain SQLite file, without the tables GDAL keeps for its own vector layers.
        GdalArguments options{"METADATA=NO"};
        m_db.reset(driver == nullptr
                       ? nullptr
                       : GDALCreate(driver, path.c_str(), 0, 0, 0, GDT_Unknown, options.list()));
        if (!m_db) {
            return false;
        }
        for (const char* sql : {"CREATE TABLE metadata (name TEXT, value TEXT)",
                                "CREATE TABLE tiles (zoom_level INTEGER NOT NULL, "
                                "tile_column INTEGER NOT NULL, tile_row INTEGER NOT NULL, "
                                "tile_data BLOB NOT NULL, "
                                "UNIQUE (zoom_level, tile_column, tile_row))"}) {
            const GdalErrorCapture errors;
            GDALDatasetExecuteSQL(m_db.get(), sql, nullptr, nullptr);
            if (errors.failed()) {
                return false;
            }
        }
        m_metadata = GDALDatasetGetLayerByName(m_db.get(), "metadata");
        m_tiles = GDALDatasetGetLayerByName(m_db.get(), "tiles");
        m_open = m_metadata != nullptr && m_tiles != nullptr &&
                 GDALDatasetStartTransaction(m_db.get(), FALSE) == OGRERR_NONE;
        return m_open;
    }

    bool add(const StoredTile& tile) {
        OGRFeatureH row = OGR_F_Create(OGR_L_GetLayerDefn(m_tiles));
        OGR_F_SetFieldInteger(row, 0, tile.zoom);
        OGR_F_SetFieldInteger(row, 1, tile.column);
        OGR_F_SetFieldInteger(row, 2, tile.row);
        OGR_F_SetFieldBinary(row, 3, static_cast<int>(tile.data.size()),
                             reinterpret_cast<const GByte*>(tile.data.constData()));
        const bool added = OGR_L_CreateFeature(m_tiles, row) == OGRERR_NONE;
        OGR_F_Destroy(row);
        return added;
    }

    bool setMetadata(const char* name, const std::string& value) {
        OGRFeatureH row = OGR_F_Create(OGR_L_GetLayerDefn(m_metadata));
        OGR_F_SetFieldString(row, 0, name);
        OGR_F_SetFieldString(row, 1, value.c_str());
        const bool added = OGR_L_CreateFeature(m_metadata, row) == OGRERR_NONE;
        OGR_F_Destroy(row);
        return added;
    }

    // Commits and closes the file.
    bool commit() {
        m_open = false;
        const bool committed = GDALDatasetCommitTransaction(m_db.get()) == OGRERR_NONE;
        m_db.reset();
        return committed;
    }

private:
    GdalDataset m_db;
    OGRLayerH m_metadata = nullptr;
    OGRLayerH m_tiles = nullptr;
    bool m_open = false;
};

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

using Metadata = std::vector<std::pair<const char*, std::string>>;

// The metadata a reader finds against what was meant; the first difference, if any.
QString MetadataDifference(GDALDatasetH dataset, const Metadata& meant, const MovedArea& bounds) {
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

// A row of tiles of the most detailed level, moved and encoded on a worker.
struct Stripe {
    std::vector<uint8_t> pixels;
    std::vector<StoredTile> tiles;
};

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
    if (!work.progress.report(0.0)) {
        return Failure({});
    }

    TileDatabase db;
    if (!db.create(path)) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido crear el MBTiles"));
    }
    bool anyPng = false;
    const auto store = [&](const std::vector<StoredTile>& tiles) {
        for (const StoredTile& tile : tiles) {
            anyPng = anyPng || tile.png;
            if (!db.add(tile)) {
                return false;
            }
        }
        return true;
    };
    // The levels below come from the rows of tiles as they are stored, in order, here.
    TilePyramid pyramid(
        grid.width / kTile, grid.first, zooms.maxZoom - zooms.minZoom,
        [&](int level, TilePyramid::TileIndex first, int columns, const uint8_t* pixels) {
            std::vector<StoredTile> tiles;
            return EncodeRow(pixels, columns, zooms.maxZoom - level, first, &tiles) && store(tiles);
        });

    // The most detailed level is moved and encoded a row of tiles at a time on the workers.
    const TargetGrid target{MovedCrs::WebMercator,
                            {grid.minX, pixel, 0.0, grid.maxY, 0.0, -pixel},
                            grid.width,
                            grid.height};
    const size_t rowBytes = 4u * static_cast<size_t>(grid.width);
    const int stripes = grid.height / kTile;
    const int threads = WorkerThreads();
    using Context = std::unique_ptr<WarpContext>;
    OrderedWorkers<Stripe, Context> workers(
        stripes, threads, 2 * threads,
        [&] { return std::make_unique<WarpContext>(work, target, toMercator); },
        [&](int index, Context& context) -> std::optional<Stripe> {
            Stripe s;
            s.pixels.resize(rowBytes * kTile);
            const TilePyramid::TileIndex first{grid.first.column, grid.first.row + index};
            if (work.progress.stopRequested() ||
                !context->warp.warp(0, index * kTile, grid.width, kTile, s.pixels.data(),
                                    rowBytes) ||
                !EncodeRow(s.pixels.data(), grid.width / kTile, zooms.maxZoom, first, &s.tiles)) {
                return std::nullopt;
            }
            return s;
        });
    reason = QStringLiteral("GDAL no ha podido escribir el MBTiles");
    for (int index = 0; index < stripes; ++index) {
        const std::optional<Stripe> stripe = workers.take(index);
        if (!stripe) {
            return Failure(QStringLiteral("GDAL no puede pasar la imagen a Web Mercator"));
        }
        if (!store(stripe->tiles) || !pyramid.add(stripe->pixels.data())) {
            return GdalFailure(work, reason);
        }
        if (!work.progress.report(0.9 * (index + 1) / stripes)) {
            return Failure({});
        }
    }
    if (!pyramid.finish()) {
        return GdalFailure(work, reason);
    }

    // The file covers whole tiles; the bounds tell readers where the map ends. A file with
    // transparent tiles says png, as GDAL's own writer does for any but all-JPEG tiles, and
    // GDAL then reads it with its alpha.
    const std::string name = work.input.job.bmpName.toStdString();
    const std::string bounds = BoundsText(degrees);
    const int centreZoom = std::min(zooms.minZoom + kCentreZoomsAboveLowest, zooms.maxZoom);
    const Metadata metadata{
        {"name", name},
        {"type", "baselayer"},
        {"version", "1.1"},
        {"description", name},
        {"format", anyPng ? "png" : "jpg"},
        {"bounds", bounds},
        {"center", GdalArguments::Number((degrees.minX + degrees.maxX) / 2) + ',' +
                       GdalArguments::Number((degrees.minY + degrees.maxY) / 2) + ',' +
                       std::to_string(centreZoom)},
        {"minzoom", std::to_string(zooms.minZoom)},
        {"maxzoom", std::to_string(zooms.maxZoom)},
    };
    for (const auto& [key, value] : metadata) {
        if (!db.setMetadata(key, value)) {
            return GdalFailure(work, reason);
        }
    }
    if (!db.commit()) {
        return GdalFailure(work, reason);
    }

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
    reason = MetadataDifference(back.get(), metadata, degrees);
    if (!reason.isEmpty()) {
        return Failure(reason);
    }
    const int levelCount = zooms.maxZoom - zooms.minZoom + 1;
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
