// The point and corner lists a calibration run builds from its job. The default and
// one-tile jobs are checked through the calibration files; these are the cases they miss.
#include "geo/CalibrationPoints.h"
#include "job/AreaRecalc.h"

#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const CalibrationPoint& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ") at (" << p.easting << ", " << p.northing << ")";
}

namespace {

// An orthophoto job as the area recompute leaves it (coverage position 0: 5000 m tiles).
AreaResult Recalculated(const DownloadJob& job, const char* easting, int across, int down) {
    AreaInputs in;
    in.eastingText = QString::fromLatin1(easting);
    in.northingText = QStringLiteral("730000");
    in.acrossPosition = across - 1;
    in.downPosition = down - 1;
    in.coveragePosition = 0;
    in.serverBase = QStringLiteral("http://maps.test");
    return RecalcArea(job, in);
}

TEST(BuildCalibrationLists, WideAndShallowGrid) {
    // Three tiles across and two down: 1200 by 800 pixels, so width and height cannot swap.
    const CalibrationLists lists = BuildCalibrationLists(Recalculated({}, "585000", 3, 2).job);
    EXPECT_EQ(lists.points[1], (CalibrationPoint{1200, 800, 600000, 4720000}));
    EXPECT_EQ(lists.corners, (decltype(lists.corners){{{0, 0, 585000, 4730000},
                                                       {1200, 0, 600000, 4730000},
                                                       {1200, 800, 600000, 4720000},
                                                       {0, 800, 585000, 4720000}}}));
}

TEST(BuildCalibrationLists, TakesTheJobAsItStandsAfterAStoppedRecompute) {
    // An easting out of range stops the recompute after the corner fields were updated
    // but before the pixel sizes were: the lists show exactly those values.
    const DownloadJob before = Recalculated({}, "585000", 5, 5).job;
    const AreaResult r = Recalculated(before, "536999", 1, 1);
    ASSERT_EQ(r.message, AreaMessage::XOutOfRange);
    const CalibrationLists lists = BuildCalibrationLists(r.job);
    EXPECT_EQ(lists.points[0], (CalibrationPoint{0, 0, 536999, 4730000}));
    EXPECT_EQ(lists.points[1], (CalibrationPoint{2000, 2000, 541999, 4725000}));
}

} // namespace
