// Where the exports place the image: its rectangle, Web Mercator's zoom levels, the windows
// of the Garmin overlays, the levels of overviews and the tile pyramid.
#include "exports/ExportGeometry.h"
#include "exports/FormatWriters.h"
#include "exports/TilePyramid.h"
#include "geo/CalibrationPoints.h"
#include "tests/exports/ExportTestSupport.h"

#include <gtest/gtest.h>

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

// What a tile pyramid hands on: (level, first row, rows) and the pixels of every level.
struct Handed {
    std::vector<std::tuple<int, int, int>> stripes;
    std::vector<std::vector<uint8_t>> levels;
};

Handed Build(const std::vector<TilePyramid::Level>& levels, int tileRows,
             const std::vector<uint8_t>& top, int feedRows) {
    Handed h;
    h.levels.resize(levels.size());
    TilePyramid pyramid(levels, tileRows, [&](int level, int firstRow, int rows, const uint8_t* p) {
        h.stripes.emplace_back(level, firstRow, rows);
        auto& out = h.levels[static_cast<size_t>(level)];
        out.insert(out.end(), p, p + 3 * levels[static_cast<size_t>(level)].width * rows);
        return true;
    });
    const int width = levels[0].width;
    for (int y = 0; y < levels[0].height; y += feedRows) {
        const int rows = std::min(feedRows, levels[0].height - y);
        EXPECT_TRUE(pyramid.add(top.data() + 3 * width * y, rows));
    }
    EXPECT_TRUE(pyramid.finish());
    return h;
}

std::vector<uint8_t> Pattern(int width, int height) {
    std::vector<uint8_t> p;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            p.push_back(static_cast<uint8_t>(x * 7 + y * 3));
            p.push_back(static_cast<uint8_t>(x * y));
            p.push_back(static_cast<uint8_t>(255 - x - 2 * y));
        }
    }
    return p;
}

// The level below, computed here plainly: the rounded mean of each 2 x 2 block, the last
// column and row standing in for their missing neighbours.
std::vector<uint8_t> Halved(const std::vector<uint8_t>& p, int width, int height) {
    const int w = (width + 1) / 2;
    const int h = (height + 1) / 2;
    std::vector<uint8_t> out;
    const auto at = [&](int x, int y, int c) {
        return p[static_cast<size_t>(
            3 * (std::min(y, height - 1) * width + std::min(x, width - 1)) + c)];
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int sum = at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) +
                                at(2 * x, 2 * y + 1, c) + at(2 * x + 1, 2 * y + 1, c);
                out.push_back(static_cast<uint8_t>((sum + 2) / 4));
            }
        }
    }
    return out;
}

TEST(TilePyramid, HalvesEachLevelAndHandsItOnByRowsOfTiles) {
    const struct {
        const char* what;
        std::vector<TilePyramid::Level> levels;
        int feedRows;
    } cases[] = {
        // Rows of 8-row tiles; the lower levels start part-way down a row of tiles.
        {"even sizes", {{40, 32, 8}, {20, 16, 3}, {10, 8, 5}, {5, 4, 8}}, 8},
        {"odd sizes, fed a row at a time", {{7, 13, 8}, {4, 7, 2}, {2, 4, 1}}, 1},
        {"a lowest level of one pixel", {{3, 3, 4}, {2, 2, 4}, {1, 1, 4}}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(TilePyramid::Halves(c.levels));
        const std::vector<uint8_t> top = Pattern(c.levels[0].width, c.levels[0].height);
        const Handed h = Build(c.levels, 8, top, c.feedRows);
        std::vector<uint8_t> expected = top;
        for (size_t l = 0; l < c.levels.size(); ++l) {
            SCOPED_TRACE(testing::Message() << "level " << l);
            const TilePyramid::Level& level = c.levels[l];
            if (l > 0) {
                expected = Halved(expected, c.levels[l - 1].width, c.levels[l - 1].height);
            }
            EXPECT_EQ(h.levels[l], expected);
            // Stripes follow one another and end on the level's rows of tiles.
            int next = 0;
            for (const auto& [stripeLevel, first, rows] : h.stripes) {
                if (stripeLevel != static_cast<int>(l)) {
                    continue;
                }
                EXPECT_EQ(first, next);
                const int end = first + rows;
                EXPECT_TRUE(end == level.height || (end - level.firstStripeRows) % 8 == 0)
                    << "stripe " << first << " + " << rows;
                EXPECT_LE(rows, 8);
                next = end;
            }
            EXPECT_EQ(next, level.height);
        }
    }
}

TEST(TilePyramid, StopsWhenTheSinkRefusesAndKnowsWhatIsNoPyramid) {
    const std::vector<TilePyramid::Level> levels{{4, 4, 2}, {2, 2, 2}};
    int calls = 0;
    TilePyramid pyramid(levels, 2, [&](int, int, int, const uint8_t*) { return ++calls < 1; });
    const std::vector<uint8_t> top = Pattern(4, 4);
    EXPECT_FALSE(pyramid.add(top.data(), 4));
    EXPECT_EQ(calls, 1);

    EXPECT_FALSE(TilePyramid::Halves({}));
    EXPECT_FALSE(TilePyramid::Halves({{4, 4, 2}, {3, 2, 2}}));
    EXPECT_FALSE(TilePyramid::Halves({{4, 4, 0}}));
    EXPECT_TRUE(TilePyramid::Halves({{5, 4, 2}, {3, 2, 2}}));
}

} // namespace
