// The BMP writer: header fields, row order and padding, and the atomic file replacement.
#include "mosaic/BmpFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

uint32_t U32At(const QByteArray& b, int at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
    }
    return v;
}

uint16_t U16At(const QByteArray& b, int at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) |
                                 (static_cast<uint8_t>(b.at(at + 1)) << 8));
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Red, green, blue over white, black and (10, 20, 30).
QImage ThreeByTwo() {
    QImage image(3, 2, QImage::Format_RGB888);
    image.setPixelColor(0, 0, QColor(255, 0, 0));
    image.setPixelColor(1, 0, QColor(0, 255, 0));
    image.setPixelColor(2, 0, QColor(0, 0, 255));
    image.setPixelColor(0, 1, QColor(255, 255, 255));
    image.setPixelColor(1, 1, QColor(0, 0, 0));
    image.setPixelColor(2, 1, QColor(10, 20, 30));
    return image;
}

// The golden file was typed byte by byte from the format's field list and checked with
// ImageMagick (`convert bmp_3x2_24bit.bmp txt:-` lists the six pixels above).
const QString kGolden = QStringLiteral(MORVEL_TEST_DATA_DIR "/bmp_3x2_24bit.bmp");

TEST(BmpWriter, SmallImageMatchesGoldenFileByteForByte) {
    const QByteArray golden = ReadAll(kGolden);
    ASSERT_EQ(golden.size(), 78);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(WriteBmp(ThreeByTwo(), buffer));
    EXPECT_EQ(buffer.data().toHex(' '), golden.toHex(' '));
}

TEST(BmpWriter, ImageInAnotherFormatIsStoredAs24Bit) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(WriteBmp(ThreeByTwo().convertToFormat(QImage::Format_ARGB32), buffer));
    EXPECT_EQ(buffer.data(), ReadAll(kGolden));
}

// Header of the largest mosaic, 10 x 10 tiles: 4000 x 4000 pixels, rows of 12000 bytes.
TEST(BmpHeader, LargestMosaicFields) {
    const QByteArray h = BmpHeader(4000, 4000);
    ASSERT_EQ(h.size(), 54);
    EXPECT_EQ(h.left(2), QByteArray("BM"));
    EXPECT_EQ(U32At(h, 2), 48000054u); // 54 + 12000 * 4000
    EXPECT_EQ(U32At(h, 6), 0u);        // two reserved words
    EXPECT_EQ(U32At(h, 10), 54u);      // pixel data offset
    EXPECT_EQ(U32At(h, 14), 40u);      // information header size
    EXPECT_EQ(U32At(h, 18), 4000u);
    EXPECT_EQ(U32At(h, 22), 4000u); // positive: bottom-up rows
    EXPECT_EQ(U16At(h, 26), 1u);    // planes
    EXPECT_EQ(U16At(h, 28), 24u);   // bits per pixel
    EXPECT_EQ(U32At(h, 30), 0u);    // no compression
    EXPECT_EQ(U32At(h, 34), 48000000u);
    EXPECT_EQ(U32At(h, 46), 0u); // no colour table
}

struct PaddingCase {
    int width;
    int rowBytes; // 3 bytes a pixel, up to the next multiple of 4
};

class BmpPadding : public ::testing::TestWithParam<PaddingCase> {};

TEST_P(BmpPadding, RowsArePaddedToFourBytesWithZeros) {
    const int width = GetParam().width;
    EXPECT_EQ(BmpRowBytes(width), GetParam().rowBytes);
    QImage image(width, 3, QImage::Format_RGB888);
    image.fill(QColor(1, 2, 3));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(WriteBmp(image, buffer));
    const QByteArray data = buffer.data();
    ASSERT_EQ(data.size(), 54 + 3 * GetParam().rowBytes);
    EXPECT_EQ(U32At(data, 2), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(U32At(data, 34), static_cast<uint32_t>(3 * GetParam().rowBytes));
    for (int row = 0; row < 3; ++row) {
        const QByteArray stored = data.mid(54 + row * GetParam().rowBytes, GetParam().rowBytes);
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ(stored.mid(3 * x, 3), QByteArray("\x03\x02\x01", 3)) << "x " << x;
        }
        EXPECT_EQ(stored.mid(3 * width), QByteArray(GetParam().rowBytes - 3 * width, '\0'));
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, BmpPadding,
                         ::testing::Values(PaddingCase{1, 4}, PaddingCase{2, 8}, PaddingCase{3, 12},
                                           PaddingCase{4, 12}, PaddingCase{5, 16},
                                           PaddingCase{400, 1200}, PaddingCase{401, 1204}));

TEST(BmpWriter, RefusesEmptyImage) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_FALSE(WriteBmp(QImage(), buffer, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(BmpHeader(0, 5).isEmpty());
    EXPECT_TRUE(BmpHeader(5, -1).isEmpty());
}

TEST(BmpWriter, ReportsDeviceError) {
    QBuffer buffer; // never opened: every write fails
    QString error;
    EXPECT_FALSE(WriteBmp(ThreeByTwo(), buffer, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(BmpWriter, SlicesGiveTheSameBytesAsOneWrite) {
    QImage image(37, 23, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixelColor(x, y, QColor(x * 6, y * 11, (x + y) * 3));
        }
    }
    QBuffer whole;
    whole.open(QIODevice::WriteOnly);
    ASSERT_TRUE(WriteBmp(image, whole));

    QBuffer sliced;
    sliced.open(QIODevice::WriteOnly);
    BmpStreamWriter writer(image, sliced);
    ASSERT_TRUE(writer.writeHeader());
    int slices = 0;
    while (!writer.done()) {
        ASSERT_TRUE(writer.writeRows(5));
        ++slices;
    }
    EXPECT_EQ(slices, 5); // 23 rows in slices of 5
    EXPECT_EQ(sliced.data(), whole.data());
    // Read back by Qt's own reader: the same pixels, top row first.
    QImage back;
    ASSERT_TRUE(back.loadFromData(sliced.data(), "BMP"));
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB888), image);
}

TEST(BmpFileSaver, ReplacesAnExistingFileOnlyOnCommit) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Prueba.bmp"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    BmpFileSaver saver;
    ASSERT_TRUE(saver.begin(ThreeByTwo(), path));
    ASSERT_TRUE(saver.step(1));
    EXPECT_EQ(ReadAll(path), QByteArray("old contents"));
    ASSERT_TRUE(saver.step(1));
    EXPECT_TRUE(saver.rowsDone());
    ASSERT_TRUE(saver.commit());
    EXPECT_EQ(ReadAll(path), ReadAll(kGolden));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Prueba.bmp")});
}

TEST(BmpFileSaver, CancelLeavesOldFileAndNoTemporaryFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Prueba.bmp"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    {
        BmpFileSaver saver;
        ASSERT_TRUE(saver.begin(ThreeByTwo(), path));
        ASSERT_TRUE(saver.step(1));
        saver.cancel();
        EXPECT_FALSE(saver.isActive());
        EXPECT_FALSE(saver.commit()); // nothing to commit after a cancel
    }
    {
        BmpFileSaver dropped; // destroyed half-way: same as cancel
        ASSERT_TRUE(dropped.begin(ThreeByTwo(), path));
    }
    EXPECT_EQ(ReadAll(path), QByteArray("old contents"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Prueba.bmp")});
}

TEST(BmpFileSaver, CommitBeforeAllRowsIsRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("half.bmp"));
    BmpFileSaver saver;
    ASSERT_TRUE(saver.begin(ThreeByTwo(), path));
    ASSERT_TRUE(saver.step(1));
    QString error;
    EXPECT_FALSE(saver.commit(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST(SaveBmpFile, MissingFolderFailsWithReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;
    EXPECT_FALSE(SaveBmpFile(ThreeByTwo(), dir.filePath(QStringLiteral("no/such/x.bmp")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(SaveBmpFile, WritesTheWholeFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral(".bmp")); // an empty base name
    ASSERT_TRUE(SaveBmpFile(ThreeByTwo(), path));
    EXPECT_EQ(ReadAll(path), ReadAll(kGolden));
}

} // namespace
