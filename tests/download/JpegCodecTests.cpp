// The JPEG codec: decoding whole images safely, encoding baseline colour JPEGs.
#include "download/JpegCodec.h"
#include "tests/download/JpegStructure.h"

#include <QColor>
#include <QFile>
#include <QTemporaryDir>

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

QByteArray GreyJpeg(int w, int h, int level) {
    QByteArray out;
    QString error;
    EXPECT_TRUE(EncodeGreyJpeg(Filled(w, h, QColor(level, level, level), QImage::Format_Grayscale8),
                               90, &out, &error));
    return out;
}

// Sets height and width in the first start-of-frame segment.
QByteArray WithFrameSize(QByteArray jpeg, int width, int height) {
    qsizetype pos = 2;
    while (pos + 9 < jpeg.size()) {
        const auto marker = static_cast<uchar>(jpeg[pos + 1]);
        const int length =
            (static_cast<uchar>(jpeg[pos + 2]) << 8) | static_cast<uchar>(jpeg[pos + 3]);
        if (marker == 0xC0) {
            jpeg[pos + 5] = static_cast<char>(height >> 8);
            jpeg[pos + 6] = static_cast<char>(height & 0xFF);
            jpeg[pos + 7] = static_cast<char>(width >> 8);
            jpeg[pos + 8] = static_cast<char>(width & 0xFF);
            break;
        }
        pos += 2 + length;
    }
    return jpeg;
}

void ExpectColourNear(QRgb actual, const QColor& expected, int tolerance) {
    EXPECT_NEAR(qRed(actual), expected.red(), tolerance);
    EXPECT_NEAR(qGreen(actual), expected.green(), tolerance);
    EXPECT_NEAR(qBlue(actual), expected.blue(), tolerance);
}

// A noisy picture, so that the entropy-coded data is long enough to damage in its middle.
QImage Noise(int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    quint32 seed = 12345;
    for (int y = 0; y < h; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < w * 3; ++x) {
            seed = seed * 1103515245U + 12345U;
            line[x] = static_cast<uchar>(seed >> 24);
        }
    }
    return image;
}

TEST(JpegCodec, PlainColoursSurviveARoundTrip) {
    // JPEG is lossy; a plain fill at quality 90 comes back within a few levels.
    const QColor colours[] = {QColor(200, 30, 40),   QColor(20, 180, 60), QColor(40, 60, 220),
                              QColor(255, 255, 255), QColor(0, 0, 0),     QColor(128, 128, 0)};
    for (const QColor& colour : colours) {
        QImage image;
        QString error;
        ASSERT_TRUE(DecodeJpeg(Encode(Filled(64, 48, colour)), &image, &error))
            << error.toStdString();
        EXPECT_EQ(image.format(), QImage::Format_RGB888);
        EXPECT_EQ(image.size(), QSize(64, 48));
        ExpectColourNear(image.pixel(32, 24), colour, 4);
        ExpectColourNear(image.pixel(0, 0), colour, 4);
    }
}

TEST(JpegCodec, GreyscaleJpegDecodesToEqualRgbChannels) {
    const QByteArray grey = GreyJpeg(40, 30, 77);
    ASSERT_EQ(ReadJpegStructure(grey).components, 1); // really a one-component file
    QImage image;
    QString error;
    ASSERT_TRUE(DecodeJpeg(grey, &image, &error)) << error.toStdString();
    EXPECT_EQ(image.format(), QImage::Format_RGB888);
    const QRgb p = image.pixel(20, 15);
    EXPECT_EQ(qRed(p), qGreen(p));
    EXPECT_EQ(qGreen(p), qBlue(p));
    EXPECT_NEAR(qRed(p), 77, 2);
}

TEST(JpegCodec, EncoderWritesBaselineThreeComponentFiles) {
    // Every input format ends as a three-component baseline file.
    const QImage::Format formats[] = {QImage::Format_RGB888, QImage::Format_RGB32,
                                      QImage::Format_ARGB32, QImage::Format_Grayscale8,
                                      QImage::Format_Indexed8};
    for (const QImage::Format format : formats) {
        QImage source = Filled(50, 20, QColor(90, 90, 90), QImage::Format_RGB32);
        source = source.convertToFormat(format);
        const JpegStructure s = ReadJpegStructure(Encode(source, 70));
        ASSERT_TRUE(s.valid) << "format " << format;
        EXPECT_EQ(s.frameMarker, 0xC0) << "format " << format;
        EXPECT_EQ(s.frameCount, 1);
        EXPECT_EQ(s.components, 3) << "format " << format;
        EXPECT_EQ(s.precision, 8);
        EXPECT_EQ(s.width, 50);
        EXPECT_EQ(s.height, 20);
    }
}

class QuantTables : public ::testing::TestWithParam<int> {};

TEST_P(QuantTables, FollowTheStandardTablesScaledForQuality) {
    const int quality = GetParam();
    const JpegStructure s = ReadJpegStructure(Encode(Filled(16, 16, Qt::red), quality));
    ASSERT_TRUE(s.valid);
    ASSERT_EQ(s.quantTables.size(), 2);
    EXPECT_EQ(s.quantTables.value(0), ExpectedQuantTable(quality, false));
    EXPECT_EQ(s.quantTables.value(1), ExpectedQuantTable(quality, true));
}

// 70 is the tile quality; 30 and 95 take the other branch of the scaling and the clamp.
INSTANTIATE_TEST_SUITE_P(JpegCodec, QuantTables, ::testing::Values(70, 30, 95, 1));

TEST(JpegCodec, QualityOutsideTheRangeIsClamped) {
    const JpegStructure low = ReadJpegStructure(Encode(Filled(8, 8, Qt::blue), -5));
    const JpegStructure high = ReadJpegStructure(Encode(Filled(8, 8, Qt::blue), 250));
    EXPECT_EQ(low.quantTables.value(0), ExpectedQuantTable(1, false));
    EXPECT_EQ(high.quantTables.value(0), ExpectedQuantTable(100, false));
}

TEST(JpegCodec, OneEncoderServesImagesOfChangingSizes) {
    JpegEncoder encoder;
    const QSize sizes[] = {{400, 400}, {17, 5}, {1, 1}, {400, 400}, {3, 300}};
    int index = 0;
    for (const QSize& size : sizes) {
        const QColor colour = QColor::fromHsv(index++ * 60, 200, 200);
        QByteArray out;
        QString error;
        ASSERT_TRUE(encoder.encode(Filled(size.width(), size.height(), colour), 70, &out, &error));
        QImage image;
        ASSERT_TRUE(DecodeJpeg(out, &image, &error)) << error.toStdString();
        EXPECT_EQ(image.size(), size);
        ExpectColourNear(image.pixel(0, 0), colour, 12);
    }
}

TEST(JpegCodec, EncoderRecoversAfterAFailure) {
    JpegEncoder encoder;
    QByteArray out = "stale";
    QString error;
    EXPECT_FALSE(encoder.encode(QImage(), 70, &out, &error));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(error.isEmpty());
    // Wider than a JPEG can be: libjpeg itself refuses, mid-way through its setup.
    EXPECT_FALSE(encoder.encode(Filled(70000, 1, Qt::red), 70, &out, &error));
    EXPECT_TRUE(out.isEmpty());
    ASSERT_TRUE(encoder.encode(Filled(10, 10, Qt::green), 70, &out, &error));
    QImage image;
    EXPECT_TRUE(DecodeJpeg(out, &image, &error)) << error.toStdString();
}

struct BadInput {
    const char* name;
    QByteArray (*make)();
    JpegError expected;
};

const BadInput kBadInputs[] = {
    {"empty", [] { return QByteArray(); }, JpegError::Empty},
    {"html page", [] { return QByteArray("<html><body>Error 500</body></html>"); },
     JpegError::NotJpeg},
    {"start of image only", [] { return QByteArray("\xFF\xD8", 2); }, JpegError::NotJpeg},
    {"png signature", [] { return QByteArray("\x89PNG\r\n\x1a\n", 8); }, JpegError::NotJpeg},
    // Header intact, scan cut short: libjpeg would pad with grey and only warn.
    {"truncated scan",
     [] {
         const QByteArray full = Encode(Noise(64, 64));
         return full.left(full.size() * 2 / 3);
     },
     JpegError::Corrupt},
    // An end-of-image marker in the middle of the scan: again only a warning in libjpeg.
    {"marker inside scan",
     [] {
         QByteArray full = Encode(Noise(64, 64));
         const qsizetype middle = full.size() / 2;
         full[middle] = '\xFF';
         full[middle + 1] = '\xD9';
         return full.left(middle + 2);
     },
     JpegError::Corrupt},
    {"60000 px header", [] { return WithFrameSize(Encode(Filled(8, 8, Qt::red)), 60000, 60000); },
     JpegError::TooLarge},
    {"8193 px wide", [] { return Encode(Filled(8193, 8, Qt::red)); }, JpegError::TooLarge},
    {"8193 px high", [] { return Encode(Filled(8, 8193, Qt::red)); }, JpegError::TooLarge},
};

void PrintTo(const BadInput& input, std::ostream* os) {
    *os << input.name;
}

class DecodeRefuses : public ::testing::TestWithParam<BadInput> {};

TEST_P(DecodeRefuses, WithTheRightKindAndLeavesTheImageAlone) {
    const BadInput& input = GetParam();
    const QImage before = Filled(3, 3, Qt::yellow);
    QImage image = before;
    QString error;
    JpegError kind = JpegError::None;
    EXPECT_FALSE(DecodeJpeg(input.make(), &image, &error, &kind)) << input.name;
    EXPECT_EQ(kind, input.expected) << input.name;
    EXPECT_TRUE(error.startsWith(JpegErrorReason(input.expected))) << error.toStdString();
    EXPECT_EQ(image, before) << input.name;
}

INSTANTIATE_TEST_SUITE_P(JpegCodec, DecodeRefuses, ::testing::ValuesIn(kBadInputs),
                         [](const ::testing::TestParamInfo<BadInput>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

TEST(JpegCodec, SizeLimitIsInclusive) {
    QImage image;
    QString error;
    ASSERT_TRUE(DecodeJpeg(Encode(Filled(kMaxJpegSide, 8, Qt::red)), &image, &error))
        << error.toStdString();
    EXPECT_EQ(image.size(), QSize(kMaxJpegSide, 8));
}

TEST(JpegCodec, DecodeFileReadsTheFileOrSaysWhichFailed) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("A01.jpg"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Encode(Filled(30, 20, QColor(10, 200, 10))));
    file.close();

    QImage image;
    QString error;
    ASSERT_TRUE(DecodeJpegFile(path, &image, &error)) << error.toStdString();
    EXPECT_EQ(image.size(), QSize(30, 20));
    ExpectColourNear(image.pixel(15, 10), QColor(10, 200, 10), 6);

    const QString missing = dir.filePath(QStringLiteral("B01.jpg"));
    EXPECT_FALSE(DecodeJpegFile(missing, &image, &error));
    EXPECT_TRUE(error.contains(missing)) << error.toStdString();
}

TEST(JpegCodec, ReasonsAreTheShortSpanishTexts) {
    // These texts are shown to the user beside a failed tile.
    EXPECT_EQ(JpegErrorReason(JpegError::NotJpeg), QStringLiteral("no es una imagen JPEG"));
    EXPECT_EQ(JpegErrorReason(JpegError::Corrupt), QStringLiteral("JPEG dañado"));
    EXPECT_TRUE(JpegErrorReason(JpegError::None).isEmpty());
}

} // namespace
