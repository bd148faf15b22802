// The world file and the CRS files beside the joined image.
#include "geo/WorldFile.h"
#include "tests/geo/GeoTestTools.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

namespace {

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QStringList FolderEntries(const QString& folder) {
    QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                 QDir::NoDotAndDotDot);
    entries.sort();
    return entries;
}

// The corners of an image of `width` by `height` pixels from 585000 E, 4730000 N,
// `across` by `down` metres of ground.
CalibrationCornerList Corners(int32_t width, int32_t height, int32_t across, int32_t down) {
    const int32_t e = 585000;
    const int32_t n = 4730000;
    return {{{0, 0, e, n},
             {width, 0, e + across, n},
             {width, height, e + across, n - down},
             {0, height, e, n - down}}};
}

struct Image {
    const char* name;
    int32_t width, height, across, down;
    const char* worldFile;
};

void PrintTo(const Image& i, std::ostream* os) {
    *os << i.name;
}

const Image kImages[] = {
    // The sample job: 5 by 5 tiles of 5000 m, 12.5 m a pixel.
    {"Sample", 2000, 2000, 25000, 25000, "12.5\r\n0\r\n0\r\n-12.5\r\n585006.25\r\n4729993.75\r\n"},
    // Pixels that are not square, neither side a finite decimal: fifteen digits, no noise.
    {"UnevenPixels", 3, 7, 1000, 1000,
     "333.333333333333\r\n0\r\n0\r\n-142.857142857143\r\n585166.666666667\r\n"
     "4729928.57142857\r\n"},
    // One 400-pixel tile of 100 m.
    {"FineTile", 400, 400, 100, 100, "0.25\r\n0\r\n0\r\n-0.25\r\n585000.125\r\n4729999.875\r\n"}};

class WorldFileOfImage : public ::testing::TestWithParam<Image> {};

TEST_P(WorldFileOfImage, PlacesThePixelCentres) {
    const Image& i = GetParam();
    EXPECT_EQ(WorldFileBytes(Corners(i.width, i.height, i.across, i.down)),
              QByteArray(i.worldFile));
}

TEST_P(WorldFileOfImage, GdalPutsTheImageOnTheEd50Grid) {
    const Image& i = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(WriteWhiteBmp(dir.filePath(QStringLiteral("Prueba.bmp")), i.width, i.height));
    QString error;
    ASSERT_TRUE(WriteWorldFiles(Corners(i.width, i.height, i.across, i.down), dir.path(),
                                QStringLiteral("Prueba"), &error))
        << error.toStdString();

    QJsonObject report;
    ASSERT_TRUE(GdalInfo(dir.filePath(QStringLiteral("Prueba.bmp")), &report));
    const std::array<QPointF, 4> corners = ReportedCorners(report);
    const CalibrationCornerList expected = Corners(i.width, i.height, i.across, i.down);
    for (std::size_t k = 0; k < corners.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "corner " << k + 1);
        EXPECT_NEAR(corners[k].x(), expected[k].easting, 0.01);
        EXPECT_NEAR(corners[k].y(), expected[k].northing, 0.01);
    }

    // The CRS with its EPSG code, not a look-alike GDAL would have to guess.
    const QString wkt = report.value(QStringLiteral("coordinateSystem"))
                            .toObject()
                            .value(QStringLiteral("wkt"))
                            .toString()
                            .simplified();
    EXPECT_TRUE(wkt.startsWith(QStringLiteral("PROJCRS[\"ED50 / UTM zone 30N\",")))
        << wkt.toStdString();
    EXPECT_TRUE(wkt.endsWith(QStringLiteral("ID[\"EPSG\",23030]]"))) << wkt.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Images, WorldFileOfImage, ::testing::ValuesIn(kImages),
                         [](const ::testing::TestParamInfo<Image>& info) {
                             return std::string(info.param.name);
                         });

TEST(WorldFile, ImageWithoutSizeHasNone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const CalibrationCornerList& corners :
         {Corners(0, 2000, 25000, 25000), Corners(2000, 0, 25000, 25000)}) {
        EXPECT_TRUE(WorldFileBytes(corners).isEmpty());
        QString error;
        EXPECT_FALSE(WriteWorldFiles(corners, dir.path(), QStringLiteral("Prueba"), &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_TRUE(FolderEntries(dir.path()).isEmpty());
}

TEST(WorldFile, PrjIsEd50Utm30ForGdal) {
    // GIS programs other than GDAL's BMP reader take the .prj; its ESRI form has no code, so
    // GDAL has to recognise the CRS in it.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(
        WriteWorldFiles(Corners(2000, 2000, 25000, 25000), dir.path(), QStringLiteral("Prueba")));
    QByteArray identified;
    ASSERT_TRUE(RunGdalTool(QStringLiteral("gdalsrsinfo"),
                            {QStringLiteral("-e"), dir.filePath(QStringLiteral("Prueba.prj"))},
                            &identified));
    EXPECT_TRUE(identified.contains("EPSG:23030")) << identified.toStdString();
}

TEST(WorldFile, ReplacesOldFilesWithoutAskingAndLeavesNoTemporaryFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList names{QStringLiteral("Prueba.bmp.aux.xml"), QStringLiteral("Prueba.bpw"),
                            QStringLiteral("Prueba.prj")};
    for (const QString& name : names) {
        QFile old(dir.filePath(name));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old\r\n");
    }
    const CalibrationCornerList corners = Corners(2000, 2000, 25000, 25000);
    QString error;
    ASSERT_TRUE(
        WriteWorldFiles(corners, dir.path() + QDir::separator(), QStringLiteral("Prueba"), &error))
        << error.toStdString();
    EXPECT_EQ(FolderEntries(dir.path()), names);
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Prueba.bpw"))), WorldFileBytes(corners));
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Prueba.prj"))), Ed50Utm30PrjBytes());
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Prueba.bmp.aux.xml"))), Ed50Utm30AuxXmlBytes());
}

TEST(WorldFile, MissingOrEmptyFolderWritesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& folder : {dir.filePath(QStringLiteral("missing")), QString()}) {
        QString error;
        EXPECT_FALSE(WriteWorldFiles(Corners(2000, 2000, 25000, 25000), folder,
                                     QStringLiteral("Prueba"), &error))
            << folder.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_TRUE(FolderEntries(dir.path()).isEmpty());
}

} // namespace
