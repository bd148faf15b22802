// Where the exports place the image: its rectangle, Web Mercator's zoom levels, the windows
// of the Garmin overlays, the levels of overviews and the tile pyramid.
#include "exports/ExportGeometry.h"
#include "exports/FormatWriters.h"
#include "exports/TilePyramid.h"
#include "geo/CalibrationPoints.h"
#include "tests/exports/ExportTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

namespace {

TEST(GridArea, IsTheRectangleTheCalibrationFilesGive) {
    const ExportCase cases[] = {
        {QStringLiteral("orthophoto 2 x 2 of 1000 m")},
        {QStringLiteral("terrain 3 x 2 of 10000 m"), QStringLiteral("600000"),
         QStringLiteral("760000"), MapKind::MDT, 0, 3, 2},
        {QStringLiteral("orthophoto 10 x 1 of 100 m"), QStringLiteral("537000"),
         QStringLiteral("640000"), MapKind::Orto, 4, 10, 1}};
    for (const ExportCase& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const ExportInput input = MakeExportInput(c, QStringLiteral("/nowhere"));
        GridArea area;
        QString error;
        ASSERT_TRUE(
            GridAreaOfJob(input.job, input.image.width(), input.image.height(), &area, &error))
            << error.toStdString();
        const CalibrationCornerList corners = BuildCalibrationLists(input.job).corners;
        EXPECT_EQ(area.west, corners[0].easting);
        EXPECT_EQ(area.north, corners[0].northing);
        EXPECT_EQ(area.east, corners[2].easting);
        EXPECT_EQ(area.south, corners[2].northing);
        EXPECT_EQ(area.width, corners[2].x);
        EXPECT_EQ(area.height, corners[2].y);
        const std::array<double, 6> t = area.geoTransform();
        EXPECT_DOUBLE_EQ(t[0] + t[1] * area.width, area.east);
        EXPECT_DOUBLE_EQ(t[3] + t[5] * area.height, area.south);
    }
}

TEST(GridArea, RefusesAnImageOfAnotherSizeAndAnEmptyArea) {
    const ExportInput input = MakeExportInput(ExportCase{}, QStringLiteral("/nowhere"));
    GridArea area;
    QString error;
    EXPECT_FALSE(GridAreaOfJob(input.job, 800, 801, &area, &error));
    EXPECT_EQ(error,
              QStringLiteral("la imagen (800 x 801 píxeles) no es la de la zona (800 x 800)"));
    DownloadJob empty = input.job;
    empty.cornerEasting = empty.easting;
    EXPECT_FALSE(GridAreaOfJob(empty, 800, 800, &area, &error));
    EXPECT_EQ(error, QStringLiteral("la zona no tiene tamaño"));
}

TEST(WebMercatorZooms, KeepEveryDetailDownToOneTile) {
    const double z16 = WebMercatorPixel(16);
    const struct {
        const char* why;
        double width, height, pixel;
        int minZoom, maxZoom;
    } cases[] = {
        // A pixel exactly a level's own takes that level, not the next one.
        {"pixel of zoom 16", 256 * z16, 256 * z16, z16, 16, 16},
        {"pixel a hair finer than zoom 16's", 100, 100, z16 * 0.999, 17, 17},
        {"pixel a hair coarser than zoom 16's", 100, 100, z16 * 1.001, 16, 16},
        // 2.5 m orthophoto pixels at 42.7 degrees north are 3.4 Web Mercator metres: zoom 16
        // (2.39 m) keeps them; the 10 x 10 run's 13.6 km fit one tile (19.6 km) at zoom 11.
        {"10 x 10 tiles of 1000 m near Pamplona", 13600, 13600, 3.4, 11, 16},
        // One tile of zoom 14 exactly, and a metre more.
        {"one tile of zoom 14", 256 * WebMercatorPixel(14), 10, z16, 14, 16},
        {"a metre over one tile of zoom 14", 256 * WebMercatorPixel(14) + 1, 10, z16, 13, 16},
        // Anything no larger than a tile at the most detailed level has that level only.
        {"smaller than a tile", 50, 40, z16, 16, 16},
    };
    for (const auto& c : cases) {
        const ZoomRange r = WebMercatorZooms(c.width, c.height, c.pixel);
        EXPECT_EQ(r.minZoom, c.minZoom) << c.why;
        EXPECT_EQ(r.maxZoom, c.maxZoom) << c.why;
    }
    // Zoom 0 is the whole world in one 256-pixel tile.
    EXPECT_DOUBLE_EQ(WebMercatorPixel(0) * 256, 2 * 20037508.342789244);
}

TEST(SplitIntoWindows, CoversEdgeToEdgeWithinTheLimit) {
    const struct {
        int width, height, maxSide, across, down;
    } cases[] = {{1024, 1024, 1024, 1, 1},
                 {1025, 10, 1024, 2, 1},
                 {4100, 4000, 1024, 5, 4},
                 {1, 1, 1024, 1, 1},
                 {3000, 2049, 1024, 3, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        const std::vector<PixelWindow> windows = SplitIntoWindows(c.width, c.height, c.maxSide);
        ASSERT_EQ(windows.size(), static_cast<size_t>(c.across * c.down));
        long long area = 0;
        for (size_t i = 0; i < windows.size(); ++i) {
            const PixelWindow& w = windows[i];
            const int column = static_cast<int>(i) % c.across;
            const int row = static_cast<int>(i) / c.across;
            EXPECT_LE(w.width, c.maxSide);
            EXPECT_LE(w.height, c.maxSide);
            // Row by row from the upper left, each starting where its neighbour ends.
            EXPECT_EQ(w.x, column == 0 ? 0 : windows[i - 1].x + windows[i - 1].width);
            EXPECT_EQ(w.y, row == 0 ? 0 : windows[i - c.across].y + windows[i - c.across].height);
            EXPECT_LE(std::abs(w.width - windows[0].width), 1);
            EXPECT_LE(std::abs(w.height - windows[0].height), 1);
            area += static_cast<long long>(w.width) * w.height;
        }
        EXPECT_EQ(area, static_cast<long long>(c.width) * c.height);
        EXPECT_EQ(windows.back().x + windows.back().width, c.width);
        EXPECT_EQ(windows.back().y + windows.back().height, c.height);
    }
    EXPECT_TRUE(SplitIntoWindows(0, 5, 1024).empty());
}

// A square of `side` pixels turned by `degrees` about its centre, in the grid that just holds
// it, as a UTM area looks on the degrees' grid away from the central meridian.
std::vector<GridPoint> TurnedSquare(double side, double degrees, int* gridSide) {
    const double a = degrees * 3.14159265358979323846 / 180.0;
    const double half = side * (std::cos(a) + std::sin(a)) / 2.0;
    *gridSide = static_cast<int>(std::ceil(2.0 * half));
    std::vector<GridPoint> outline;
    for (const auto& [u, v] : {std::pair{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}) {
        const double x = u * side / 2.0;
        const double y = v * side / 2.0;
        outline.push_back(
            {half + x * std::cos(a) - y * std::sin(a), half + x * std::sin(a) + y * std::cos(a)});
    }
    return outline;
}

// Whether the point lies in the outline or on its edge.
bool InsideOutline(const std::vector<GridPoint>& outline, double x, double y) {
    bool inside = false;
    for (size_t i = 0; i < outline.size(); ++i) {
        const GridPoint& p = outline[i];
        const GridPoint& q = outline[(i + 1) % outline.size()];
        // On the edge, to a millionth of a pixel.
        const double length = std::hypot(q.x - p.x, q.y - p.y);
        const double t = ((x - p.x) * (q.x - p.x) + (y - p.y) * (q.y - p.y)) / (length * length);
        const double cx = p.x + std::clamp(t, 0.0, 1.0) * (q.x - p.x);
        const double cy = p.y + std::clamp(t, 0.0, 1.0) * (q.y - p.y);
        if (std::hypot(x - cx, y - cy) < 1e-6) {
            return true;
        }
        if ((p.y > y) != (q.y > y) && x < p.x + (q.x - p.x) * (y - p.y) / (q.y - p.y)) {
            inside = !inside;
        }
    }
    return inside;
}

// A square whose top edge bends down by `dip` pixels in its middle, as a UTM area's northern
// edge does on the degrees' grid: a line just under its corners crosses it twice.
std::vector<GridPoint> BentSquare(double side, double dip) {
    std::vector<GridPoint> outline;
    for (int i = 0; i <= 100; ++i) {
        const double x = side * i / 100;
        outline.push_back({x, dip * std::sin(3.14159265358979323846 * i / 100)});
    }
    outline.push_back({side, side});
    outline.push_back({0, side});
    return outline;
}

TEST(WindowsInsideOutline, HoldNothingOutsideAndAsMuchInsideAsWholePixelsCan) {
    const struct {
        const char* what;
        double side, degrees;
        int maxSide;
        size_t windows;
        // One window: the largest square inside a square of side s turned by a is
        // s / (cos a + sin a), (s (cos a + sin a) - s / (cos a + sin a)) / 2 from the grid's
        // edge, and covers 1 / (1 + sin 2a) of it. With n windows a side, each edge's wedge
        // is cut n times: the gap is a window's side times tan a, what is left out 2 tan a / n.
        double gap, covered;
        double bend = 0;
    } cases[] = {
        {"not turned", 1000, 0, 1024, 1, 0, 1},
        {"turned 1 degree, one window", 1000, 1, 1024, 1, 17.2, 0.966},
        // Four windows follow the edges closer: each edge's wedge is cut in two.
        {"turned 1 degree, four windows", 1000, 1, 512, 4, 8.7, 0.983},
        {"turned 2 degrees, twenty-five windows", 4000, 2, 1024, 25, 28.9, 0.986},
        // Below the deepest point of the bend, all 1000 pixels across: the dip left out.
        {"top edge bent 10 pixels down", 1000, 0, 1024, 1, 10, 0.9964, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int side = static_cast<int>(c.side);
        const std::vector<GridPoint> outline =
            c.bend > 0 ? BentSquare(c.side, c.bend) : TurnedSquare(c.side, c.degrees, &side);
        const WindowsInside inside = WindowsInsideOutline(outline, side, side, c.maxSide);
        ASSERT_EQ(inside.windows.size(), c.windows);
        EXPECT_NEAR(inside.gap, c.gap, 1.5);
        EXPECT_NEAR(inside.covered, c.covered, 0.003);
        const std::vector<PixelWindow> cut = SplitIntoWindows(side, side, c.maxSide);
        for (size_t i = 0; i < inside.windows.size(); ++i) {
            const PixelWindow& w = inside.windows[i];
            SCOPED_TRACE(testing::Message() << "window " << i);
            // Within its own window of the plain cut, its corners inside the outline...
            EXPECT_GE(w.x, cut[i].x);
            EXPECT_GE(w.y, cut[i].y);
            EXPECT_LE(w.x + w.width, cut[i].x + cut[i].width);
            EXPECT_LE(w.y + w.height, cut[i].y + cut[i].height);
            for (const auto& [x, y] : {std::pair{w.x, w.y},
                                       {w.x + w.width, w.y},
                                       {w.x, w.y + w.height},
                                       {w.x + w.width, w.y + w.height}}) {
                EXPECT_TRUE(InsideOutline(outline, x, y)) << x << ", " << y;
            }
            // ... and a pixel more on any side that may grow crosses the outline.
            const bool outward[] = {w.x > cut[i].x,
                                    w.x + w.width<cut[i].x + cut[i].width, w.y> cut[i].y,
                                    w.y + w.height < cut[i].y + cut[i].height};
            const PixelWindow grown[] = {{w.x - 1, w.y, w.width + 1, w.height},
                                         {w.x, w.y, w.width + 1, w.height},
                                         {w.x, w.y - 1, w.width, w.height + 1},
                                         {w.x, w.y, w.width, w.height + 1}};
            for (int k = 0; k < 4; ++k) {
                const PixelWindow& g = grown[k];
                bool holds = true;
                for (int x = g.x; x <= g.x + g.width; ++x) {
                    holds = holds && InsideOutline(outline, x, g.y) &&
                            InsideOutline(outline, x, g.y + g.height);
                }
                for (int y = g.y; y <= g.y + g.height; ++y) {
                    holds = holds && InsideOutline(outline, g.x, y) &&
                            InsideOutline(outline, g.x + g.width, y);
                }
                EXPECT_FALSE(outward[k] && holds) << "side " << k << " could grow";
            }
        }
    }
    // A window the outline does not reach has no image.
    const std::vector<GridPoint> corner{{0, 0}, {100, 0}, {100, 100}, {0, 100}};
    const WindowsInside one = WindowsInsideOutline(corner, 1000, 1000, 500);
    ASSERT_EQ(one.windows.size(), 1u);
    EXPECT_EQ(one.windows[0].width, 100);
    EXPECT_EQ(one.windows[0].height, 100);
}

TEST(OverviewFactors, HalveUntilTheLargerSideFits) {
    EXPECT_EQ(OverviewFactors(4000, 4000, 511), (std::vector<int>{2, 4, 8}));
    EXPECT_EQ(OverviewFactors(1200, 800, 256), (std::vector<int>{2, 4, 8}));
    EXPECT_EQ(OverviewFactors(800, 1200, 256), (std::vector<int>{2, 4, 8}));
    EXPECT_EQ(OverviewFactors(512, 400, 511), (std::vector<int>{2}));
    EXPECT_TRUE(OverviewFactors(400, 400, 511).empty());
}

TEST(GarminRemark, OnlyOverOneHundredImages) {
    EXPECT_TRUE(TooManyImagesRemark(QStringLiteral("Prueba.kmz"), 100).isEmpty());
    EXPECT_EQ(TooManyImagesRemark(QStringLiteral("Prueba.kmz"), 101),
              QStringLiteral(". Prueba.kmz tiene 101 imágenes: la mayoría de los GPS Garmin no "
                             "muestran más de 100"));
}

TEST(PipelineTo, AddsTheStepsToTheCrsAndRefusesWhatIsNoPipeline) {
    const QString etrs89 =
        QStringLiteral("+proj=pipeline +step +inv +proj=utm +zone=30 +ellps=intl");
    EXPECT_EQ(PipelineTo(MovedCrs::Wgs84, etrs89),
              etrs89.toStdString() + " +step +proj=axisswap +order=2,1");
    EXPECT_NE(PipelineTo(MovedCrs::WebMercator, etrs89).find("+step +proj=webmerc"),
              std::string::npos);
    EXPECT_TRUE(PipelineTo(MovedCrs::Wgs84, QString()).empty());
    EXPECT_TRUE(PipelineTo(MovedCrs::Wgs84, QStringLiteral("EPSG:1632")).empty());
}

// A level of a pyramid as a map from its zoom's pixels, RGBA.
struct LevelPixels {
    int x0 = 0, y0 = 0, width = 0, height = 0; // in the level's own pixels
    std::vector<uint8_t> rgba;
    const uint8_t* at(int x, int y) const {
        static const uint8_t nothing[4] = {0, 0, 0, 0};
        if (x < x0 || y < y0 || x >= x0 + width || y >= y0 + height) {
            return nothing;
        }
        return rgba.data() + 4 * (static_cast<size_t>(y - y0) * width + (x - x0));
    }
};

// The level below, computed here plainly over the zoom's pixels: nothing where the level
// above has nothing, each pixel from the 2 x 2 above it.
LevelPixels HalvedLevel(const LevelPixels& above) {
    LevelPixels below;
    below.x0 = above.x0 / 2;
    below.y0 = above.y0 / 2;
    below.width = (above.x0 + above.width + 1) / 2 - below.x0;
    below.height = (above.y0 + above.height + 1) / 2 - below.y0;
    below.rgba.resize(4u * below.width * below.height);
    for (int y = 0; y < below.height; ++y) {
        for (int x = 0; x < below.width; ++x) {
            const int X = 2 * (below.x0 + x);
            const int Y = 2 * (below.y0 + y);
            TilePyramid::Halve(above.at(X, Y), above.at(X + 1, Y), above.at(X, Y + 1),
                               above.at(X + 1, Y + 1),
                               below.rgba.data() + 4 * (static_cast<size_t>(y) * below.width + x));
        }
    }
    return below;
}

TEST(TilePyramid, HalvesEachLevelOntoItsOwnZoomsTiles) {
    constexpr int kTile = TilePyramid::kTile;
    const struct {
        const char* what;
        int columns, rows;
        TilePyramid::TileIndex origin;
        int levels;
    } cases[] = {
        // Tile edges meet from level to level.
        {"on even tiles", 2, 2, {4, 8}, 2},
        // The level above lands 128 pixels into the level below, across and down.
        {"on odd tiles", 3, 3, {5, 7}, 3},
        {"one tile, odd column, even row", 1, 2, {3, 2}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A top level whose pixels all differ, with a transparent corner and a half-covered one.
        LevelPixels level{
            c.origin.column * kTile, c.origin.row * kTile, c.columns * kTile, c.rows * kTile, {}};
        for (int y = 0; y < level.height; ++y) {
            for (int x = 0; x < level.width; ++x) {
                const uint8_t alpha = x + y < 100 ? 0 : (x > level.width - 60 ? 128 : 255);
                level.rgba.insert(level.rgba.end(),
                                  {alpha == 0 ? uint8_t{0} : static_cast<uint8_t>(x * 7 + y),
                                   alpha == 0 ? uint8_t{0} : static_cast<uint8_t>(x ^ y),
                                   alpha == 0 ? uint8_t{0} : static_cast<uint8_t>(255 - y), alpha});
            }
        }
        // What the pyramid hands on, level by level, laid on each level's pixels.
        std::vector<std::vector<std::tuple<int, int, int>>> rows(c.levels + 1);
        std::vector<std::vector<std::vector<uint8_t>>> handed(c.levels + 1);
        TilePyramid pyramid(
            c.columns, c.origin, c.levels,
            [&](int l, TilePyramid::TileIndex first, int columns, const uint8_t* p) {
                rows[l].emplace_back(first.column, first.row, columns);
                handed[l].emplace_back(p, p + 4u * kTile * kTile * columns);
                return true;
            });
        for (int r = 0; r < c.rows; ++r) {
            ASSERT_TRUE(pyramid.add(level.rgba.data() + 4u * kTile * level.width * r));
        }
        ASSERT_TRUE(pyramid.finish());
        for (int l = 1; l <= c.levels; ++l) {
            SCOPED_TRACE(testing::Message() << "level " << l);
            level = HalvedLevel(level);
            // Whole rows of tiles, one after the other, covering the level.
            ASSERT_FALSE(rows[l].empty());
            const auto [firstColumn, firstRow, columns] = rows[l].front();
            EXPECT_EQ(firstColumn, level.x0 / kTile);
            EXPECT_EQ(firstRow, level.y0 / kTile);
            EXPECT_EQ((firstColumn + columns) * kTile,
                      (level.x0 + level.width + kTile - 1) / kTile * kTile);
            EXPECT_EQ((firstRow + static_cast<int>(rows[l].size())) * kTile,
                      (level.y0 + level.height + kTile - 1) / kTile * kTile);
            for (size_t i = 0; i < rows[l].size(); ++i) {
                EXPECT_EQ(rows[l][i],
                          std::make_tuple(firstColumn, firstRow + static_cast<int>(i), columns));
                const int width = columns * kTile;
                int wrong = 0;
                for (int y = 0; y < kTile; ++y) {
                    for (int x = 0; x < width; ++x) {
                        const uint8_t* got =
                            handed[l][i].data() + 4 * (static_cast<size_t>(y) * width + x);
                        const uint8_t* meant = level.at(
                            firstColumn * kTile + x, (firstRow + static_cast<int>(i)) * kTile + y);
                        wrong += std::equal(got, got + 4, meant) ? 0 : 1;
                    }
                }
                EXPECT_EQ(wrong, 0) << "row of tiles " << i;
            }
        }
    }
}

TEST(TilePyramid, WeighsColoursByTheirCoverAndStopsWhenTheSinkRefuses) {
    const struct {
        const char* what;
        std::array<std::array<uint8_t, 4>, 4> in;
        std::array<uint8_t, 4> out;
    } cases[] = {
        {"opaque: the rounded mean",
         {{{10, 20, 30, 255}, {11, 20, 30, 255}, {12, 20, 30, 255}, {12, 21, 31, 255}}},
         {11, 20, 30, 255}},
        // The transparent half adds no black to the colour, only transparency.
        {"half covered",
         {{{200, 100, 50, 255}, {0, 0, 0, 0}, {200, 100, 50, 255}, {0, 0, 0, 0}}},
         {200, 100, 50, 128}},
        {"partly covered pixels weigh by their cover",
         {{{100, 0, 0, 255}, {200, 0, 0, 85}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
         {125, 0, 0, 85}},
        {"nothing", {{{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}}, {0, 0, 0, 0}},
        {"less than half a level of cover",
         {{{90, 90, 90, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
         {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        std::array<uint8_t, 4> out{};
        TilePyramid::Halve(c.in[0].data(), c.in[1].data(), c.in[2].data(), c.in[3].data(),
                           out.data());
        EXPECT_EQ(out, c.out) << c.what;
    }

    int calls = 0;
    TilePyramid pyramid(2, {0, 0}, 2, [&](int, TilePyramid::TileIndex, int, const uint8_t*) {
        return ++calls < 1;
    });
    const std::vector<uint8_t> top(4u * 2 * TilePyramid::kTile * TilePyramid::kTile, 255);
    EXPECT_TRUE(pyramid.add(top.data())); // the level below waits for its second half
    EXPECT_FALSE(pyramid.add(top.data()));
    EXPECT_EQ(calls, 1);
}

} // namespace
