// Tracks read from the fixtures, laid on the grid and cut into the sheets their corridor
// reaches into, for several coverages, margins and overlaps.
#include "geo/DatumChange.h"
#include "geo/TrackFile.h"
#include "job/SheetCut.h"
#include "tests/job/SheetChecks.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct FixtureCut {
    const char* file;
    int32_t tileSize;
    double margin;
    int overlap;
    const char* refused; // the start of the message; null when cut
};

void PrintTo(const FixtureCut& c, std::ostream* os) {
    *os << c.file << ", " << c.tileSize << " m tiles, margin " << c.margin << ", overlap "
        << c.overlap;
}

const FixtureCut kCuts[] = {
    {"loop.gpx", 100, 100, 0, nullptr},
    {"loop.gpx", 100, 50, 2, nullptr},
    {"loop.gpx", 250, 0, 1, nullptr},
    {"route.kml", 100, 200, 0, nullptr},
    {"route.kmz", 250, 500, 1, nullptr},
    {"waypoints.gpx", 100, 300, 0, nullptr},
    // From 0.40° W eastwards: every sheet starts east of 690 km.
    {"zone31.gpx", 1000, 500, 1,
     "9 hojas tienen la esquina superior izquierda fuera de límites (la primera, Ruta_01"},
};

class TrackSheets : public ::testing::TestWithParam<FixtureCut> {};

TEST_P(TrackSheets, AreTheSheetsTheCorridorReachesInto) {
    const FixtureCut& c = GetParam();
    const TrackRead read =
        ReadTrackFile(QStringLiteral(MORVEL_TEST_DATA_DIR "/tracks/") + QLatin1String(c.file));
    ASSERT_TRUE(read.track) << read.error.toStdString();
    const GroundRect reach = MapReach();
    const auto change = DatumChange::ForArea(reach.west, reach.south, reach.east, reach.north);
    ASSERT_TRUE(change);
    const GroundTrack track = TrackOnGrid(*read.track, *change);

    const SheetCut cut = CutCorridor(track.lines, track.points, c.margin,
                                     {c.tileSize, c.overlap, QStringLiteral("Ruta")});
    if (c.refused != nullptr) {
        EXPECT_FALSE(cut.set);
        EXPECT_TRUE(cut.message.startsWith(QString::fromUtf8(c.refused)))
            << cut.message.toStdString();
        return;
    }
    ASSERT_TRUE(cut.set) << cut.message.toStdString();
    const SheetSet& set = *cut.set;
    ExpectLatticeSheets(set, QStringLiteral("Ruta"));
    ExpectCorridorCovered(set, track.lines, track.points, c.margin);
    ExpectOnlySheetsTheCorridorReaches(set, track.lines, track.points, c.margin);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TrackSheets, ::testing::ValuesIn(kCuts));

} // namespace
