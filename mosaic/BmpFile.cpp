#include "mosaic/BmpFile.h"

#include "filebase/ReplacingFile.h"
#include "job/WriteError.h"

#include <QIODevice>

#include <cerrno>
#include <cstdint>
#include <limits>

namespace {

void PutU16(QByteArray& out, uint16_t v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}

void PutU32(QByteArray& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.append(static_cast<char>((v >> shift) & 0xFF));
    }
}

} // namespace

int BmpRowBytes(int width) {
    return (width * 3 + 3) / 4 * 4;
}

QByteArray BmpHeader(int width, int height, int32_t pixelsPerMetre) {
    if (width <= 0 || height <= 0 || pixelsPerMetre < 0) {
        return {};
    }
    const int64_t imageBytes = int64_t{(int64_t{width} * 3 + 3) / 4 * 4} * height;
    const int64_t fileBytes = imageBytes + kBmpHeaderBytes;
    if (fileBytes > std::numeric_limits<uint32_t>::max() ||
        width > std::numeric_limits<int32_t>::max() / 3) {
        return {};
    }
    QByteArray h;
    h.reserve(kBmpHeaderBytes);
    // File header.
    h.append("BM", 2);
    PutU32(h, static_cast<uint32_t>(fileBytes));
    PutU16(h, 0);
    PutU16(h, 0);
    PutU32(h, kBmpHeaderBytes);
    // Information header; a positive height means the rows are stored bottom-up.
    PutU32(h, 40);
    PutU32(h, static_cast<uint32_t>(width));
    PutU32(h, static_cast<uint32_t>(height));
    PutU16(h, 1);  // planes
    PutU16(h, 24); // bits per pixel
    PutU32(h, 0);  // no compression
    PutU32(h, static_cast<uint32_t>(imageBytes));
    // The same density across and down: the map's pixels are square on the ground.
    PutU32(h, static_cast<uint32_t>(pixelsPerMetre));
    PutU32(h, static_cast<uint32_t>(pixelsPerMetre));
    PutU32(h, 0); // no colour table
    PutU32(h, 0);
    return h;
}

BmpStreamWriter::BmpStreamWriter(const QImage& image, QIODevice& device, int32_t pixelsPerMetre)
    : m_image(image.format() == QImage::Format_RGB888
                  ? image
                  : image.convertToFormat(QImage::Format_RGB888)),
      m_device(device), m_pixelsPerMetre(pixelsPerMetre) {}

bool BmpStreamWriter::writeHeader() {
    const QByteArray header = BmpHeader(m_image.width(), m_image.height(), m_pixelsPerMetre);
    if (header.isEmpty()) {
        m_error = QStringLiteral("imagen vacía o demasiado grande para BMP");
        return false;
    }
    errno = 0;
    if (m_device.write(header) != header.size()) {
        m_error = DeviceWriteError(m_device, errno).reason;
        return false;
    }
    m_row = QByteArray(BmpRowBytes(m_image.width()), '\0');
    m_nextRow = m_image.height() - 1;
    return true;
}

bool BmpStreamWriter::writeRows(int rows) {
    const int width = m_image.width();
    for (int n = 0; n < rows && m_nextRow >= 0; ++n, --m_nextRow) {
        const uchar* in = m_image.constScanLine(m_nextRow);
        char* out = m_row.data();
        for (int x = 0; x < width; ++x) {
            out[0] = static_cast<char>(in[2]);
            out[1] = static_cast<char>(in[1]);
            out[2] = static_cast<char>(in[0]);
            in += 3;
            out += 3;
        }
        errno = 0;
        if (m_device.write(m_row) != m_row.size()) {
            m_error = DeviceWriteError(m_device, errno).reason;
            return false;
        }
    }
    return true;
}

bool WriteBmp(const QImage& image, QIODevice& device, QString* error, int32_t pixelsPerMetre) {
    BmpStreamWriter writer(image, device, pixelsPerMetre);
    const bool ok = writer.writeHeader() && writer.writeRows(image.height());
    if (!ok && error) {
        *error = writer.errorString();
    }
    return ok;
}

BmpFileSaver::BmpFileSaver() = default;

BmpFileSaver::~BmpFileSaver() {
    cancel();
}

bool BmpFileSaver::begin(const QImage& image, const QString& path, QString* error,
                         int32_t pixelsPerMetre) {
    cancel();
    m_replacedLink = false;
    m_file = std::make_unique<ReplacingFile>(path);
    if (!m_file->open(error)) {
        m_file.reset();
        return false;
    }
    m_writer = std::make_unique<BmpStreamWriter>(image, m_file->device(), pixelsPerMetre);
    if (!m_writer->writeHeader()) {
        if (error) {
            *error = m_writer->errorString();
        }
        cancel();
        return false;
    }
    return true;
}

bool BmpFileSaver::step(int rows, QString* error) {
    if (!m_writer) {
        return false;
    }
    if (!m_writer->writeRows(rows)) {
        if (error) {
            *error = m_writer->errorString();
        }
        cancel();
        return false;
    }
    return true;
}

bool BmpFileSaver::rowsDone() const {
    return m_writer && m_writer->done();
}

bool BmpFileSaver::sync(QString* error) {
    if (!m_file || !rowsDone()) {
        if (error) {
            *error = QStringLiteral("el fichero no está completo");
        }
        cancel();
        return false;
    }
    if (!m_file->sync(error)) {
        cancel();
        return false;
    }
    return true;
}

bool BmpFileSaver::commit(QString* error) {
    if (!m_file || !rowsDone()) {
        if (error) {
            *error = QStringLiteral("el fichero no está completo");
        }
        cancel();
        return false;
    }
    const bool ok = m_file->commit(error);
    m_replacedLink = ok && m_file->replacedLink();
    m_writer.reset();
    m_file.reset();
    return ok;
}

void BmpFileSaver::cancel() {
    m_writer.reset();
    m_file.reset(); // the temporary file goes with it
}

bool SaveBmpFile(const QImage& image, const QString& path, QString* error) {
    BmpFileSaver saver;
    return saver.begin(image, path, error) && saver.step(image.height(), error) &&
           saver.commit(error);
}
