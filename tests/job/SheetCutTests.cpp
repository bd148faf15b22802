// An area larger than one run cut into sheets: a box covered whole, with the last sheets
// narrower; a track's corridor taking only the sheets it reaches into; the limits; the
// names; the job of one sheet.
#include "job/AreaRecalc.h"
#include "job/MapKinds.h"
#include "job/NumberFormat.h"
#include "job/SheetCut.h"
#include "tests/job/SheetChecks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <set>
#include <tuple>
#include <utility>

namespace {

const QString kName = QStringLiteral("Ruta");

SheetOptions Options(int32_t tileSize, int overlap = 0) {
    return {tileSize, overlap, kName};
}

struct BoxCase {
    const char* what;
    GroundRect box;
    int32_t tileSize;
    int overlap;
    // Worked by hand: the area snapped outwards, and the tiles of the sheets of each
    // column and each row (as few sheets as hold it, as equal as the tiles allow).
    GroundRect area;
    std::vector<int> across, down;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << c.what;
}

const BoxCase kBoxes[] = {
    {"one run is one sheet",
     GroundRect{604100, 4738900, 607300, 4741200},
     1000,
     0,
     GroundRect{604000, 4738000, 608000, 4742000},
     {4},
     {4}},
    {"exactly 20 x 20 tiles",
     GroundRect{600000, 4720000, 620000, 4740000},
     1000,
     0,
     GroundRect{600000, 4720000, 620000, 4740000},
     {10, 10},
     {10, 10}},
    {"12 tiles are two sheets of six",
     GroundRect{600000, 4739000, 612000, 4740000},
     1000,
     0,
     GroundRect{600000, 4739000, 612000, 4740000},
     {6, 6},
     {1}},
    {"23 x 7: three sheets, one a tile narrower",
     GroundRect{600000, 4733000, 623000, 4740000},
     1000,
     0,
     GroundRect{600000, 4733000, 623000, 4740000},
     {8, 8, 7},
     {7}},
    {"corners off the lines go outwards",
     GroundRect{600400.5, 4733900, 622100, 4739999.9},
     1000,
     0,
     GroundRect{600000, 4733000, 623000, 4740000},
     {8, 8, 7},
     {7}},
    {"drawn from the lower-right corner",
     GroundRect{623000, 4740000, 600000, 4733000},
     1000,
     0,
     GroundRect{600000, 4733000, 623000, 4740000},
     {8, 8, 7},
     {7}},
    // 25 tiles and two shared: 27 in three sheets, at 0, 8 and 16.
    {"overlap 1 over 25 tiles",
     GroundRect{600000, 4730000, 625000, 4740000},
     1000,
     1,
     GroundRect{600000, 4730000, 625000, 4740000},
     {9, 9, 9},
     {10}},
    // 11 tiles and two shared: 7 from 0 and 6 from 5.
    {"overlap 2 over 11 tiles",
     GroundRect{600000, 4730000, 611000, 4740000},
     1000,
     2,
     GroundRect{600000, 4730000, 611000, 4740000},
     {7, 6},
     {10}},
    {"overlap 2 over 10 tiles is one sheet",
     GroundRect{600000, 4730000, 610000, 4740000},
     1000,
     2,
     GroundRect{600000, 4730000, 610000, 4740000},
     {10},
     {10}},
    // 600000..702000 and 4638000..4740000: 17 tiles each way.
    {"6000 m tiles on multiples in full metres",
     GroundRect{601000, 4641000, 700000, 4739000},
     6000,
     0,
     GroundRect{600000, 4638000, 702000, 4740000},
     {9, 8},
     {9, 8}},
    {"a line without height keeps one tile south of it",
     GroundRect{600000, 4740000, 615000, 4740000},
     1000,
     0,
     GroundRect{600000, 4739000, 615000, 4740000},
     {8, 7},
     {1}},
    // 26 x 43 tiles of 250 m: across 26 + 2 × 2 = 30 in three sheets, at 0, 8, 16; down
    // 43 + 5 × 2 = 53 in six, at 0, 7, 14, 21, 28 and 35.
    {"250 m tiles, overlap 2",
     GroundRect{604130, 4731620, 610380, 4742240},
     250,
     2,
     GroundRect{604000, 4731500, 610500, 4742250},
     {10, 10, 10},
     {9, 9, 9, 9, 9, 8}},
};

class BoxCut : public ::testing::TestWithParam<BoxCase> {};

TEST_P(BoxCut, CoversTheSnappedBoxWithSheetsOfEqualSizeEndingOnItsEdge) {
    const BoxCase& c = GetParam();
    const SheetCut cut = CutBox(c.box, Options(c.tileSize, c.overlap));
    ASSERT_TRUE(cut.set) << cut.message.toStdString();
    const SheetSet& set = *cut.set;
    EXPECT_EQ(set.area.west, c.area.west);
    EXPECT_EQ(set.area.south, c.area.south);
    EXPECT_EQ(set.area.east, c.area.east);
    EXPECT_EQ(set.area.north, c.area.north);
    const auto columns = int(c.across.size());
    const auto rows = int(c.down.size());
    EXPECT_EQ(set.latticeColumns, columns);
    EXPECT_EQ(set.latticeRows, rows);
    ASSERT_EQ(set.sheets.size(), size_t(columns * rows));
    EXPECT_EQ(cut.sheetCount, columns * rows);
    // In reading order, each sheet's corner where the sheets before it in its row and
    // column end, less the tiles they share.
    const double s = c.tileSize;
    double north = c.area.north;
    for (int row = 0; row < rows; ++row) {
        double west = c.area.west;
        for (int column = 0; column < columns; ++column) {
            const Sheet& sheet = set.sheets[size_t(row * columns + column)];
            SCOPED_TRACE(sheet.name.toStdString());
            EXPECT_EQ(sheet.number, row * columns + column + 1);
            EXPECT_EQ(sheet.name, SheetName(kName, sheet.number, columns * rows));
            EXPECT_EQ(std::make_tuple(sheet.row, sheet.column), std::make_tuple(row, column));
            EXPECT_EQ(std::make_tuple(double(sheet.easting), double(sheet.northing)),
                      std::make_tuple(west, north));
            EXPECT_EQ(std::make_tuple(sheet.across, sheet.down),
                      std::make_tuple(c.across[size_t(column)], c.down[size_t(row)]));
            EXPECT_EQ(sheet.tileSize, c.tileSize);
            west += (c.across[size_t(column)] - c.overlap) * s;
        }
        north -= (c.down[size_t(row)] - c.overlap) * s;
    }
    ExpectAreaCovered(set);
    const GroundRect extent = set.extent();
    EXPECT_EQ(extent.west, c.area.west);
    EXPECT_EQ(extent.east, c.area.east);
    EXPECT_EQ(extent.south, c.area.south);
    EXPECT_EQ(extent.north, c.area.north);
    int tiles = 0;
    for (const Sheet& sheet : set.sheets) {
        tiles += sheet.across * sheet.down;
    }
    EXPECT_EQ(set.tiles(), tiles);
}

// Every side of 1 to 60 tiles, for every overlap: as few sheets as ten-tile ones would
// take, none over ten tiles, one tile apart at most, the larger first, ending on the edge.
TEST(BoxCut, SidesOfAnyLengthGiveTheFewestSheetsOfEqualSize) {
    for (int overlap = 0; overlap <= kMaxSheetOverlap; ++overlap) {
        for (int tiles = 1; tiles <= 60; ++tiles) {
            SCOPED_TRACE(testing::Message() << tiles << " tiles, overlap " << overlap);
            const SheetCut cut =
                CutBox({600000, 4739000, 600000 + 100.0 * tiles, 4740000}, Options(100, overlap));
            ASSERT_TRUE(cut.set) << cut.message.toStdString();
            const std::vector<Sheet>& sheets = cut.set->sheets;
            // k ten-tile sheets hold 10 + (k - 1) × (10 - overlap) tiles.
            int fewest = 1;
            while (10 + (fewest - 1) * (10 - overlap) < tiles) {
                ++fewest;
            }
            ASSERT_EQ(int(sheets.size()), fewest);
            int end = 0;
            for (size_t i = 0; i < sheets.size(); ++i) {
                EXPECT_LE(sheets[i].across, 10);
                EXPECT_LE(sheets[0].across - sheets[i].across, 1);
                EXPECT_GE(sheets[0].across - sheets[i].across, 0);
                if (i > 0) {
                    EXPECT_LE(sheets[i].across, sheets[i - 1].across);
                    EXPECT_EQ(end - (sheets[i].easting - 600000) / 100, overlap);
                }
                end = (sheets[i].easting - 600000) / 100 + sheets[i].across;
            }
            EXPECT_EQ(end, tiles);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Boxes, BoxCut, ::testing::ValuesIn(kBoxes));

// --- Corridors ------------------------------------------------------------------------

using Points = std::vector<GroundPoint>;
using Places = std::vector<std::pair<int, int>>;

struct CorridorCase {
    const char* what;
    TrackLines lines;
    Points points;
    double margin;
    int32_t tileSize;
    int overlap;
    int columns, rows;
    // The lattice places taken, (row, column), in reading order; worked by hand.
    Places taken;
};

void PrintTo(const CorridorCase& c, std::ostream* os) {
    *os << c.what;
}

// A circle of `radius` metres around the point, closed.
std::vector<GroundPoint> Circle(double easting, double northing, double radius, int points) {
    std::vector<GroundPoint> line;
    for (int i = 0; i <= points; ++i) {
        const double a = 2 * 3.14159265358979323846 * i / points;
        line.push_back({easting + radius * std::cos(a), northing + radius * std::sin(a)});
    }
    return line;
}

const CorridorCase kCorridors[] = {
    // East along 4,740,000, then south along 610,000: the edge between columns 1
    // (600..610 km) and 2 (610..611 km). Rows: 4741..4731, ..4721, ..4711, ..4709 km.
    {"south along a sheet edge takes the sheets on both sides",
     TrackLines{{{590500, 4740000}, {610000, 4740000}, {610000, 4710000}}}, Points{}, 500, 1000, 0,
     3, 4, Places{{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 1}, {2, 2}, {3, 1}, {3, 2}}},
    // Without a margin the lattice ends on the track: 590..610 km by 4710..4740 km.
    {"without a margin, along the lattice's own edges",
     TrackLines{{{590500, 4740000}, {610000, 4740000}, {610000, 4710000}}}, Points{}, 0, 1000, 0, 2,
     3, Places{{0, 0}, {0, 1}, {1, 1}, {2, 1}}},
    // A T: the stem runs on the line between columns 1 and 2 (600 km).
    {"without a margin, a track on the line between two sheets takes both",
     TrackLines{{{580500, 4739500}, {609500, 4739500}}, {{600000, 4739500}, {600000, 4712500}}},
     Points{}, 0, 1000, 0, 3, 3, Places{{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 1}, {2, 2}}},
    // 602..628 km by 4707..4733 km; the middle sheet (612..622, 4713..4723) is 9.9 km at
    // most from the centre, well inside the ring 11.5 to 12.5 km from it.
    {"a loop leaves the sheet in its middle", TrackLines{Circle(615000, 4720000, 12000, 144)},
     Points{}, 500, 1000, 0, 3, 3,
     Places{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 2}, {2, 0}, {2, 1}, {2, 2}}},
    // A short track in the north-west and a point far to the south-east: a lattice of
    // 8 x 9 sheets (600..680 km by 4650..4740 km), of which two are reached.
    {"a track in one corner of a huge box", TrackLines{{{600200, 4739800}, {601800, 4738200}}},
     Points{{679500, 4650500}}, 200, 1000, 0, 8, 9, Places{{0, 0}, {8, 7}}},
    // Points in the middle of sheets of 5 km: each 2,500 m from its neighbours' edges,
    // which the corridor then only meets, without reaching into them.
    {"points a margin away from the neighbours' edges", TrackLines{},
     Points{{602500, 4737500}, {607500, 4732500}, {617500, 4737500}}, 2500, 500, 0, 4, 2,
     Places{{0, 0}, {0, 3}, {1, 1}}},
};

class CorridorCut : public ::testing::TestWithParam<CorridorCase> {};

TEST_P(CorridorCut, TakesOnlyTheSheetsTheCorridorReachesInto) {
    const CorridorCase& c = GetParam();
    const SheetCut cut = CutCorridor(c.lines, c.points, c.margin, Options(c.tileSize, c.overlap));
    ASSERT_TRUE(cut.set) << cut.message.toStdString();
    const SheetSet& set = *cut.set;
    EXPECT_EQ(set.latticeColumns, c.columns);
    EXPECT_EQ(set.latticeRows, c.rows);
    std::vector<std::pair<int, int>> taken;
    for (const Sheet& s : set.sheets) {
        taken.emplace_back(s.row, s.column);
    }
    EXPECT_EQ(taken, c.taken);
    EXPECT_EQ(cut.sheetCount, int64_t(c.taken.size()));
    ExpectLatticeSheets(set, kName);
    ExpectCorridorCovered(set, c.lines, c.points, c.margin);
    ExpectOnlySheetsTheCorridorReaches(set, c.lines, c.points, c.margin);
}

INSTANTIATE_TEST_SUITE_P(Tracks, CorridorCut, ::testing::ValuesIn(kCorridors));

// Every overlap and several margins over the same tracks: the two promises hold whatever
// the lattice.
TEST(CorridorCut, CoversTheCorridorAndNothingOutsideItForEveryOverlapAndMargin) {
    const TrackLines tracks[] = {
        {Circle(615000, 4720000, 12000, 144)},
        {{{590300, 4741700}, {611100, 4739900}, {609700, 4712000}, {631000, 4698800}}},
        {{{620000, 4700000}, {620000, 4760000}}},
    };
    for (const TrackLines& lines : tracks) {
        for (int overlap = 0; overlap <= kMaxSheetOverlap; ++overlap) {
            for (const double margin : {0.0, 1300.0, 4999.0}) {
                SCOPED_TRACE(testing::Message() << lines.front().size() << " points, overlap "
                                                << overlap << ", margin " << margin);
                const SheetCut cut = CutCorridor(lines, {}, margin, Options(500, overlap));
                ASSERT_TRUE(cut.set) << cut.message.toStdString();
                ExpectLatticeSheets(*cut.set, kName);
                ExpectCorridorCovered(*cut.set, lines, {}, margin);
                ExpectOnlySheetsTheCorridorReaches(*cut.set, lines, {}, margin);
            }
        }
    }
}

// Tracks that wander at random over sheet edges and corners, with points on the edges and
// corners themselves: the sheets taken in one go along a segment and those tested one by
// one at its ends are the same that the corridor reaches into.
TEST(CorridorCut, WanderingTracksOverEdgesAndCornersTakeExactlyTheSheetsReached) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> step(-8, 8);
    for (int track = 0; track < 4; ++track) {
        // Every point on a multiple of 500 m, on the edges and corners of sheets of 5 km.
        std::vector<GroundPoint> line{{610000, 4730000}};
        for (int i = 0; i < 16; ++i) {
            const GroundPoint& last = line.back();
            line.push_back({last.easting + 500.0 * step(random),
                            last.northing + 500.0 * (track % 2 == 0 ? step(random) : 0)});
        }
        const TrackLines lines{line};
        for (int overlap = 0; overlap <= kMaxSheetOverlap; ++overlap) {
            for (const double margin : {0.0, 500.0, 5500.0}) {
                SCOPED_TRACE(testing::Message() << "track " << track << ", overlap " << overlap
                                                << ", margin " << margin);
                const SheetCut cut = CutCorridor(lines, {}, margin, Options(500, overlap));
                ASSERT_TRUE(cut.set) << cut.message.toStdString();
                ExpectLatticeSheets(*cut.set, kName);
                ExpectCorridorCovered(*cut.set, lines, {}, margin);
                ExpectOnlySheetsTheCorridorReaches(*cut.set, lines, {}, margin);
            }
        }
    }
}

// The flag ends the cut before it looks at a segment, and it says nothing.
TEST(CorridorCut, StopsAtOnceWhenItsFlagIsSet) {
    const TrackLines lines{Circle(615000, 4720000, 12000, 144)};
    const std::atomic<bool> stop{true};
    const SheetCut cut = CutCorridor(lines, {}, 500, Options(1000), &stop);
    EXPECT_TRUE(cut.stopped);
    EXPECT_FALSE(cut.set);
    const std::atomic<bool> go{false};
    const SheetCut whole = CutCorridor(lines, {}, 500, Options(1000), &go);
    EXPECT_FALSE(whole.stopped);
    EXPECT_TRUE(whole.set);
}

// A corridor that fits one run is the one grid that holds the track and its margin, as
// "Ajustar a la ruta" fits the area today.
TEST(CorridorCut, ThatFitsOneRunIsTheGridHoldingTheTrack) {
    const TrackLines lines = {{{604100, 4738900}, {605000, 4741200}, {607300, 4740000}}};
    const GroundRect extent{604100, 4738900, 607300, 4741200};
    for (const int32_t tileSize : {500, 1000, 2000}) {
        for (const double margin : {0.0, 120.0, 500.0}) {
            SCOPED_TRACE(testing::Message() << tileSize << " m, margin " << margin);
            const SheetCut cut = CutCorridor(lines, {}, margin, Options(tileSize));
            ASSERT_TRUE(cut.set) << cut.message.toStdString();
            ASSERT_EQ(cut.set->sheets.size(), 1u);
            const Sheet& sheet = cut.set->sheets.front();
            const GridChoice grid = GridHolding(extent, tileSize, margin);
            ASSERT_FALSE(grid.clamped());
            EXPECT_EQ(sheet.easting, grid.easting);
            EXPECT_EQ(sheet.northing, grid.northing);
            EXPECT_EQ(sheet.across, grid.across);
            EXPECT_EQ(sheet.down, grid.down);
            EXPECT_EQ(sheet.name, QStringLiteral("Ruta_01"));
        }
    }
}

// --- Limits ---------------------------------------------------------------------------

// Points in the middle of sheets of 5 km (500 m tiles), 2,500 m around each reaching no
// neighbour: one sheet each.
std::vector<GroundPoint> SheetMiddles(int across, int down) {
    std::vector<GroundPoint> points;
    for (int i = 0; i < across; ++i) {
        for (int j = 0; j < down; ++j) {
            points.push_back({560000 + 2500 + 5000.0 * i, 4790000 - 2500 - 5000.0 * j});
        }
    }
    return points;
}

struct LimitCase {
    const char* what;
    bool track; // the lines and points below with a margin of 2,500 m, or else the box
    GroundRect box;
    TrackLines lines;
    std::vector<GroundPoint> points;
    int32_t tileSize;
    int overlap;
    int64_t sheets;   // needed
    const char* says; // in the message when refused; null when accepted
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.what;
}

const LimitCase kLimits[] = {
    {"a box of 20 x 20 sheets",
     false,
     GroundRect{600000, 4700000, 620000, 4720000},
     {},
     {},
     100,
     0,
     400,
     nullptr},
    {"a box of 21 x 20 sheets",
     false,
     GroundRect{600000, 4700000, 620100, 4720000},
     {},
     {},
     100,
     0,
     420,
     "El recuadro necesita 420 hojas"},
    // Corners 8 tiles apart over 200: 25 a side.
    {"the same box with overlap 2",
     false,
     GroundRect{600000, 4700000, 620000, 4720000},
     {},
     {},
     100,
     2,
     625,
     "El recuadro necesita 625 hojas"},
    {"a track of 20 x 20 sheets",
     true,
     GroundRect{},
     {},
     SheetMiddles(20, 20),
     500,
     0,
     400,
     nullptr},
    {"a track of 21 x 20 sheets",
     true,
     GroundRect{},
     {},
     SheetMiddles(21, 20),
     500,
     0,
     kMaxSheets + 1,
     "La ruta, con 2.500 m de margen, necesita más de 400 hojas de hasta 10 × 10 mosaicos de "
     "500 m"},
    {"a second column east of 690 km",
     false,
     GroundRect{685000, 4700000, 705000, 4705000},
     {},
     {},
     1000,
     0,
     2,
     "La hoja Ruta_02 tiene la esquina superior izquierda fuera de límites (X 695.000, Y "
     "4.705.000); debe estar entre X 537.000 y 690.000 e Y 4.640.000 y 4.800.000."},
    {"a box whose corner is north of 4,800 km",
     false,
     GroundRect{600000, 4795000, 605000, 4805000},
     {},
     {},
     1000,
     0,
     1,
     "La hoja Ruta_01 tiene la esquina superior izquierda fuera de límites"},
    // Six sheets of 5 km from 685 km; 690 km itself is accepted.
    {"a track running east past 690 km",
     true,
     GroundRect{},
     TrackLines{{{687500, 4702500}, {712500, 4702500}}},
     {},
     500,
     0,
     6,
     "4 hojas tienen la esquina superior izquierda fuera de límites (la primera, Ruta_03: X "
     "695.000, Y 4.705.000)"},
};

class SheetLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(SheetLimits, AreRefusedWithTheCountOrTheSheetOutsideTheRange) {
    const LimitCase& c = GetParam();
    const SheetCut cut = c.track
                             ? CutCorridor(c.lines, c.points, 2500, Options(c.tileSize, c.overlap))
                             : CutBox(c.box, Options(c.tileSize, c.overlap));
    EXPECT_EQ(cut.sheetCount, c.sheets);
    if (c.says == nullptr) {
        ASSERT_TRUE(cut.set) << cut.message.toStdString();
        EXPECT_EQ(cut.set->sheets.size(), size_t(c.sheets));
        EXPECT_TRUE(cut.message.isEmpty());
        ExpectLatticeSheets(*cut.set, kName);
        return;
    }
    EXPECT_FALSE(cut.set);
    // Tests run under the C locale, whose digits are grouped with commas.
    EXPECT_TRUE(cut.message.startsWith(QString::fromUtf8(c.says))) << cut.message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Areas, SheetLimits, ::testing::ValuesIn(kLimits));

TEST(SheetLimits, OptionsAndCoordinatesThatMakeNoSheetAreRefused) {
    const GroundRect box{600000, 4700000, 620000, 4720000};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<SheetCut, const char*> refused[] = {
        {CutBox(box, Options(1000, 3)), "El solape debe estar entre 0 y 2 mosaicos."},
        {CutBox(box, Options(1000, -1)), "El solape debe estar entre 0 y 2 mosaicos."},
        {CutBox(box, Options(0)), "La cobertura de los mosaicos no es válida."},
        {CutBox({nan, 4700000, 620000, 4720000}, Options(1000)),
         "Introduzca coordenadas UTM válidas"},
        {CutBox({600000, 4700000, 1e12, 4720000}, Options(1000)),
         "Introduzca coordenadas UTM válidas"},
        {CutCorridor({}, {}, 500, Options(1000)), "La ruta no tiene ningún punto."},
        {CutCorridor({{}}, {}, 500, Options(1000)), "La ruta no tiene ningún punto."},
        {CutCorridor({}, {{600000, 4700000}}, -1, Options(1000)),
         "El margen de la ruta no es válido."},
        {CutCorridor({}, {{600000, 4700000}}, nan, Options(1000)),
         "El margen de la ruta no es válido."},
    };
    for (const auto& [cut, message] : refused) {
        EXPECT_FALSE(cut.set);
        EXPECT_EQ(cut.message.toStdString(), message);
    }
}

// A corridor over more sheets than one job may hold is counted only until it passes them,
// and a box far too large only so far.
TEST(SheetLimits, AHugeAreaIsCountedUpToTheLimit) {
    const SheetCut corridor =
        CutCorridor({{{540000, 4650000}, {5540000, 4660000}}}, {}, 20000, Options(100));
    EXPECT_FALSE(corridor.set);
    EXPECT_EQ(corridor.sheetCount, kMaxSheets + 1);
    EXPECT_TRUE(corridor.message.contains(
        QStringLiteral("necesita más de %1 hojas").arg(GroupedNumber(kMaxSheets))))
        << corridor.message.toStdString();
    const SheetCut box = CutBox({540000, 4650000, 5540000, 5650000}, Options(100));
    EXPECT_FALSE(box.set);
    EXPECT_EQ(box.sheetCount, kSheetCountLimit + 1);
    EXPECT_TRUE(box.message.contains(
        QStringLiteral("necesita más de %1 hojas").arg(GroupedNumber(kSheetCountLimit))))
        << box.message.toStdString();
}

// --- Names and the job of a sheet -----------------------------------------------------

TEST(SheetName, TwoDigitsUpToNinetyNineSheetsThreeBeyond) {
    const std::tuple<int, int, const char*> names[] = {
        {1, 1, "Ruta_01"},    {9, 12, "Ruta_09"},     {99, 99, "Ruta_99"},
        {7, 100, "Ruta_007"}, {100, 100, "Ruta_100"}, {400, 400, "Ruta_400"},
    };
    for (const auto& [number, count, name] : names) {
        EXPECT_EQ(SheetName(kName, number, count).toStdString(), name);
    }
    // 9 x 11 and 10 x 10 sheets of 100 m tiles.
    const SheetCut ninetyNine = CutBox({600000, 4700000, 609000, 4711000}, Options(100));
    ASSERT_TRUE(ninetyNine.set);
    ASSERT_EQ(ninetyNine.set->sheets.size(), 99u);
    EXPECT_EQ(ninetyNine.set->sheets.back().name, QStringLiteral("Ruta_99"));
    const SheetCut hundred = CutBox({600000, 4700000, 610000, 4710000}, Options(100));
    ASSERT_TRUE(hundred.set);
    EXPECT_EQ(hundred.set->sheets.front().name, QStringLiteral("Ruta_001"));
    EXPECT_EQ(hundred.set->sheets.back().name, QStringLiteral("Ruta_100"));
    ExpectLatticeSheets(*hundred.set, kName);
}

// Each sheet's job is what the area recompute makes of the sheet's corner and counts.
TEST(SheetJob, IsTheJobTheAreaRecomputeMakesOfTheSheet) {
    const SheetCut cut = CutBox({601000, 4641000, 700000, 4739000}, Options(6000, 1));
    ASSERT_TRUE(cut.set);
    DownloadJob base;
    base.kind = MapKind::MDT;
    base.folder = QStringLiteral("/tmp/mapas");
    base.saveOzi = true;
    base.datum = CalibrationDatum::Wgs84;
    int position = -1;
    for (int p = 0; p < kCoverageCount; ++p) {
        if (CoverageMetres(MapKind::MDT, p) == 6000) {
            position = p;
        }
    }
    ASSERT_GE(position, 0) << "no 6000 m coverage for the terrain model";
    base.tile(3, 4).fetched = true;
    for (const Sheet& sheet : cut.set->sheets) {
        SCOPED_TRACE(sheet.name.toStdString());
        const DownloadJob job = SheetJob(base, sheet);
        AreaInputs in;
        in.eastingText = QString::number(sheet.easting);
        in.northingText = QString::number(sheet.northing - 4000000);
        in.acrossPosition = sheet.across - 1;
        in.downPosition = sheet.down - 1;
        in.coveragePosition = position;
        const AreaResult recomputed = RecalcArea(base, in);
        ASSERT_TRUE(recomputed.complete());
        const DownloadJob& want = recomputed.job;
        EXPECT_EQ(job.easting, want.easting);
        EXPECT_EQ(job.northingField, want.northingField);
        EXPECT_EQ(job.cornerEasting, want.cornerEasting);
        EXPECT_EQ(job.cornerNorthingField, want.cornerNorthingField);
        EXPECT_EQ(job.tileSize, want.tileSize);
        EXPECT_EQ(job.tilesAcross, want.tilesAcross);
        EXPECT_EQ(job.tilesDown, want.tilesDown);
        EXPECT_EQ(job.widthMetres, want.widthMetres);
        EXPECT_EQ(job.heightMetres, want.heightMetres);
        EXPECT_EQ(job.widthPixels, want.widthPixels);
        EXPECT_EQ(job.heightPixels, want.heightPixels);
        EXPECT_EQ(job.bmpName, sheet.name);
        EXPECT_EQ(job.kind, MapKind::MDT);
        EXPECT_EQ(job.folder, base.folder);
        EXPECT_TRUE(job.saveOzi);
        EXPECT_EQ(job.datum, CalibrationDatum::Wgs84);
        EXPECT_FALSE(job.tile(3, 4).fetched);
    }
}

} // namespace
