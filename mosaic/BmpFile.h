#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>

class QIODevice;
class ReplacingFile;

// Uncompressed 24-bit Windows bitmaps: the 14-byte file header, the 40-byte information
// header, then the pixel rows from the bottom row up, blue-green-red, each row padded
// to a multiple of four bytes.
constexpr int kBmpHeaderBytes = 54;

// Bytes of one stored row of `width` pixels, padding included.
int BmpRowBytes(int width);

// The 54 header bytes of a width x height image; empty when the file would not fit the
// format's 32-bit sizes or the size is not positive. `pixelsPerMetre` (of paper, across and
// down) tells image programs the size to print it at; 0 says nothing.
QByteArray BmpHeader(int width, int height, int32_t pixelsPerMetre = 0);

// Writes one image to a device, a slice of rows at a time, so that a large image can be
// written over several turns of the event loop.
class BmpStreamWriter {
public:
    // The image is taken as 24-bit RGB (converted when it is in another format).
    BmpStreamWriter(const QImage& image, QIODevice& device, int32_t pixelsPerMetre = 0);

    // The header; false on a device error or an image the format cannot hold.
    bool writeHeader();
    // Up to `rows` further pixel rows, bottom-up; false on a device error.
    bool writeRows(int rows);
    bool done() const { return m_nextRow < 0; }
    QString errorString() const { return m_error; }

private:
    QImage m_image;
    QIODevice& m_device;
    int32_t m_pixelsPerMetre = 0;
    QByteArray m_row;
    int m_nextRow = -1; // the next image row to store; -1 when all are written
    QString m_error;
};

// The whole image to the device at once.
bool WriteBmp(const QImage& image, QIODevice& device, QString* error = nullptr,
              int32_t pixelsPerMetre = 0);

// Saves to a file path through a temporary file in the same folder that replaces the
// old file only when complete; an error or cancel() leaves the old file as it was. A link
// at the path is replaced by the file, never written through.
class BmpFileSaver {
public:
    BmpFileSaver();
    ~BmpFileSaver();
    BmpFileSaver(const BmpFileSaver&) = delete;
    BmpFileSaver& operator=(const BmpFileSaver&) = delete;

    bool begin(const QImage& image, const QString& path, QString* error = nullptr,
               int32_t pixelsPerMetre = 0);
    // Writes up to `rows` rows; false on an error (the temporary file is then discarded).
    bool step(int rows, QString* error = nullptr);
    bool rowsDone() const;
    // Puts the finished file's data on the disk, which is what takes long in a commit:
    // once this is done, commit() only renames. False on an error (the file is discarded).
    bool sync(QString* error = nullptr);
    // Renames the finished temporary file over the target.
    bool commit(QString* error = nullptr);
    void cancel();
    bool isActive() const { return m_file != nullptr; }
    // After a commit: the file replaced a link that stood at the path.
    bool replacedLink() const { return m_replacedLink; }

private:
    std::unique_ptr<ReplacingFile> m_file;
    std::unique_ptr<BmpStreamWriter> m_writer;
    bool m_replacedLink = false;
};

// Begin, all rows and commit in one call.
bool SaveBmpFile(const QImage& image, const QString& path, QString* error = nullptr);
