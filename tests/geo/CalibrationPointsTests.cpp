// The point and corner lists a calibration run builds from its job.
#include "download/AreaRecalc.h"
#include "geo/CalibrationPoints.h"

#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const CalibrationPoint& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ") at (" << p.easting << ", " << p.northing << ")";
}

namespace {

// A job as the area recompute leaves it: orthophoto, so coverage position 0 is 5000 m
// and position 4 is 100 m.
DownloadJob RecalculatedJob(const char* easting, const char* northing, int across, int down,
                            int coverage) {
    DownloadJob job;
    job.kind = MapKind::Orto;
    AreaInputs in;
    in.eastingText = QString::fromLatin1(easting);
    in.northingText = QString::fromLatin1(northing);
    in.acrossPosition = across - 1;
    in.downPosition = down - 1;
    in.coveragePosition = coverage;
    in.serverBase = QStringLiteral("http://maps.test");
    return RecalcArea(job, in).job;
}

const CalibrationPoint kEmpty{0, 0, 0, 0};

TEST(BuildCalibrationLists, DefaultJob) {
    const CalibrationLists lists =
        BuildCalibrationLists(RecalculatedJob("585000", "730000", 5, 5, 0));
    EXPECT_EQ(lists.points[0], (CalibrationPoint{0, 0, 585000, 4730000}));
    EXPECT_EQ(lists.points[1], (CalibrationPoint{2000, 2000, 610000, 4705000}));
    for (std::size_t i = 2; i < lists.points.size(); ++i) {
        EXPECT_EQ(lists.points[i], kEmpty) << "entry " << i + 1;
        EXPECT_TRUE(lists.points[i].empty());
    }
    EXPECT_EQ(lists.corners[0], (CalibrationPoint{0, 0, 585000, 4730000}));
    EXPECT_EQ(lists.corners[1], (CalibrationPoint{2000, 0, 610000, 4730000}));
    EXPECT_EQ(lists.corners[2], (CalibrationPoint{2000, 2000, 610000, 4705000}));
    EXPECT_EQ(lists.corners[3], (CalibrationPoint{0, 2000, 585000, 4705000}));
}

TEST(BuildCalibrationLists, OneTileOfOneHundredMetres) {
    const CalibrationLists lists =
        BuildCalibrationLists(RecalculatedJob("600000", "700000", 1, 1, 4));
    EXPECT_EQ(lists.points[1], (CalibrationPoint{400, 400, 600100, 4699900}));
    EXPECT_EQ(lists.corners[2], (CalibrationPoint{400, 400, 600100, 4699900}));
}

TEST(BuildCalibrationLists, WideAndShallowGrid) {
    // Three tiles across and two down at 5000 m: 1200 by 800 pixels.
    const CalibrationLists lists =
        BuildCalibrationLists(RecalculatedJob("585000", "730000", 3, 2, 0));
    EXPECT_EQ(lists.corners[1], (CalibrationPoint{1200, 0, 600000, 4730000}));
    EXPECT_EQ(lists.corners[3], (CalibrationPoint{0, 800, 585000, 4720000}));
}

TEST(BuildCalibrationLists, TakesTheJobAsItStandsAfterAStoppedRecompute) {
    // An easting out of range stops the recompute after the corner fields were updated
    // but before the pixel sizes were: the lists show exactly those values.
    DownloadJob job = RecalculatedJob("585000", "730000", 5, 5, 0);
    AreaInputs in;
    in.eastingText = QStringLiteral("536999");
    in.northingText = QStringLiteral("730000");
    in.acrossPosition = 0;
    in.downPosition = 0;
    in.coveragePosition = 0;
    in.serverBase = QStringLiteral("http://maps.test");
    const AreaResult r = RecalcArea(job, in);
    ASSERT_EQ(r.message, AreaMessage::XOutOfRange);
    const CalibrationLists lists = BuildCalibrationLists(r.job);
    EXPECT_EQ(lists.points[0], (CalibrationPoint{0, 0, 536999, 4730000}));
    EXPECT_EQ(lists.points[1], (CalibrationPoint{2000, 2000, 541999, 4725000}));
}

TEST(CalibrationPoint, EmptyExactlyWhenEastingIsZero) {
    EXPECT_TRUE((CalibrationPoint{5, 5, 0, 4730000}).empty());
    EXPECT_FALSE((CalibrationPoint{0, 0, 1, 0}).empty());
    EXPECT_FALSE((CalibrationPoint{0, 0, -1, 0}).empty());
}

} // namespace
