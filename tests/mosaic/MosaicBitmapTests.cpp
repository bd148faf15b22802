// The joined image: white at start, tiles edge to edge at 400-pixel steps, refusals.
#include "mosaic/MosaicBitmap.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

QImage Tile(const QColor& colour, int size = 400) {
    QImage tile(size, size, QImage::Format_RGB888);
    tile.fill(colour);
    return tile;
}

// A colour of its own for each tile of a grid.
QColor ColourOf(int column, int row) {
    return QColor(column * 20, row * 20, 100);
}

TEST(MosaicBitmap, CreatedWhiteAtTheGivenSize) {
    MosaicBitmap mosaic;
    EXPECT_FALSE(mosaic.isCreated());
    ASSERT_TRUE(mosaic.create(1200, 800));
    EXPECT_TRUE(mosaic.isCreated());
    EXPECT_EQ(mosaic.image().size(), QSize(1200, 800));
    EXPECT_EQ(mosaic.image().format(), QImage::Format_RGB888);
    for (const QPoint p : {QPoint(0, 0), QPoint(1199, 0), QPoint(600, 400), QPoint(1199, 799)}) {
        EXPECT_EQ(mosaic.image().pixelColor(p), QColor(Qt::white)) << p.x() << "," << p.y();
    }
    mosaic.release();
    EXPECT_FALSE(mosaic.isCreated());
}

TEST(MosaicBitmap, RefusesSizeWithoutPixels) {
    MosaicBitmap mosaic;
    QString error;
    EXPECT_FALSE(mosaic.create(0, 400, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(mosaic.isCreated());
}

// Places from the tile's column and row: (column - 1) * 400, (row - 1) * 400.
struct OriginCase {
    int column;
    int row;
    QPoint origin;
};

class TileOrigins : public ::testing::TestWithParam<OriginCase> {};

TEST_P(TileOrigins, FourHundredPixelSteps) {
    EXPECT_EQ(MosaicBitmap::TileOrigin(GetParam().column, GetParam().row), GetParam().origin);
}

INSTANTIATE_TEST_SUITE_P(Grid, TileOrigins,
                         ::testing::Values(OriginCase{1, 1, {0, 0}}, OriginCase{2, 1, {400, 0}},
                                           OriginCase{1, 2, {0, 400}}, OriginCase{3, 2, {800, 400}},
                                           OriginCase{10, 10, {3600, 3600}}));

// Every tile of a 3 x 2 grid keeps its own colour right up to its edges; no strip of
// white is left and no tile covers a neighbour's edge.
TEST(MosaicBitmap, TilesMeetEdgeToEdge) {
    MosaicBitmap mosaic;
    ASSERT_TRUE(mosaic.create(1200, 800));
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            ASSERT_TRUE(mosaic.drawTile(Tile(ColourOf(column, row)), column, row));
        }
    }
    const QImage& image = mosaic.image();
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            const int left = (column - 1) * 400;
            const int top = (row - 1) * 400;
            for (const QPoint p : {QPoint(left, top), QPoint(left + 399, top),
                                   QPoint(left, top + 399), QPoint(left + 399, top + 399)}) {
                EXPECT_EQ(image.pixelColor(p), ColourOf(column, row))
                    << "tile " << column << "," << row << " at " << p.x() << "," << p.y();
            }
        }
    }
}

TEST(MosaicBitmap, LastTileOfLargestGridAt3600) {
    MosaicBitmap mosaic;
    ASSERT_TRUE(mosaic.create(4000, 4000));
    ASSERT_TRUE(mosaic.drawTile(Tile(Qt::blue), 10, 10));
    EXPECT_EQ(mosaic.image().pixelColor(3600, 3600), QColor(Qt::blue));
    EXPECT_EQ(mosaic.image().pixelColor(3999, 3999), QColor(Qt::blue));
    EXPECT_EQ(mosaic.image().pixelColor(3599, 3600), QColor(Qt::white));
    EXPECT_EQ(mosaic.image().pixelColor(3600, 3599), QColor(Qt::white));
}

TEST(MosaicBitmap, TileInAnotherFormatIsConverted) {
    MosaicBitmap mosaic;
    ASSERT_TRUE(mosaic.create(400, 400));
    QImage grey(400, 400, QImage::Format_Grayscale8);
    grey.fill(QColor(77, 77, 77));
    ASSERT_TRUE(mosaic.drawTile(grey, 1, 1));
    EXPECT_EQ(mosaic.image().pixelColor(200, 200), QColor(77, 77, 77));
}

TEST(MosaicBitmap, SmallerTileDrawnUnscaledAtItsPlace) {
    MosaicBitmap mosaic;
    ASSERT_TRUE(mosaic.create(800, 400));
    ASSERT_TRUE(mosaic.drawTile(Tile(Qt::red, 100), 2, 1));
    EXPECT_EQ(mosaic.image().pixelColor(400, 0), QColor(Qt::red));
    EXPECT_EQ(mosaic.image().pixelColor(499, 99), QColor(Qt::red));
    EXPECT_EQ(mosaic.image().pixelColor(500, 99), QColor(Qt::white));
    EXPECT_EQ(mosaic.image().pixelColor(499, 100), QColor(Qt::white));
}

TEST(MosaicBitmap, RefusedTilesLeaveTheImageUntouched) {
    MosaicBitmap mosaic;
    QString error;
    EXPECT_FALSE(mosaic.drawTile(Tile(Qt::red), 1, 1, &error)) << "no image yet";
    EXPECT_FALSE(error.isEmpty());

    ASSERT_TRUE(mosaic.create(400, 400));
    const QImage before = mosaic.image().copy();
    error.clear();
    EXPECT_FALSE(mosaic.drawTile(QImage(), 1, 1, &error));
    EXPECT_FALSE(error.isEmpty());
    // A grid of two columns whose pixel width still says one tile.
    error.clear();
    EXPECT_FALSE(mosaic.drawTile(Tile(Qt::red), 2, 1, &error));
    EXPECT_FALSE(error.isEmpty());
    // A tile larger than its place.
    EXPECT_FALSE(mosaic.drawTile(Tile(Qt::red, 401), 1, 1));
    EXPECT_EQ(mosaic.image(), before);
}

} // namespace
