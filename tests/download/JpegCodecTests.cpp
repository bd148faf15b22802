// The JPEG codec below what the fetcher tests reach: every input format, the quality scale,
// reuse after failures, and the size limit.
#include "download/JpegCodec.h"
#include "tests/download/JpegStructure.h"

#include <QColor>

#include <gtest/gtest.h>

namespace {

QImage Filled(int w, int h, const QColor& colour, QImage::Format format = QImage::Format_RGB888) {
    QImage image(w, h, format);
    image.fill(colour);
    return image;
}

QByteArray Encode(const QImage& image, int quality = 90) {
    JpegEncoder encoder;
    QByteArray out;
    QString error;
    EXPECT_TRUE(encoder.encode(image, quality, &out, &error)) << error.toStdString();
    return out;
}

TEST(JpegCodec, EveryFormatAndQualityGivesABaselineColourFile) {
    // The quality asked, and the one whose standard tables the file must carry (clamped to
    // 1..100; below 50 and above it the scaling takes its two branches).
    const struct {
        QImage::Format format;
        int quality;
        int tables;
    } cases[] = {{QImage::Format_RGB888, 70, 70},  {QImage::Format_RGB32, 30, 30},
                 {QImage::Format_ARGB32, 95, 95},  {QImage::Format_Grayscale8, 1, 1},
                 {QImage::Format_Indexed8, -5, 1}, {QImage::Format_RGB888, 250, 100}};
    for (const auto& c : cases) {
        const QImage source = Filled(50, 20, QColor(90, 90, 90), QImage::Format_RGB32);
        const JpegStructure s =
            ReadJpegStructure(Encode(source.convertToFormat(c.format), c.quality));
        ASSERT_TRUE(s.valid) << "format " << c.format;
        EXPECT_EQ(s.frameMarker, 0xC0) << "format " << c.format;
        EXPECT_EQ(s.frameCount, 1);
        EXPECT_EQ(s.components, 3) << "format " << c.format;
        EXPECT_EQ(s.precision, 8);
        EXPECT_EQ(QSize(s.width, s.height), QSize(50, 20));
        ASSERT_EQ(s.quantTables.size(), 2);
        EXPECT_EQ(s.quantTables.value(0), ExpectedQuantTable(c.tables, false)) << c.quality;
        EXPECT_EQ(s.quantTables.value(1), ExpectedQuantTable(c.tables, true)) << c.quality;
    }
}

TEST(JpegCodec, OneEncoderServesImagesOfChangingSizesAndRecoversFromFailures) {
    JpegEncoder encoder;
    QByteArray out = "stale";
    QString error;
    EXPECT_FALSE(encoder.encode(QImage(), 70, &out, &error));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(error.isEmpty());
    // Wider than a JPEG can be: libjpeg itself refuses, mid-way through its setup.
    EXPECT_FALSE(encoder.encode(Filled(70000, 1, Qt::red), 70, &out, &error));
    EXPECT_TRUE(out.isEmpty());
    // The largest side a decode accepts is the last size.
    const QSize sizes[] = {{400, 400}, {17, 5}, {1, 1}, {400, 400}, {3, 300}, {kMaxJpegSide, 8}};
    int index = 0;
    for (const QSize& size : sizes) {
        const QColor colour = QColor::fromHsv(index++ * 60, 200, 200);
        ASSERT_TRUE(encoder.encode(Filled(size.width(), size.height(), colour), 70, &out, &error));
        QImage image;
        ASSERT_TRUE(DecodeJpeg(out, &image, &error)) << error.toStdString();
        EXPECT_EQ(image.format(), QImage::Format_RGB888);
        EXPECT_EQ(image.size(), size);
        for (const QPoint p : {QPoint(0, 0), QPoint(size.width() - 1, size.height() - 1)}) {
            EXPECT_NEAR(qRed(image.pixel(p)), colour.red(), 12);
            EXPECT_NEAR(qGreen(image.pixel(p)), colour.green(), 12);
            EXPECT_NEAR(qBlue(image.pixel(p)), colour.blue(), 12);
        }
    }
}

TEST(JpegCodec, DecodeRefusesWithTheRightKindAndLeavesTheImageAlone) {
    const struct {
        const char* name;
        QByteArray data;
        JpegError expected;
    } cases[] = {{"start of image only", QByteArray("\xFF\xD8", 2), JpegError::NotJpeg},
                 {"8193 px wide", Encode(Filled(8193, 8, Qt::red)), JpegError::TooLarge},
                 {"8193 px high", Encode(Filled(8, 8193, Qt::red)), JpegError::TooLarge}};
    for (const auto& c : cases) {
        const QImage before = Filled(3, 3, Qt::yellow);
        QImage image = before;
        QString error;
        JpegError kind = JpegError::None;
        EXPECT_FALSE(DecodeJpeg(c.data, &image, &error, &kind)) << c.name;
        EXPECT_EQ(kind, c.expected) << c.name;
        EXPECT_TRUE(error.startsWith(JpegErrorReason(c.expected))) << error.toStdString();
        EXPECT_EQ(image, before) << c.name;
    }
}

} // namespace
