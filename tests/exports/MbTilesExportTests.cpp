// The MBTiles: the image moved to Web Mercator through the calibration's datum change, in
// 256-pixel tiles from full detail down to the level where it fits one tile (JPEG where the
// map fills a tile, PNG with the rest transparent where it ends inside one), read back with
// GDAL's tools as the map apps' libraries read it.
#include "tests/exports/ExportTestSupport.h"
#include "tests/geo/GeoTestTools.h"
#include "tests/support/TestFiles.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gdal.h>
#include <ogr_api.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kHalfWorld = 20037508.342789244;

// A small grid near Pamplona, the same at 100 m tiles (a deeper zoom), and 30 km of terrain.
const ExportCase kCases[] = {
    {QStringLiteral("3 x 2 tiles of 1000 m"), QStringLiteral("585000"), QStringLiteral("730000"),
     MapKind::Orto, 1, 3, 2},
    {QStringLiteral("2 x 3 tiles of 100 m"), QStringLiteral("640000"), QStringLiteral("700000"),
     MapKind::Orto, 4, 2, 3},
    {QStringLiteral("3 x 3 tiles of 10000 m"), QStringLiteral("560000"), QStringLiteral("760000"),
     MapKind::MDT, 0, 3, 3},
};

QJsonObject Metadata(const QJsonObject& report) {
    return report.value(QStringLiteral("metadata")).toObject().value(QString()).toObject();
}

// The zoom levels worked out here from PROJ's own numbers: the most detailed level is the
// first whose pixel is no larger than the image's moved one, the least detailed the last
// where the area's larger side fits 256 pixels.
struct Zooms {
    int minZoom, maxZoom;
};

Zooms ExpectedZooms(const Ed50Rect& r, const ExportInput& input) {
    const double e = (r.west + r.east) / 2;
    const double n = (r.south + r.north) / 2;
    const double step = (r.east - r.west) / input.image.width();
    const QPointF centre = MovedPoint(r, e, n);
    const QPointF east = MovedPoint(r, e + step, n);
    const QPointF north = MovedPoint(r, e, n + step);
    const QPointF c = WebMercator(centre.x(), centre.y());
    const QPointF ex = WebMercator(east.x(), east.y());
    const QPointF nx = WebMercator(north.x(), north.y());
    const double pixel = std::min(std::hypot(ex.x() - c.x(), ex.y() - c.y()),
                                  std::hypot(nx.x() - c.x(), nx.y() - c.y()));
    const LonLatBox box = MovedBox(r);
    const QPointF low = WebMercator(box.west, box.south);
    const QPointF high = WebMercator(box.east, box.north);
    const double side = std::max(high.x() - low.x(), high.y() - low.y());
    const int maxZoom = static_cast<int>(std::ceil(std::log2(2 * kHalfWorld / 256 / pixel)));
    const int minZoom =
        std::min(maxZoom, static_cast<int>(std::floor(std::log2(2 * kHalfWorld / side))));
    return {minZoom, maxZoom};
}

class MbTilesExport : public ::testing::TestWithParam<ExportCase> {};

TEST_P(MbTilesExport, IsWebMercatorBoundedByTheAreaMovedWithTheNamedOperation) {
    QTemporaryDir dir;
    const ExportInput input = MakeExportInput(GetParam(), dir.path());
    const ExportResult result = ExportNow(ExportFormat::MbTiles, input);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    const QString file = dir.filePath(QStringLiteral("Prueba.mbtiles"));
    QJsonObject report;
    ASSERT_TRUE(GdalInfo(file, &report));
    EXPECT_EQ(report.value(QStringLiteral("driverShortName")).toString(),
              QStringLiteral("MBTiles"));
    EXPECT_EQ(
        report.value(QStringLiteral("stac")).toObject().value(QStringLiteral("proj:epsg")).toInt(),
        3857);

    const QJsonObject metadata = Metadata(report);
    EXPECT_EQ(metadata.value(QStringLiteral("name")).toString(), QStringLiteral("Prueba"));
    // Transparent tiles make it png, as GDAL writes it, and GDAL reads it with its alpha.
    EXPECT_EQ(metadata.value(QStringLiteral("format")).toString(), QStringLiteral("png"));
    EXPECT_EQ(report.value(QStringLiteral("bands")).toArray().size(), 4);
    const QStringList bounds = metadata.value(QStringLiteral("bounds")).toString().split(u',');
    ASSERT_EQ(bounds.size(), 4);
    const LonLatBox box = MovedBox(RectOf(input.job));
    EXPECT_NEAR(bounds[0].toDouble(), box.west, 1e-6);
    EXPECT_NEAR(bounds[1].toDouble(), box.south, 1e-6);
    EXPECT_NEAR(bounds[2].toDouble(), box.east, 1e-6);
    EXPECT_NEAR(bounds[3].toDouble(), box.north, 1e-6);

    const Zooms zooms = ExpectedZooms(RectOf(input.job), input);
    EXPECT_EQ(metadata.value(QStringLiteral("minzoom")).toString().toInt(), zooms.minZoom);
    EXPECT_EQ(metadata.value(QStringLiteral("maxzoom")).toString().toInt(), zooms.maxZoom);
    const QStringList centre = metadata.value(QStringLiteral("center")).toString().split(u',');
    ASSERT_EQ(centre.size(), 3);
    EXPECT_NEAR(centre[0].toDouble(), (box.west + box.east) / 2, 1e-6);
    EXPECT_NEAR(centre[1].toDouble(), (box.south + box.north) / 2, 1e-6);
    EXPECT_GE(centre[2].toInt(), zooms.minZoom);
    EXPECT_LE(centre[2].toInt(), zooms.maxZoom);
    EXPECT_TRUE(result.logLines.value(0).endsWith(QStringLiteral("con %1, niveles %2 a %3)")
                                                      .arg(input.datum.name)
                                                      .arg(zooms.minZoom)
                                                      .arg(zooms.maxZoom)))
        << result.logLines.value(0).toStdString();

    // The pixels are the most detailed level's, the tiles 256 pixels, and every level down to
    // the one where the whole area fits a tile is there.
    const QJsonArray transform = report.value(QStringLiteral("geoTransform")).toArray();
    EXPECT_NEAR(transform.at(1).toDouble(), 2 * kHalfWorld / 256 / std::ldexp(1.0, zooms.maxZoom),
                1e-9);
    const QJsonObject band = report.value(QStringLiteral("bands")).toArray().at(0).toObject();
    EXPECT_EQ(band.value(QStringLiteral("block")).toArray(), (QJsonArray{256, 256}));
    const QJsonArray overviews = band.value(QStringLiteral("overviews")).toArray();
    ASSERT_EQ(overviews.size(), zooms.maxZoom - zooms.minZoom);
    const auto larger = [](const QJsonValue& o) {
        const QJsonArray s = o.toObject().value(QStringLiteral("size")).toArray();
        return std::max(s.at(0).toInt(), s.at(1).toInt());
    };
    if (!overviews.isEmpty()) {
        EXPECT_LE(larger(overviews.last()), 256);
        EXPECT_GT(overviews.size() > 1
                      ? larger(overviews.at(overviews.size() - 2))
                      : std::max(report.value(QStringLiteral("size")).toArray().at(0).toInt(),
                                 report.value(QStringLiteral("size")).toArray().at(1).toInt()),
                  256);
    }
}

struct StoredTile {
    int zoom, column, row;
    QByteArray data;
};

// Every tile of the file, as a map app reads them from its SQLite tables. GDAL's SQLite driver
// leaves a file named .mbtiles to the MBTiles one: it reads a copy under another name.
std::vector<StoredTile> Tiles(const QString& file) {
    const QString copy = file + QStringLiteral(".sqlite");
    EXPECT_TRUE(QFile::copy(file, copy));
    const char* const drivers[] = {"SQLite", nullptr};
    GDALDatasetH db = GDALOpenEx(copy.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY,
                                 drivers, nullptr, nullptr);
    EXPECT_NE(db, nullptr);
    std::vector<StoredTile> tiles;
    OGRLayerH rows = db ? GDALDatasetExecuteSQL(
                              db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles",
                              nullptr, nullptr)
                        : nullptr;
    for (OGRFeatureH row; rows != nullptr && (row = OGR_L_GetNextFeature(rows)) != nullptr;) {
        int size = 0;
        const GByte* data = OGR_F_GetFieldAsBinary(row, 3, &size);
        tiles.push_back({OGR_F_GetFieldAsInteger(row, 0), OGR_F_GetFieldAsInteger(row, 1),
                         OGR_F_GetFieldAsInteger(row, 2),
                         QByteArray(reinterpret_cast<const char*>(data), size)});
        OGR_F_Destroy(row);
    }
    if (rows != nullptr) {
        GDALDatasetReleaseResultSet(db, rows);
    }
    GDALClose(db);
    return tiles;
}

// Where the map does not reach, nothing is drawn over the app's own map: no tile holds black
// fill, a tile the map fills is JPEG, and one where it ends is PNG, transparent beyond.
TEST_P(MbTilesExport, HoldsNoBlackWhereThereIsNoMap) {
    QTemporaryDir dir;
    const ExportInput input = MakeExportInput(GetParam(), dir.path());
    ASSERT_TRUE(ExportNow(ExportFormat::MbTiles, input).ok);
    const std::vector<StoredTile> tiles = Tiles(dir.filePath(QStringLiteral("Prueba.mbtiles")));
    ASSERT_FALSE(tiles.empty());
    const Zooms zooms = ExpectedZooms(RectOf(input.job), input);
    int jpeg = 0;
    int png = 0;
    for (const StoredTile& t : tiles) {
        SCOPED_TRACE(testing::Message() << "tile " << t.zoom << '/' << t.column << '/' << t.row);
        EXPECT_GE(t.zoom, zooms.minZoom);
        EXPECT_LE(t.zoom, zooms.maxZoom);
        const bool isPng = t.data.startsWith("\x89PNG\r\n\x1A\n");
        EXPECT_TRUE(isPng || t.data.startsWith("\xFF\xD8\xFF")) << "neither PNG nor JPEG";
        (isPng ? png : jpeg) += 1;
        const QImage image = QImage::fromData(t.data).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(256, 256));
        int dark = 0;
        int clear = 0;
        for (int y = 0; y < 256; ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < 256; ++x) {
                // The image's darkest colour is (20, 20, 60).
                dark += qAlpha(line[x]) > 0 &&
                                std::max({qRed(line[x]), qGreen(line[x]), qBlue(line[x])}) < 12
                            ? 1
                            : 0;
                clear += qAlpha(line[x]) == 0 ? 1 : 0;
            }
        }
        EXPECT_EQ(dark, 0) << "near-black pixels";
        // A PNG tile is one the map does not fill, and holds some of it.
        if (isPng) {
            EXPECT_GT(clear, 0);
            EXPECT_LT(clear, 256 * 256);
        }
    }
    EXPECT_GT(jpeg, 0);
    EXPECT_GT(png, 0);
}

TEST_P(MbTilesExport, ShowsEachTileWhereTheDatumChangeMovesIt) {
    QTemporaryDir dir;
    const ExportInput input = MakeExportInput(GetParam(), dir.path());
    ASSERT_TRUE(ExportNow(ExportFormat::MbTiles, input).ok);
    // Points 16 pixels inside two corners of each tile, clear of what JPEG and the warp blur
    // at an edge. The datum change moves the ground some 230 m here, more than 16 pixels of
    // the smaller tiles, so a point moved without it, or the wrong way, lands in a neighbour.
    const Ed50Rect r = RectOf(input.job);
    const double tile = (r.east - r.west) / GetParam().across;
    const double inside = 16 * (r.east - r.west) / input.image.width();
    std::vector<QPointF> points;
    std::vector<QColor> meant;
    for (int row = 1; row <= GetParam().down; ++row) {
        for (int column = 1; column <= GetParam().across; ++column) {
            const double west = r.west + (column - 1) * tile;
            const double north = r.north - (row - 1) * tile;
            for (const QPointF& p : {QPointF(west + inside, north - inside),
                                     QPointF(west + tile - inside, north - tile + inside)}) {
                const QPointF g = MovedPoint(r, p.x(), p.y());
                points.push_back(WebMercator(g.x(), g.y()));
                meant.push_back(TileColour(column, row));
            }
        }
    }
    const QString file = dir.filePath(QStringLiteral("Prueba.mbtiles"));
    const std::vector<QColor> read = LocationColours(file, points, true);
    ASSERT_EQ(read.size(), points.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_TRUE(NearColour(read[i], meant[i], 16))
            << "point " << i << ": " << read[i].name().toStdString() << " instead of "
            << meant[i].name().toStdString();
    }

    // The levels below, made by halving, show the tiles' centres in the same places for as
    // long as a tile is some 40 pixels across.
    const Zooms zooms = ExpectedZooms(r, input);
    const QPointF corner = MovedPoint(r, r.west, r.north);
    const QPointF across = MovedPoint(r, r.west + tile, r.north);
    const double tileMercator =
        WebMercator(across.x(), across.y()).x() - WebMercator(corner.x(), corner.y()).x();
    for (int overview = 1; overview <= zooms.maxZoom - zooms.minZoom; ++overview) {
        const double levelPixel = 2 * kHalfWorld / 256 / std::ldexp(1.0, zooms.maxZoom - overview);
        if (tileMercator / levelPixel < 40) {
            break;
        }
        SCOPED_TRACE(testing::Message() << "zoom " << zooms.maxZoom - overview);
        std::vector<QPointF> centres;
        std::vector<QColor> colours;
        for (int row = 1; row <= GetParam().down; ++row) {
            for (int column = 1; column <= GetParam().across; ++column) {
                const QPointF g =
                    MovedPoint(r, r.west + (column - 0.5) * tile, r.north - (row - 0.5) * tile);
                centres.push_back(WebMercator(g.x(), g.y()));
                colours.push_back(TileColour(column, row));
            }
        }
        const std::vector<QColor> level = LocationColours(file, centres, true, overview);
        ASSERT_EQ(level.size(), centres.size());
        for (size_t i = 0; i < level.size(); ++i) {
            EXPECT_TRUE(NearColour(level[i], colours[i], 16))
                << "centre " << i << ": " << level[i].name().toStdString() << " instead of "
                << colours[i].name().toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Areas, MbTilesExport, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ExportCase>& info) {
                             return QString(info.param.name)
                                 .replace(QLatin1String(" "), QString())
                                 .replace(u'x', u'_')
                                 .toStdString();
                         });

} // namespace
