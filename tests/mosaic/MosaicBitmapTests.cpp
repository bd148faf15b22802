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

// White at start. A grey tile is converted; a tile smaller than its place is drawn
// unscaled at the place's top-left corner, the rest staying white.
TEST(MosaicBitmap, TilesKeepTheirPixelsAtFourHundredPixelSteps) {
    MosaicBitmap mosaic;
    ASSERT_TRUE(mosaic.create(800, 800));
    EXPECT_EQ(mosaic.image().format(), QImage::Format_RGB888);
    EXPECT_EQ(mosaic.image().pixelColor(799, 799), QColor(Qt::white));
    QImage grey(400, 400, QImage::Format_Grayscale8);
    grey.fill(QColor(77, 77, 77));
    ASSERT_TRUE(mosaic.drawTile(grey, 1, 1));
    ASSERT_TRUE(mosaic.drawTile(Tile(Qt::red, 100), 2, 2));
    const QImage& image = mosaic.image();
    EXPECT_EQ(image.pixelColor(0, 0), QColor(77, 77, 77));
    EXPECT_EQ(image.pixelColor(399, 399), QColor(77, 77, 77));
    EXPECT_EQ(image.pixelColor(400, 0), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(400, 400), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(499, 499), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(500, 499), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(499, 500), QColor(Qt::white));
}

TEST(MosaicBitmap, RefusalsLeaveTheImageUntouched) {
    MosaicBitmap mosaic;
    QString error;
    EXPECT_FALSE(mosaic.create(0, 400, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(mosaic.isCreated());
    error.clear();
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
