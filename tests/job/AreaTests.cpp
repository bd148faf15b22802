// The area recompute, the tile bounds and the grouped numbers of the displays.
#include "job/AreaRecalc.h"
#include "job/MapKinds.h"
#include "job/NumberFormat.h"

#include <QDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace {

const QString kServer = QStringLiteral("http://maps.test");

// The window's defaults: orthophoto at position 0 (5000 m), 5 by 5 tiles.
AreaInputs DefaultInputs() {
    AreaInputs in;
    in.eastingText = QStringLiteral("585000");
    in.northingText = QStringLiteral("730000");
    in.acrossPosition = 4;
    in.downPosition = 4;
    in.coveragePosition = 0;
    in.serverBase = kServer;
    return in;
}

DownloadJob OrthoJob() {
    DownloadJob job;
    job.kind = MapKind::Orto;
    return job;
}

AreaResult Recalc(const AreaInputs& in, const DownloadJob& job = OrthoJob()) {
    return RecalcArea(job, in);
}

TEST(RecalcArea, DefaultAreaGivesLowerRightCornerAndSizes) {
    const AreaResult r = Recalc(DefaultInputs());
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(r.job.tileSize, 5000);
    EXPECT_EQ(r.job.easting, 585000);
    EXPECT_EQ(r.job.northingField, 730000);
    EXPECT_EQ(r.job.cornerEasting, 610000);
    EXPECT_EQ(r.job.cornerNorthingField + kNorthingOffset, 4705000);
    EXPECT_EQ(r.job.widthMetres, 25000);
    EXPECT_EQ(r.job.heightMetres, 25000);
    EXPECT_EQ(r.job.widthPixels, 2000);
    EXPECT_EQ(r.job.heightPixels, 2000);
    EXPECT_EQ(r.job.requestPrefix, kServer + "/navegar/asp/mime.aspx?TIPO=0&Xmin=");
}

TEST(RecalcArea, CartographyAt2000Metres) {
    DownloadJob job;
    job.kind = MapKind::Carto;
    const AreaResult r = Recalc(DefaultInputs(), job);
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(r.job.cornerEasting, 595000);
    EXPECT_EQ(r.job.cornerNorthingField + kNorthingOffset, 4720000);
    EXPECT_EQ(r.job.widthMetres, 10000);
    EXPECT_EQ(r.job.heightMetres, 10000);
}

TEST(RecalcArea, SmallestAndLargestGrids) {
    DownloadJob job;
    job.kind = MapKind::Carto;
    AreaInputs in = DefaultInputs();
    in.acrossPosition = 0;
    in.downPosition = 0;
    in.coveragePosition = 4; // 100 m
    AreaResult r = Recalc(in, job);
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(r.job.widthMetres, 100);
    EXPECT_EQ(r.job.heightPixels, 400);

    job.kind = MapKind::MDT;
    in.acrossPosition = 9;
    in.downPosition = 9;
    in.coveragePosition = 0; // 10000 m
    r = Recalc(in, job);
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(r.job.widthMetres, 100000);
    EXPECT_EQ(r.job.heightMetres, 100000);
    EXPECT_EQ(r.job.widthPixels, 4000);
    EXPECT_EQ(r.job.heightPixels, 4000);
}

struct CornerCase {
    const char* x;
    const char* y;
    AreaMessage expected;
};

class CornerBounds : public ::testing::TestWithParam<CornerCase> {};

TEST_P(CornerBounds, AcceptsBothBoundsAndRefusesOneMetreOutside) {
    AreaInputs in = DefaultInputs();
    in.eastingText = QString::fromLatin1(GetParam().x);
    in.northingText = QString::fromLatin1(GetParam().y);
    EXPECT_EQ(Recalc(in).message, GetParam().expected) << GetParam().x << " / " << GetParam().y;
}

INSTANTIATE_TEST_SUITE_P(
    RecalcArea, CornerBounds,
    ::testing::Values(CornerCase{"537000", "730000", AreaMessage::None},
                      CornerCase{"690000", "730000", AreaMessage::None},
                      CornerCase{"585000", "640000", AreaMessage::None},
                      CornerCase{"585000", "800000", AreaMessage::None},
                      CornerCase{"536999", "730000", AreaMessage::XOutOfRange},
                      CornerCase{"690001", "730000", AreaMessage::XOutOfRange},
                      CornerCase{"585000", "639999", AreaMessage::YOutOfRange},
                      CornerCase{"585000", "800001", AreaMessage::YOutOfRange},
                      // Both out: only the easting is reported.
                      CornerCase{"100000", "900000", AreaMessage::XOutOfRange},
                      // Empty easting: the northing is not looked at.
                      CornerCase{"", "abc", AreaMessage::EnterCoordinates},
                      CornerCase{"   ", "730000", AreaMessage::EnterCoordinates},
                      CornerCase{"585000", "  ", AreaMessage::EnterCoordinates}),
    [](const ::testing::TestParamInfo<CornerCase>& info) {
        return "Case" + std::to_string(info.index);
    });

TEST(RecalcArea, TextsThatAreNoIntegerAreInvalid) {
    for (const char* bad :
         {"58 000", "585000 ", "12ab56", "5850.0", "0x1F", "99999999999", "2147483648", "-", "+"}) {
        AreaInputs in = DefaultInputs();
        in.eastingText = QString::fromLatin1(bad);
        EXPECT_EQ(Recalc(in).message, AreaMessage::InvalidCoordinates) << bad;
    }
    AreaInputs in = DefaultInputs();
    in.northingText = QStringLiteral("73 000");
    const AreaResult r = Recalc(in);
    EXPECT_EQ(r.message, AreaMessage::InvalidCoordinates);
    // The easting was read before the northing failed, and is kept.
    EXPECT_EQ(r.job.easting, 585000);
}

TEST(RecalcArea, LeadingEmptyPlacesAreLeftOut) {
    AreaInputs in = DefaultInputs();
    in.northingText = QStringLiteral("  0"); // "__0.000" as a masked field gives it
    const AreaResult r = Recalc(in);
    EXPECT_EQ(r.message, AreaMessage::YOutOfRange);
    EXPECT_EQ(r.job.northingField, 0);
}

TEST(RecalcArea, OverflowingCornerIsInvalidNotUndefined) {
    DownloadJob job = OrthoJob();
    AreaInputs in = DefaultInputs();
    in.eastingText = QStringLiteral("2147483000");
    EXPECT_EQ(Recalc(in, job).message, AreaMessage::InvalidCoordinates);
    in.eastingText = QStringLiteral("585000");
    in.northingText = QStringLiteral("-2147483000");
    EXPECT_EQ(Recalc(in, job).message, AreaMessage::InvalidCoordinates);
}

TEST(RecalcArea, StoppedRecomputeKeepsSizesAndUpdatesCountsAndCorner) {
    const AreaResult first = Recalc(DefaultInputs());
    ASSERT_TRUE(first.complete());

    // Easting out of range, then another count chosen in the across list.
    AreaInputs in = DefaultInputs();
    in.eastingText = QStringLiteral("700000");
    in.acrossPosition = 1;
    const AreaResult r = Recalc(in, first.job);
    EXPECT_EQ(r.message, AreaMessage::XOutOfRange);
    EXPECT_EQ(r.job.tilesAcross, 2);
    EXPECT_EQ(r.job.easting, 700000);
    EXPECT_EQ(r.job.cornerEasting, 710000);
    // Sizes keep the values of the last complete recompute.
    EXPECT_EQ(r.job.widthMetres, 25000);
    EXPECT_EQ(r.job.widthPixels, 2000);
}

TEST(RecalcArea, EmptyFieldStopsBeforeReadingAnyCoordinate) {
    const AreaResult first = Recalc(DefaultInputs());
    AreaInputs in = DefaultInputs();
    in.eastingText.clear();
    in.northingText = QStringLiteral("650000");
    in.coveragePosition = 1;
    in.downPosition = 2;
    const AreaResult r = Recalc(in, first.job);
    EXPECT_EQ(r.message, AreaMessage::EnterCoordinates);
    EXPECT_EQ(r.job.tileSize, 1000); // coverage and counts come first
    EXPECT_EQ(r.job.tilesDown, 3);
    EXPECT_EQ(r.job.northingField, 730000);
    EXPECT_EQ(r.job.cornerNorthingField, first.job.cornerNorthingField);
}

TEST(RecalcArea, YMessageStillStoresBothCorners) {
    AreaInputs in = DefaultInputs();
    in.northingText = QStringLiteral("000000");
    const AreaResult r = Recalc(in);
    EXPECT_EQ(r.message, AreaMessage::YOutOfRange);
    EXPECT_EQ(r.job.northingField, 0);
    EXPECT_EQ(r.job.cornerNorthingField, -25000);
    EXPECT_EQ(r.job.cornerEasting, 610000);
    EXPECT_EQ(r.job.widthPixels, 0); // never completed
}

TEST(RecalcArea, CountListWithoutSelectionGivesZero) {
    AreaInputs in = DefaultInputs();
    in.acrossPosition = -1;
    in.downPosition = -1;
    const AreaResult r = Recalc(in);
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(r.job.tilesAcross, 0);
    EXPECT_EQ(r.job.tilesDown, 0);
    EXPECT_EQ(r.job.widthMetres, 0);
    EXPECT_EQ(r.job.heightPixels, 0);
    EXPECT_EQ(r.job.cornerEasting, r.job.easting);
    EXPECT_EQ(r.job.cornerNorthingField, r.job.northingField);
}

TEST(RecalcArea, CoverageTextSelectingNoItemKeepsTileSize) {
    DownloadJob job;
    job.kind = MapKind::Carto;
    AreaInputs in = DefaultInputs();
    in.coveragePosition = 2; // 500 m
    const AreaResult first = Recalc(in, job);
    ASSERT_EQ(first.job.tileSize, 500);
    in.coveragePosition = -1;
    const AreaResult r = Recalc(in, first.job);
    EXPECT_EQ(r.job.tileSize, 500);
    EXPECT_EQ(r.job.widthMetres, 2500);
}

TEST(TileBounds, ColumnThreeRowTwoAt500Metres) {
    DownloadJob job;
    job.easting = 585000;
    job.northingField = 730000;
    job.tileSize = 500;
    const TileRect r = TileBounds(job, 3, 2);
    EXPECT_EQ(r, (TileRect{586000, 729000, 586500, 729500}));
}

TEST(TileBounds, NeighboursShareEdgesAndGridCoversArea) {
    DownloadJob job;
    job.kind = MapKind::Orto;
    AreaInputs in = DefaultInputs();
    in.acrossPosition = 2;
    in.downPosition = 1;
    job = Recalc(in, job).job;
    for (int row = 1; row <= job.tilesDown; ++row) {
        for (int col = 1; col < job.tilesAcross; ++col) {
            EXPECT_EQ(TileBounds(job, col, row).xmax, TileBounds(job, col + 1, row).xmin);
        }
    }
    EXPECT_EQ(TileBounds(job, 1, 1).xmin, job.easting);
    EXPECT_EQ(TileBounds(job, 1, 1).ymax, job.northingField);
    EXPECT_EQ(TileBounds(job, 3, 2).xmax, job.cornerEasting);
    EXPECT_EQ(TileBounds(job, 3, 2).ymin, job.cornerNorthingField);
}

TEST(TileNames, LabelsAndFileNamesAndPrefix) {
    DownloadJob job;
    EXPECT_EQ(TileLabel(job, 1, 1), "A01");
    EXPECT_EQ(TileLabel(job, 10, 1), "A10");
    EXPECT_EQ(TileFileName(job, 3, 2), "B03.jpg");
    EXPECT_EQ(TileFileName(job, 10, 10), "J10.jpg");
    EXPECT_EQ(PathPrefix(QStringLiteral("/tmp/mapas")), "/tmp/mapas/");
    EXPECT_EQ(PathPrefix(QStringLiteral("/tmp/mapas/")), "/tmp/mapas/");
}

TEST(FolderExists, OnlyExistingFolders) {
    const QString dir = QDir::tempPath();
    EXPECT_TRUE(FolderExists(dir));
    EXPECT_FALSE(FolderExists(QString()));
    EXPECT_FALSE(FolderExists(dir + QStringLiteral("/morvel-no-such-folder-41")));
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    EXPECT_FALSE(FolderExists(file.fileName()));
}

// The Spanish way whatever the locale: the tests run under C, and an English locale is
// set here too.
TEST(GroupedNumber, GroupsOfThreeTheSpanishWayWhateverTheLocale) {
    const QLocale before;
    for (const QLocale& system : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        QLocale::setDefault(system);
        EXPECT_EQ(GroupedNumber(4705000), "4.705.000");
        EXPECT_EQ(GroupedNumber(2000), "2.000");
        EXPECT_EQ(GroupedNumber(25000), "25.000");
        EXPECT_EQ(GroupedNumber(400), "400");
        EXPECT_EQ(GroupedNumber(0), "0");
        EXPECT_EQ(GroupedNumber(-25000), "-25.000");
        EXPECT_EQ(GroupedNumber(std::numeric_limits<int64_t>::min()), "-9.223.372.036.854.775.808");
    }
    QLocale::setDefault(before);
}

} // namespace
