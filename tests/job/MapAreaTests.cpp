// The area on a map: a box drawn by hand snapped to the coverage and clamped to ten tiles,
// the grid that holds a rectangle with a margin, the overview's squares and their requests.
#include "job/AreaRecalc.h"
#include "job/MapArea.h"
#include "job/MapKinds.h"
#include "job/OverviewSquares.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <set>
#include <tuple>

namespace {

struct SnapCase {
    const char* what;
    GroundRect box;
    int32_t tileSize;
    // Expected: corner (full northing), tiles kept and needed.
    int32_t easting, northing;
    int across, down, neededAcross, neededDown;
};

void PrintTo(const SnapCase& c, std::ostream* os) {
    *os << c.what;
}

// Worked by hand: each edge to the nearest multiple of the coverage.
const SnapCase kSnapCases[] = {
    {"edges a little inside the lines",
     {603900, 4738100, 608050, 4741980},
     1000,
     604000,
     4742000,
     4,
     4,
     4,
     4},
    {"drawn from the lower-right corner up",
     {608000.4, 4742000.2, 603999.6, 4738000.3},
     1000,
     604000,
     4742000,
     4,
     4,
     4,
     4},
    {"each edge to its nearest line",
     {603400, 4737600, 608600, 4742400},
     1000,
     603000,
     4742000,
     6,
     4,
     6,
     4},
    {"smaller than a tile: the tile of its middle",
     {604100, 4741100, 604300, 4741300},
     1000,
     604000,
     4742000,
     1,
     1,
     1,
     1},
    {"thin across, long down",
     {612010, 4700000, 612020, 4730000},
     5000,
     610000,
     4730000,
     1,
     6,
     1,
     6},
    {"more than ten across keeps ten from the west",
     {600000, 4740000, 614000, 4743000},
     1000,
     600000,
     4743000,
     10,
     3,
     14,
     3},
    {"more than ten both ways",
     {586000, 4600000, 720000, 4744000},
     10000,
     590000,
     4740000,
     10,
     10,
     13,
     14},
    {"a corner on multiples of 6000 in full metres",
     {601000, 4739000, 614000, 4728000},
     6000,
     600000,
     4740000,
     2,
     2,
     2,
     2},
    {"250 m tiles", {604130, 4741620, 605380, 4742240}, 250, 604250, 4742250, 5, 3, 5, 3},
};

class SnapBox : public ::testing::TestWithParam<SnapCase> {};

TEST_P(SnapBox, CornerOnMultiplesAndTilesClampedToTen) {
    const SnapCase& c = GetParam();
    const GridChoice g = SnapBoxToGrid(c.box, c.tileSize);
    EXPECT_EQ(g.easting, c.easting);
    EXPECT_EQ(g.northing, c.northing);
    EXPECT_EQ(g.across, c.across);
    EXPECT_EQ(g.down, c.down);
    EXPECT_EQ(g.neededAcross, c.neededAcross);
    EXPECT_EQ(g.neededDown, c.neededDown);
    EXPECT_EQ(g.easting % c.tileSize, 0);
    EXPECT_EQ(g.northing % c.tileSize, 0);
    const std::optional<QString> message = ClampMessage(g);
    EXPECT_EQ(message.has_value(), c.neededAcross > 10 || c.neededDown > 10);
    if (message) {
        EXPECT_TRUE(message->contains(
            QStringLiteral("necesita %1 × %2 mosaicos").arg(c.neededAcross).arg(c.neededDown)))
            << message->toStdString();
        EXPECT_TRUE(message->contains(QStringLiteral("se toman %1 × %2").arg(c.across).arg(c.down)))
            << message->toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Boxes, SnapBox, ::testing::ValuesIn(kSnapCases));

TEST(GridHolding, EdgesGoOutwardsAndTheMarginCounts) {
    const GroundRect track{604100, 4738900, 607300, 4741200};
    // Without a margin: 604000..608000 by 4738000..4742000.
    GridChoice g = GridHolding(track, 1000, 0);
    EXPECT_EQ(std::tie(g.easting, g.northing, g.across, g.down),
              std::make_tuple(604000, 4742000, 4, 4));
    // 500 m: 603600..607800 by 4738400..4741700 -> 603000..608000 by 4738000..4742000.
    g = GridHolding(track, 1000, 500);
    EXPECT_EQ(std::tie(g.easting, g.northing, g.across, g.down),
              std::make_tuple(603000, 4742000, 5, 4));
    // An edge exactly on a line stays on it.
    g = GridHolding({604000, 4738000, 608000, 4742000}, 1000, 0);
    EXPECT_EQ(std::tie(g.easting, g.northing, g.across, g.down),
              std::make_tuple(604000, 4742000, 4, 4));
    // A single point gets the one tile around it.
    g = GridHolding({604500, 4741500, 604500, 4741500}, 1000, 0);
    EXPECT_EQ(std::tie(g.easting, g.northing, g.across, g.down),
              std::make_tuple(604000, 4742000, 1, 1));
}

TEST(FitTrackArea, TooLargeSaysHowManyAndGivesNoGrid) {
    const GroundRect track{600000, 4700000, 640000, 4720000};
    const TrackFit small = FitTrackArea(track, 5000, 500);
    ASSERT_TRUE(small.grid);
    EXPECT_EQ(small.grid->across, 10); // 595000..645000
    EXPECT_EQ(small.grid->down, 6);    // 4695000..4725000
    EXPECT_TRUE(small.message.isEmpty());

    const TrackFit large = FitTrackArea(track, 1000, 500);
    EXPECT_FALSE(large.grid);
    EXPECT_TRUE(large.message.contains(QStringLiteral("necesita 42 × 22 mosaicos")))
        << large.message.toStdString();
    EXPECT_TRUE(large.message.contains(QStringLiteral("El área no cambia")));
}

TEST(MapReach, HoldsEveryGridFromAnAcceptedCorner) {
    const GroundRect reach = MapReach();
    const GroundRect corners = AcceptedCornerRange();
    EXPECT_EQ(corners.west, kMinEasting);
    EXPECT_EQ(corners.north, kMaxNorthing);
    // Ten tiles of the largest coverage from the farthest corners.
    EXPECT_TRUE(reach.contains({kMaxEasting + 100000.0, kMinNorthing - 100000.0}));
    EXPECT_TRUE(reach.contains({kMinEasting, kMaxNorthing}));
}

// --- Overview squares --------------------------------------------------------------------

TEST(OverviewLevel, ImagesDrawnBetweenSevenTenthsAndOneAndAHalfTimesTheirSize) {
    for (double mpp = 0.4; mpp < 300; mpp *= 1.07) {
        const int level = OverviewLevelFor(mpp);
        const double imagePixelMetres = OverviewSide(level) / 400.0;
        const double drawnScale = imagePixelMetres / mpp;
        EXPECT_GE(drawnScale, 0.70) << mpp;
        EXPECT_LE(drawnScale, 1.42) << mpp;
    }
    EXPECT_EQ(OverviewSide(0), 125);
    EXPECT_EQ(OverviewSide(3), 1000);
    EXPECT_EQ(OverviewSide(10), 128000);
    EXPECT_EQ(OverviewLevelFor(0.01), 0);
    EXPECT_EQ(OverviewLevelFor(5000), 10);
}

TEST(OverviewSquares, CoverTheViewOnceAlignedOnTheirSideMiddleFirst) {
    const GroundRect view{603700, 4738300, 606100, 4740100};
    const GroundRect reach = MapReach();
    const auto squares = OverviewSquaresFor(view, 3, reach); // 1000 m
    // Columns 603..606, rows 4738..4740: 4 x 3.
    ASSERT_EQ(squares.size(), 12u);
    std::set<std::pair<int64_t, int64_t>> seen;
    for (const OverviewSquare& s : squares) {
        EXPECT_TRUE(seen.insert({s.column, s.row}).second);
        EXPECT_GE(s.column, 603);
        EXPECT_LE(s.column, 606);
        EXPECT_GE(s.row, 4738);
        EXPECT_LE(s.row, 4740);
    }
    // The view's middle (604900, 4739200) lies in square (604, 4739).
    EXPECT_EQ(squares.front().column, 604);
    EXPECT_EQ(squares.front().row, 4739);
    // A view exactly on lines takes no square beyond them.
    EXPECT_EQ(OverviewSquaresFor({604000, 4738000, 606000, 4740000}, 3, reach).size(), 4u);
    // Nothing is asked beyond the reach.
    EXPECT_TRUE(OverviewSquaresFor({100000, 4000000, 110000, 4010000}, 3, reach).empty());
}

TEST(OverviewSquares, ASquareOfATilesSizeIsAskedExactlyAsThatTile) {
    // The tile of column 3, row 2 of a 1000 m grid at 600000 / 4745000.
    DownloadJob job;
    job.kind = MapKind::Carto;
    job.easting = 600000;
    job.northingField = 745000;
    job.tileSize = 1000;
    job.tilesAcross = 5;
    job.tilesDown = 5;
    job.requestPrefix = RequestPrefix(MapKind::Carto, QStringLiteral("http://maps.test"));
    const OverviewSquare square{3, 602, 4743};
    EXPECT_EQ(OverviewUrl(job.requestPrefix, square), BuildTileUrl(job, 3, 2));
    EXPECT_EQ(OverviewUrl(job.requestPrefix, {10, 4, 37}),
              "http://maps.test/navegar/asp/mime.aspx?TIPO=6&Xmin=512000.3846153846"
              "&Ymin=736000&Xmax=640000.6153846154&Ymax=864000&PixAncho=400&PixAlto=400");
}

} // namespace
