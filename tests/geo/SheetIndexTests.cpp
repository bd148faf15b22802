// The index of a set of sheets, read back by GDAL's ogrinfo as GIS programs read it: one
// polygon per sheet through every tile corner of its edges, each where PROJ's own
// transformation puts it, with the sheet's number, name and files; written whole or not at
// all.
#include "geo/SheetIndex.h"
#include "tests/geo/GeoTestTools.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cpl_string.h>
#include <cpl_vsi.h>

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

namespace {

// Files the run of each sheet would leave.
std::vector<QStringList> FilesOf(const SheetSet& set) {
    std::vector<QStringList> files;
    for (const Sheet& s : set.sheets) {
        files.push_back({s.name + QStringLiteral(".bmp"), s.name + QStringLiteral(".map"),
                         s.name + QStringLiteral(".imp")});
    }
    return files;
}

// The tile corners along the sheet's edges, each once.
std::vector<QPointF> EdgeCorners(const Sheet& s) {
    std::vector<QPointF> corners;
    const double size = s.tileSize;
    for (int i = 0; i <= s.across; ++i) {
        for (int j = 0; j <= s.down; ++j) {
            if (i == 0 || j == 0 || i == s.across || j == s.down) {
                corners.emplace_back(s.easting + i * size, s.northing - j * size);
            }
        }
    }
    return corners;
}

struct IndexCase {
    const char* what;
    GroundRect box;
    int32_t tileSize;
    int overlap;
};

void PrintTo(const IndexCase& c, std::ostream* os) {
    *os << c.what;
}

const IndexCase kSets[] = {
    // 23 x 20 tiles: 3 x 3 sheets, the last column 5 tiles wide and the last row 2 high.
    {"sheets of 1 km tiles in Navarre, overlap 1", {600000, 4720000, 623000, 4740000}, 1000, 1},
    // Edges of 100 km, where the grid's lines curve most in degrees.
    {"sheets of 10 km tiles over the whole range", {540000, 4650000, 690000, 4800000}, 10000, 0},
};

class SheetIndex : public ::testing::TestWithParam<IndexCase> {};

TEST_P(SheetIndex, BothFilesHoldEverySheetWherePlainProjPutsIt) {
    const IndexCase& c = GetParam();
    const SheetCut cut = CutBox(c.box, {c.tileSize, c.overlap, QStringLiteral("Valle")});
    ASSERT_TRUE(cut.set) << cut.message.toStdString();
    const SheetSet& set = *cut.set;
    ASSERT_GT(set.sheets.size(), 1u);
    QTemporaryDir dir;
    QString error;
    ASSERT_TRUE(WriteSheetIndex(set, FilesOf(set), dir.path(), &error)) << error.toStdString();
    EXPECT_EQ(
        QDir(dir.path()).entryList(QDir::Files),
        QStringList({QStringLiteral("Valle_hojas.geojson"), QStringLiteral("Valle_hojas.kml")}));

    const PlainProj plain(-2.6, 41.8, -0.3, 43.4, "EPSG:4258");
    for (const char* file : {"Valle_hojas.kml", "Valle_hojas.geojson"}) {
        SCOPED_TRACE(file);
        const bool kml = QByteArray(file).endsWith(".kml");
        QString srs;
        std::vector<OgrFeature> features;
        ASSERT_TRUE(OgrInfo(dir.filePath(QLatin1String(file)), &srs, &features));
        EXPECT_TRUE(srs.contains(QLatin1String("GEOGCRS[\"WGS 84\""))) << srs.toStdString();
        ASSERT_EQ(features.size(), set.sheets.size());
        for (size_t i = 0; i < features.size(); ++i) {
            const Sheet& sheet = set.sheets[i];
            SCOPED_TRACE(sheet.name.toStdString());
            const OgrFeature& f = features[i];
            EXPECT_EQ(f.fields.value(QStringLiteral("numero")), QString::number(sheet.number));
            const QString bmp = sheet.name + QStringLiteral(".bmp");
            const QString map = sheet.name + QStringLiteral(".map");
            const QString imp = sheet.name + QStringLiteral(".imp");
            if (kml) {
                EXPECT_EQ(f.fields.value(QStringLiteral("Name")), sheet.name);
                EXPECT_EQ(f.fields.value(QStringLiteral("description")),
                          QStringList({bmp, map, imp}).join(QStringLiteral(", ")));
            } else {
                EXPECT_EQ(f.fields.value(QStringLiteral("nombre")), sheet.name);
                EXPECT_EQ(f.fields.value(QStringLiteral("ficheros")),
                          QStringLiteral("(3:%1,%2,%3)").arg(bmp, map, imp));
            }

            // Every vertex is a tile corner of the sheet's edges, taken back to the grid,
            // and lies where PROJ puts that corner; every such corner is there once.
            const std::vector<QPointF> ring = OuterRing(f.geometry);
            std::vector<QPointF> corners = EdgeCorners(sheet);
            ASSERT_EQ(ring.size(), corners.size() + 1);
            EXPECT_EQ(ring.front(), ring.back());
            double area2 = 0;
            for (size_t k = 0; k + 1 < ring.size(); ++k) {
                const QPointF& p = ring[k];
                area2 += p.x() * ring[k + 1].y() - ring[k + 1].x() * p.y();
                const PJ_XY onGrid = plain.inverse(p.x(), p.y());
                const auto nearest = std::min_element(
                    corners.begin(), corners.end(), [&](const QPointF& a, const QPointF& b) {
                        return std::hypot(a.x() - onGrid.x, a.y() - onGrid.y) <
                               std::hypot(b.x() - onGrid.x, b.y() - onGrid.y);
                    });
                ASSERT_NE(nearest, corners.end()) << "vertex " << k << " repeats a corner";
                const PJ_XY want = plain(nearest->x(), nearest->y());
                // The GeoJSON keeps seven decimals: a centimetre.
                EXPECT_NEAR(p.x(), want.x, 1e-7) << "vertex " << k;
                EXPECT_NEAR(p.y(), want.y, 1e-7) << "vertex " << k;
                corners.erase(nearest);
            }
            // Anticlockwise, as RFC 7946 asks of an outer ring.
            EXPECT_GT(area2, 0.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, SheetIndex, ::testing::ValuesIn(kSets));

TEST(SheetIndex, AFailedWriteSaysWhyAndKeepsTheFilesThatWereThere) {
    const SheetCut cut =
        CutBox({600000, 4720000, 615000, 4740000}, {1000, 0, QStringLiteral("Valle")});
    ASSERT_TRUE(cut.set);
    const SheetSet& set = *cut.set;
    QTemporaryDir dir;
    QString error;

    const QString missing = dir.filePath(QStringLiteral("no-existe"));
    EXPECT_FALSE(WriteSheetIndex(set, FilesOf(set), missing, &error));
    EXPECT_EQ(error,
              QStringLiteral("No existe la carpeta %1").arg(QDir::toNativeSeparators(missing)));

    std::vector<QStringList> tooFew = FilesOf(set);
    tooFew.pop_back();
    EXPECT_FALSE(WriteSheetIndex(set, tooFew, dir.path(), &error));
    EXPECT_EQ(error, QStringLiteral("El índice de hojas no coincide con las hojas"));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    // An earlier index is replaced whole; in a folder that takes no new file it stays.
    const QString kml = dir.filePath(QStringLiteral("Valle_hojas.kml"));
    WriteAll(kml, "antiguo");
    {
        ReadOnlyFolder locked(dir.path());
        if (locked.active()) {
            EXPECT_FALSE(WriteSheetIndex(set, FilesOf(set), dir.path(), &error));
            EXPECT_TRUE(error.startsWith(
                QStringLiteral("No se puede crear %1").arg(QDir::toNativeSeparators(kml))))
                << error.toStdString();
            EXPECT_EQ(ReadAll(kml), QByteArray("antiguo"));
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
                      QStringList(QStringLiteral("Valle_hojas.kml")));
        }
    }
    ASSERT_TRUE(WriteSheetIndex(set, FilesOf(set), dir.path(), &error)) << error.toStdString();
    EXPECT_TRUE(ReadAll(kml).contains("<name>Valle_02</name>"));
}

TEST(SheetIndex, IsMadeInMemoryAndLeavesNothingThere) {
    const SheetCut cut =
        CutBox({600000, 4720000, 615000, 4740000}, {1000, 0, QStringLiteral("Valle")});
    ASSERT_TRUE(cut.set);
    QString error;
    const auto index = MakeSheetIndex(*cut.set, FilesOf(*cut.set), &error);
    ASSERT_TRUE(index) << error.toStdString();
    EXPECT_TRUE(index->kml.startsWith("<?xml"));
    EXPECT_TRUE(index->geoJson.contains("\"FeatureCollection\""));
    EXPECT_EQ(index->geoJson.count("\"Feature\""), int(cut.set->sheets.size()));
    EXPECT_EQ(SheetIndexKmlName(QStringLiteral("Valle")), QStringLiteral("Valle_hojas.kml"));
    EXPECT_EQ(SheetIndexGeoJsonName(QStringLiteral("Valle")),
              QStringLiteral("Valle_hojas.geojson"));
    // Nothing is left among GDAL's memory files.
    char** left = VSIReadDir("/vsimem/");
    EXPECT_EQ(CSLCount(left), 0);
    CSLDestroy(left);
}

} // namespace
