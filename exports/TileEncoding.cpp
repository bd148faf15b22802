#include "exports/TileEncoding.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace {

// Qt's PNG quality is zlib's level turned round: 80 gives level 1, a fifth of the default's
// time for a few per cent more bytes.
constexpr int kPngQuality = 80;

// libjpeg's default error handler ends the process; this one jumps back to the encode.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

// The libjpeg part of an encode. Only trivially destructible locals live here, so that the
// jump back skips no destructor; `*buffer` is libjpeg's, for the caller to free.
bool Compress(const RgbaPixels& pixels, int quality, unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct cinfo;
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JumpBack;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, buffer, size);
    cinfo.image_width = static_cast<JDIMENSION>(pixels.width);
    cinfo.image_height = static_cast<JDIMENSION>(pixels.height);
    // libjpeg-turbo reads the RGBA rows as they are and skips the alpha.
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE); // baseline-compatible tables
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // libjpeg's row type is not const, but it only reads input rows.
        JSAMPROW row = const_cast<JSAMPROW>(pixels.row(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

Coverage CoverageOf(const RgbaPixels& pixels) {
    bool seenClear = false;
    bool seenOpaque = false;
    for (int y = 0; y < pixels.height; ++y) {
        const uint8_t* row = pixels.row(y);
        for (int x = 0; x < pixels.width; ++x) {
            const uint8_t alpha = row[4 * x + 3];
            seenClear = seenClear || alpha == 0;
            seenOpaque = seenOpaque || alpha == 255;
            if ((seenClear && seenOpaque) || (alpha != 0 && alpha != 255)) {
                return Coverage::Partial;
            }
        }
    }
    return seenClear ? Coverage::Empty : Coverage::Whole;
}

bool EncodeJpeg(const RgbaPixels& pixels, int quality, QByteArray* out) {
    out->clear();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool done = Compress(pixels, quality, &buffer, &size);
    if (done) {
        *out = QByteArray(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    }
    std::free(buffer);
    return done && !out->isEmpty();
}

bool EncodePng(const RgbaPixels& pixels, QByteArray* out) {
    out->clear();
    const QImage image(pixels.bits, pixels.width, pixels.height,
                       static_cast<qsizetype>(pixels.lineBytes), QImage::Format_RGBA8888);
    QBuffer buffer(out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(kPngQuality);
    return writer.write(image);
}
