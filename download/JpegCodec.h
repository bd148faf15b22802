#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>

#include <QSize>

// Largest width or height accepted from a JPEG header: a tile is 400 px, and a header
// that claims more is a broken or hostile answer, not a map.
constexpr int kMaxJpegSide = 8192;
// Most scans a progressive JPEG may have. Ordinary ones have about ten; a file with
// thousands of tiny scans keeps the decoder busy for seconds without being any better.
constexpr int kMaxJpegScans = 100;

// Why a decode failed, for callers that react differently to each case.
enum class JpegError {
    None,
    Empty,        // no bytes at all
    NotJpeg,      // does not start with a readable JPEG header
    TooLarge,     // the header declares more than kMaxJpegSide pixels on a side
    Unsupported,  // a colour space that has no RGB conversion (CMYK, YCCK)
    Corrupt,      // valid header, broken data (libjpeg warnings count here too)
    NoMemory,     // the image buffer could not be allocated
    TooManyScans, // a progressive JPEG with more than kMaxJpegScans scans
};

// Short Spanish text for a decode failure, as shown beside a failed tile.
QString JpegErrorReason(JpegError kind);

// Whole JPEG in memory -> QImage::Format_RGB888 (greyscale expanded to RGB). Refuses more than
// 8192 px on a side, corrupt data and libjpeg warnings; never exits or crashes.
bool DecodeJpeg(const QByteArray& data, QImage* image, QString* error);
// The same, also telling which kind of failure it was (JpegError::None on success).
bool DecodeJpeg(const QByteArray& data, QImage* image, QString* error, JpegError* kind);
bool DecodeJpegFile(const QString& path, QImage* image, QString* error);

// The image size a JPEG declares, read from its header alone without decoding anything.
// False, with the kind of failure, when the bytes do not begin with a readable header.
bool ReadJpegSize(const QByteArray& data, QSize* size, JpegError* kind);

struct JpegCompressor;

// Reusable encoder (one per run): three-component, baseline, non-progressive.
class JpegEncoder {
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // Any QImage format is accepted; it is converted to 24-bit RGB first. Quality is
    // clamped to 1..100. On failure `out` is left empty.
    bool encode(const QImage& image, int quality, QByteArray* out, QString* error);

private:
    std::unique_ptr<JpegCompressor> d;
};

// A single-component (greyscale) baseline JPEG. The program itself never writes one;
// it lets a local server play a map server that answers in grey.
bool EncodeGreyJpeg(const QImage& image, int quality, QByteArray* out, QString* error);
