// The BMP writer: header fields, row order and padding, and the atomic file replacement.
#include "mosaic/BmpFile.h"

#include "job/DownloadJob.h"
#include "job/WriteError.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include <sys/resource.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Written(const QImage& image) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(WriteBmp(image, buffer));
    return buffer.data();
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

// Rows bottom-up, each padded to four bytes; also when the image comes in another format,
// it is stored as 24-bit.
TEST(BmpWriter, SmallImageMatchesGoldenFileByteForByte) {
    const QByteArray golden = ReadAll(kGolden);
    ASSERT_EQ(golden.size(), 78);
    EXPECT_EQ(Written(ThreeByTwo()).toHex(' '), golden.toHex(' '));
    EXPECT_EQ(Written(ThreeByTwo().convertToFormat(QImage::Format_ARGB32)), golden);
}

// The same image at 20,000 pixels a metre of paper (508 to the inch), the density of 500 m
// tiles at 1:25.000: the golden file differs only in the two resolution fields, and
// ImageMagick reads it as 200 x 200 pixels per centimetre.
TEST(BmpWriter, ThePrintScaleGoesIntoTheHeader) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(WriteBmp(ThreeByTwo(), buffer, nullptr, 20000));
    const QByteArray golden =
        ReadAll(QStringLiteral(MORVEL_TEST_DATA_DIR "/bmp_3x2_24bit_508dpi.bmp"));
    ASSERT_EQ(golden.size(), 78);
    EXPECT_EQ(buffer.data().toHex(' '), golden.toHex(' '));

    // Pixels per metre of paper: those of the ground times the ground in a metre of paper.
    const struct {
        int32_t tileMetres;
        int32_t scale;
        int32_t pixelsPerMetre;
    } cases[] = {
        {500, 25000, 20000},  // 1.25 m pixels: 508 dpi
        {1000, 25000, 10000}, // 254 dpi
        {5000, 50000, 4000},  // 102 dpi
        {100, 10000, 40000},  // 1016 dpi
        {0, 25000, 0},        // no area, no density
    };
    for (const auto& c : cases) {
        DownloadJob job;
        job.tilesAcross = 3;
        job.widthMetres = 3 * c.tileMetres;
        job.widthPixels = 3 * kTilePixels;
        job.printScale = c.scale;
        EXPECT_EQ(job.printPixelsPerMetre(), c.pixelsPerMetre) << c.tileMetres << " " << c.scale;
    }
}

TEST(BmpWriter, RefusalsCarryAReason) {
    EXPECT_TRUE(BmpHeader(0, 5).isEmpty());
    QString error;
    QBuffer closed; // never opened: every write fails
    EXPECT_FALSE(WriteBmp(ThreeByTwo(), closed, &error));
    EXPECT_FALSE(error.isEmpty());

    QTemporaryDir dir;
    error.clear();
    EXPECT_FALSE(SaveBmpFile(ThreeByTwo(), dir.filePath(QStringLiteral("no/such/x.bmp")), &error));
    EXPECT_FALSE(error.isEmpty());
}

// The run writes a slice of rows per turn of the event loop.
TEST(BmpWriter, SlicesGiveTheSameBytesAsOneWrite) {
    QImage image(37, 23, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixelColor(x, y, QColor(x * 6, y * 11, (x + y) * 3));
        }
    }
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
    EXPECT_EQ(sliced.data(), Written(image));
    // Read back by Qt's own reader: the same pixels, top row first.
    QImage back;
    ASSERT_TRUE(back.loadFromData(sliced.data(), "BMP"));
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB888), image);
}

class BmpFileSaverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QFile old(m_path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    QStringList Files() const { return QDir(m_dir.path()).entryList(QDir::Files); }

    QTemporaryDir m_dir;
    const QString m_path = m_dir.filePath(QStringLiteral("Prueba.bmp"));
};

TEST_F(BmpFileSaverTest, ReplacesTheOldFileOnlyOnCommit) {
    BmpFileSaver saver;
    ASSERT_TRUE(saver.begin(ThreeByTwo(), m_path));
    ASSERT_TRUE(saver.step(1));
    QString error;
    EXPECT_FALSE(saver.commit(&error)); // one row of two written
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadAll(m_path), QByteArray("old contents"));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("Prueba.bmp")});

    ASSERT_TRUE(saver.begin(ThreeByTwo(), m_path));
    ASSERT_TRUE(saver.step(1));
    ASSERT_TRUE(saver.step(1));
    EXPECT_EQ(ReadAll(m_path), QByteArray("old contents"));
    EXPECT_TRUE(saver.rowsDone());
    ASSERT_TRUE(saver.commit());
    EXPECT_EQ(ReadAll(m_path), ReadAll(kGolden));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("Prueba.bmp")});
}

// What fails says why, in the words of the one table of reasons: a full disk (which Qt
// calls "Unknown error"), a folder where the BMP goes ("Filename refers to a directory").
TEST(BmpWriter, FailuresGiveTheirCause) {
    QFile full(QStringLiteral("/dev/full"));
    if (full.open(QIODevice::WriteOnly)) {
        QString error;
        EXPECT_FALSE(WriteBmp(QImage(2000, 20, QImage::Format_RGB888), full, &error));
        EXPECT_EQ(error, LocalWriteErrorFor(ENOSPC).reason);
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Prueba.bmp"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Prueba.bmp")));
    QString error;
    EXPECT_FALSE(SaveBmpFile(ThreeByTwo(), folder, &error));
    EXPECT_EQ(error, LocalWriteErrorFor(EISDIR).reason);
}

// The last rows wait in the file's buffer until the commit: when they cannot be written
// (here past a file size limit, as on a disk that fills up at the end) the BMP is not
// saved, the old one stays, and the reason is given.
TEST_F(BmpFileSaverTest, RowsThatCannotBeFlushedAtTheEndSaveNothing) {
    const QImage image(100, 100, QImage::Format_RGB888); // 30,054 bytes, all buffered
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limit = saved;
    limit.rlim_cur = 20000;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    BmpFileSaver saver;
    QString error;
    bool begun = false;
    bool stepped = false;
    bool committed = true;
    if (setrlimit(RLIMIT_FSIZE, &limit) == 0) {
        begun = saver.begin(image, m_path, &error);
        stepped = begun && saver.step(image.height(), &error);
        committed = stepped && saver.commit(&error);
        setrlimit(RLIMIT_FSIZE, &saved);
    }
    std::signal(SIGXFSZ, handler);
    ASSERT_TRUE(stepped) << error.toStdString();
    EXPECT_FALSE(committed);
    EXPECT_EQ(error, LocalWriteErrorFor(EFBIG).reason);
    EXPECT_EQ(ReadAll(m_path), QByteArray("old contents"));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("Prueba.bmp")});
}

TEST_F(BmpFileSaverTest, CancelLeavesTheOldFileAndNoTemporaryFile) {
    {
        BmpFileSaver saver;
        ASSERT_TRUE(saver.begin(ThreeByTwo(), m_path));
        ASSERT_TRUE(saver.step(1));
        saver.cancel();
        EXPECT_FALSE(saver.commit()); // nothing to commit after a cancel
    }
    {
        BmpFileSaver dropped; // destroyed half-way: same as cancel
        ASSERT_TRUE(dropped.begin(ThreeByTwo(), m_path));
    }
    EXPECT_EQ(ReadAll(m_path), QByteArray("old contents"));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("Prueba.bmp")});
}

} // namespace
