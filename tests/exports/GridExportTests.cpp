// The GeoTIFF and the GeoPackage: the joined image on its own ED50 / UTM 30N grid, read
// back with GDAL's tools as GIS programs read them.
#include "exports/FormatWriters.h"
#include "tests/exports/ExportTestSupport.h"
#include "tests/geo/GeoTestTools.h"
#include "tests/support/TestFiles.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct GridFormat {
    ExportFormat format;
    const char* fileName;
    const char* driver;
    // Overviews go on until the larger side is no more than this.
    int smallestSide;
};

void PrintTo(const GridFormat& f, std::ostream* os) {
    *os << f.fileName;
}

const GridFormat kGridFormats[] = {{ExportFormat::GeoTiff, "Prueba.tif", "GTiff", 511},
                                   {ExportFormat::GeoPackage, "Prueba.gpkg", "GPKG", 256}};

// A small grid of orthophoto tiles, and a large area of terrain tiles: 30 km, where a wrong
// scale or a rotation would show by metres.
const ExportCase kCases[] = {
    {QStringLiteral("3 x 2 tiles of 1000 m"), QStringLiteral("585000"), QStringLiteral("730000"),
     MapKind::Orto, 1, 3, 2},
    {QStringLiteral("3 x 3 tiles of 10000 m"), QStringLiteral("560000"), QStringLiteral("760000"),
     MapKind::MDT, 0, 3, 3},
};

class GridExport : public ::testing::TestWithParam<GridFormat> {};

TEST_P(GridExport, LiesOnTheEd50GridAsTheCalibrationSays) {
    for (const ExportCase& c : kCases) {
        SCOPED_TRACE(c.name.toStdString());
        QTemporaryDir dir;
        const ExportInput input = MakeExportInput(c, dir.path());
        const ExportResult result = ExportNow(GetParam().format, input);
        ASSERT_TRUE(result.ok) << result.error.toStdString();
        const QString file = dir.filePath(QLatin1String(GetParam().fileName));

        QJsonObject report;
        ASSERT_TRUE(GdalInfo(file, &report));
        EXPECT_EQ(report.value(QStringLiteral("driverShortName")).toString(),
                  QLatin1String(GetParam().driver));
        const QJsonArray size = report.value(QStringLiteral("size")).toArray();
        EXPECT_EQ(size.at(0).toInt(), input.image.width());
        EXPECT_EQ(size.at(1).toInt(), input.image.height());
        EXPECT_EQ(report.value(QStringLiteral("stac"))
                      .toObject()
                      .value(QStringLiteral("proj:epsg"))
                      .toInt(),
                  23030);
        // Upper-left, upper-right, lower-right, lower-left, to a centimetre.
        const Ed50Rect r = RectOf(input.job);
        const std::array<QPointF, 4> corners = ReportedCorners(report);
        const QPointF meant[] = {
            {r.west, r.north}, {r.east, r.north}, {r.east, r.south}, {r.west, r.south}};
        for (size_t i = 0; i < corners.size(); ++i) {
            EXPECT_NEAR(corners[i].x(), meant[i].x(), 0.01) << "corner " << i;
            EXPECT_NEAR(corners[i].y(), meant[i].y(), 0.01) << "corner " << i;
        }

        // Overviews halve down to the smallest side.
        const QJsonArray overviews = report.value(QStringLiteral("bands"))
                                         .toArray()
                                         .at(0)
                                         .toObject()
                                         .value(QStringLiteral("overviews"))
                                         .toArray();
        ASSERT_FALSE(overviews.isEmpty());
        int previous = std::max(input.image.width(), input.image.height());
        for (const QJsonValue& o : overviews) {
            const QJsonArray s = o.toObject().value(QStringLiteral("size")).toArray();
            const int larger = std::max(s.at(0).toInt(), s.at(1).toInt());
            EXPECT_EQ(larger, (previous + 1) / 2);
            EXPECT_GT(previous, GetParam().smallestSide);
            previous = larger;
        }
        EXPECT_LE(previous, GetParam().smallestSide);
    }
}

TEST_P(GridExport, KeepsEveryPixelWhereItWasWithoutResampling) {
    QTemporaryDir dir;
    const ExportCase c{QStringLiteral("3 x 2"),
                       QStringLiteral("585000"),
                       QStringLiteral("730000"),
                       MapKind::Orto,
                       1,
                       3,
                       2};
    const ExportInput input = MakeExportInput(c, dir.path());
    ASSERT_TRUE(ExportNow(GetParam().format, input).ok);
    // The centre of every tile, in full colour; and the pixels where tiles meet, on either
    // side of each edge, by their luma: JPEG keeps the edges of its 8 x 8 blocks sharp there,
    // while its halved colour planes blur them. One pixel of shift or of resampling would
    // give a neighbour's luma, 10 or more away.
    std::vector<QPointF> points;
    std::vector<QColor> meant;
    for (int row = 1; row <= c.down; ++row) {
        for (int column = 1; column <= c.across; ++column) {
            points.emplace_back(400 * column - 200, 400 * row - 200);
            meant.push_back(TileColour(column, row));
        }
    }
    const size_t centres = points.size();
    for (const int x : {399, 400, 799, 800}) {
        for (const int y : {0, 399, 400, 799}) {
            points.emplace_back(x + 0.5, y + 0.5);
            meant.push_back(TileColour(x / 400 + 1, y / 400 + 1));
        }
    }
    const QString file = dir.filePath(QLatin1String(GetParam().fileName));
    const std::vector<QColor> read = LocationColours(file, points, false);
    ASSERT_EQ(read.size(), points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const bool near = i < centres ? NearColour(read[i], meant[i], 6)
                                      : std::abs(Luma(read[i]) - Luma(meant[i])) <= 4.0;
        EXPECT_TRUE(near) << points[i].x() << ", " << points[i].y() << ": "
                          << read[i].name().toStdString() << " instead of "
                          << meant[i].name().toStdString();
    }
    // The first overview, made from the image itself, shows each tile's centre in its colour
    // (gdallocationinfo takes the place in the image's own pixels).
    const std::vector<QPointF> tileCentres(points.begin(), points.begin() + centres);
    const std::vector<QColor> overview = LocationColours(file, tileCentres, false, 1);
    ASSERT_EQ(overview.size(), tileCentres.size());
    for (size_t i = 0; i < tileCentres.size(); ++i) {
        EXPECT_TRUE(NearColour(overview[i], meant[i], 6))
            << "overview at " << tileCentres[i].x() << ", " << tileCentres[i].y() << ": "
            << overview[i].name().toStdString() << " instead of " << meant[i].name().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, GridExport, ::testing::ValuesIn(kGridFormats),
                         [](const ::testing::TestParamInfo<GridFormat>& info) {
                             return std::string(info.param.driver);
                         });

TEST(GeoTiffExport, IsATiledYCbCrJpegWithTheEpsgCodeInItsKeys) {
    QTemporaryDir dir;
    const ExportInput input = MakeExportInput(ExportCase{}, dir.path());
    ASSERT_TRUE(ExportNow(ExportFormat::GeoTiff, input).ok);
    const QString file = dir.filePath(QStringLiteral("Prueba.tif"));
    QJsonObject report;
    ASSERT_TRUE(GdalInfo(file, &report));
    const QJsonObject structure = report.value(QStringLiteral("metadata"))
                                      .toObject()
                                      .value(QStringLiteral("IMAGE_STRUCTURE"))
                                      .toObject();
    EXPECT_EQ(structure.value(QStringLiteral("COMPRESSION")).toString(),
              QStringLiteral("YCbCr JPEG"));
    EXPECT_GE(structure.value(QStringLiteral("JPEG_QUALITY")).toString().toInt(), 85);
    const QJsonArray block = report.value(QStringLiteral("bands"))
                                 .toArray()
                                 .at(0)
                                 .toObject()
                                 .value(QStringLiteral("block"))
                                 .toArray();
    EXPECT_EQ(block.at(0).toInt(), 512);
    EXPECT_EQ(block.at(1).toInt(), 512);
    EXPECT_EQ(ProjectedCsTypeKey(file), 23030);
}

TEST(GeoTiffExport, ReadsA32BitImageAsIts24BitTwin) {
    QTemporaryDir narrow;
    QTemporaryDir wide;
    ExportCase c;
    const ExportInput rgb888 = MakeExportInput(c, narrow.path());
    c.format = QImage::Format_RGB32;
    const ExportInput rgb32 = MakeExportInput(c, wide.path());
    ASSERT_TRUE(ExportNow(ExportFormat::GeoTiff, rgb888).ok);
    ASSERT_TRUE(ExportNow(ExportFormat::GeoTiff, rgb32).ok);
    const QByteArray a = ReadAll(narrow.filePath(QStringLiteral("Prueba.tif")));
    EXPECT_FALSE(a.isEmpty());
    EXPECT_TRUE(a == ReadAll(wide.filePath(QStringLiteral("Prueba.tif"))));
}

TEST(GeoPackageExport, HoldsJpegTilesOnly) {
    QTemporaryDir dir;
    const ExportInput input = MakeExportInput(ExportCase{}, dir.path());
    ASSERT_TRUE(ExportNow(ExportFormat::GeoPackage, input).ok);
    const QByteArray file = ReadAll(dir.filePath(QStringLiteral("Prueba.gpkg")));
    EXPECT_TRUE(file.startsWith("SQLite format 3"));
    EXPECT_GT(file.count(QByteArray("\xFF\xD8\xFF\xE0", 4)), 4) << "JPEG tiles";
    EXPECT_FALSE(file.contains(QByteArray("\x89PNG\r\n\x1A\n", 8))) << "a PNG tile";
}

// The table is named from the map, but within what SQLite and GeoPackage allow; readers show
// the map's own name, the identifier.
TEST(GeoPackageExport, ExportsWhateverTheMapIsCalled) {
    const struct {
        const char* map;
        const char* table;
    } names[] = {
        {"Prueba", "prueba"},
        // SQLite keeps sqlite_ for itself, GeoPackage gpkg_ and its spatial indexes rtree_.
        {"sqlite_mapa", "mapa_sqlite_mapa"},
        {"GPKG_Hoja", "mapa_gpkg_hoja"},
        {"rtree_x", "mapa_rtree_x"},
        {"Mapa de Pamplona (1)", "mapa_de_pamplona__1_"},
        {"Año ñandú", "ano_nandu"},
        {"1ª hoja", "mapa_1__hoja"},
    };
    for (const auto& n : names) {
        EXPECT_EQ(GeoPackageTableName(QString::fromUtf8(n.map)), n.table) << n.map;
    }
    for (const char* map : {"sqlite_mapa", "Año ñandú"}) {
        SCOPED_TRACE(map);
        QTemporaryDir dir;
        ExportInput input = MakeExportInput(ExportCase{}, dir.path());
        input.job.bmpName = QString::fromUtf8(map);
        const ExportResult result = ExportNow(ExportFormat::GeoPackage, input);
        ASSERT_TRUE(result.ok) << result.error.toStdString();
        QJsonObject report;
        ASSERT_TRUE(GdalInfo(dir.filePath(input.job.bmpName + QStringLiteral(".gpkg")), &report));
        const QJsonObject metadata =
            report.value(QStringLiteral("metadata")).toObject().value(QString()).toObject();
        EXPECT_EQ(metadata.value(QStringLiteral("IDENTIFIER")).toString(), input.job.bmpName);
    }
}

} // namespace
