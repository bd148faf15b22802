#include "download/JpegCodec.h"

#include <QFile>

#include <array>
#include <csetjmp>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace {

// libjpeg reports errors through a handler that must not return; its default one
// calls exit(). This one jumps back to the call that started the work instead.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings mean the data was damaged and libjpeg guessed; a guessed tile is a bad tile.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0) {
        ErrorExit(cinfo);
    }
}

// Stops a decode whose progressive data has more scans than kMaxJpegScans: libjpeg calls
// the progress monitor while it reads the input, so the decode never gets to run them.
struct ScanLimit {
    jpeg_progress_mgr pub;
    bool exceeded = false;
};

void CheckScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) {
        return;
    }
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxJpegScans) {
        reinterpret_cast<ScanLimit*>(cinfo->progress)->exceeded = true;
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(err->message, JMSG_LENGTH_MAX, "más de %d pasadas", kMaxJpegScans);
        std::longjmp(err->jump, 1);
    }
}

void InstallErrorManager(ErrorManager* err, jpeg_error_mgr** slot) {
    *slot = jpeg_std_error(&err->pub);
    err->pub.error_exit = ErrorExit;
    err->pub.emit_message = EmitMessage;
    err->message[0] = '\0';
}

// libjpeg's own memory pool limit, far above what an 8192 px image needs.
constexpr long kMaxDecoderMemory = 512L * 1024 * 1024;
// Files larger than this are not read into memory at all.
constexpr qint64 kMaxJpegFileBytes = 256LL * 1024 * 1024;

// The libjpeg part of a decode. Only trivially destructible locals live here, so the
// jump back from ErrorExit skips no destructor.
JpegError DecodeInto(const QByteArray& data, QImage* image, char* message) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    ScanLimit scans;
    scans.pub.progress_monitor = CheckScans;
    InstallErrorManager(&err, &cinfo.err);
    volatile JpegError failure = JpegError::NotJpeg;
    if (setjmp(err.jump)) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", err.message);
        jpeg_destroy_decompress(&cinfo);
        return scans.exceeded ? JpegError::TooManyScans : failure;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    cinfo.progress = &scans.pub;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);

    if (cinfo.image_width > kMaxJpegSide || cinfo.image_height > kMaxJpegSide) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%ux%u px", cinfo.image_width, cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return JpegError::TooLarge;
    }
    if (cinfo.jpeg_color_space != JCS_GRAYSCALE && cinfo.jpeg_color_space != JCS_YCbCr &&
        cinfo.jpeg_color_space != JCS_RGB) {
        std::snprintf(message, JMSG_LENGTH_MAX, "colour space %d",
                      static_cast<int>(cinfo.jpeg_color_space));
        jpeg_destroy_decompress(&cinfo);
        return JpegError::Unsupported;
    }
    cinfo.out_color_space = JCS_RGB;

    failure = JpegError::Corrupt;
    jpeg_start_decompress(&cinfo);
    // The temporary is gone at the end of this statement, before any later jump.
    *image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                    QImage::Format_RGB888);
    if (image->isNull()) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%ux%u px", cinfo.output_width,
                      cinfo.output_height);
        jpeg_destroy_decompress(&cinfo);
        return JpegError::NoMemory;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return JpegError::None;
}

// Appends the compressed bytes to a QByteArray in large blocks.
struct ByteArrayDestination {
    jpeg_destination_mgr pub;
    QByteArray* out;
    std::array<JOCTET, 64 * 1024> buffer;
};

ByteArrayDestination* DestinationOf(j_compress_ptr cinfo) {
    return reinterpret_cast<ByteArrayDestination*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo) {
    ByteArrayDestination* d = DestinationOf(cinfo);
    d->pub.next_output_byte = d->buffer.data();
    d->pub.free_in_buffer = d->buffer.size();
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    ByteArrayDestination* d = DestinationOf(cinfo);
    d->out->append(reinterpret_cast<const char*>(d->buffer.data()),
                   static_cast<qsizetype>(d->buffer.size()));
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    ByteArrayDestination* d = DestinationOf(cinfo);
    const size_t used = d->buffer.size() - d->pub.free_in_buffer;
    d->out->append(reinterpret_cast<const char*>(d->buffer.data()), static_cast<qsizetype>(used));
}

} // namespace

// One libjpeg compressor with its error handler and destination, kept for reuse.
struct JpegCompressor {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    ByteArrayDestination dest;
    bool created = false;

    JpegCompressor() {
        InstallErrorManager(&err, &cinfo.err);
        dest.pub.init_destination = InitDestination;
        dest.pub.empty_output_buffer = EmptyOutputBuffer;
        dest.pub.term_destination = TermDestination;
        dest.out = nullptr;
        if (setjmp(err.jump)) {
            return; // out of memory while creating: every encode then fails
        }
        jpeg_create_compress(&cinfo);
        cinfo.dest = &dest.pub;
        created = true;
    }
    ~JpegCompressor() {
        if (created) {
            jpeg_destroy_compress(&cinfo);
        }
    }
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;
};

namespace {

struct RawImage {
    const uchar* bits;
    qsizetype bytesPerLine;
    int width;
    int height;
    int components; // 3: RGB, 1: grey
};

// The libjpeg part of an encode; trivially destructible locals only, as in DecodeInto.
bool CompressInto(JpegCompressor* s, const RawImage& image, int quality, QByteArray* out) {
    jpeg_compress_struct& cinfo = s->cinfo;
    s->dest.out = out;
    if (setjmp(s->err.jump)) {
        jpeg_abort_compress(&cinfo);
        return false;
    }
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = image.components;
    cinfo.in_color_space = image.components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE); // baseline-compatible tables
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // libjpeg's row type is not const, but it only reads input rows.
        JSAMPROW row = const_cast<JSAMPROW>(image.bits + cinfo.next_scanline * image.bytesPerLine);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

bool EncodeWith(JpegCompressor* s, const QImage& source, QImage::Format format, int components,
                int quality, QByteArray* out, QString* error) {
    out->clear();
    if (!s->created) {
        *error = QStringLiteral("no se pudo preparar el codificador JPEG");
        return false;
    }
    if (source.isNull()) {
        *error = QStringLiteral("no hay imagen que codificar");
        return false;
    }
    const QImage converted = source.convertToFormat(format);
    const RawImage raw{converted.constBits(), converted.bytesPerLine(), converted.width(),
                       converted.height(), components};
    if (!CompressInto(s, raw, qBound(1, quality, 100), out)) {
        out->clear();
        *error = QStringLiteral("no se pudo codificar la imagen JPEG (%1)")
                     .arg(QString::fromLocal8Bit(s->err.message));
        return false;
    }
    return true;
}

} // namespace

QString JpegErrorReason(JpegError kind) {
    switch (kind) {
    case JpegError::None:
        return {};
    case JpegError::Empty:
        return QStringLiteral("respuesta vacía");
    case JpegError::NotJpeg:
        return QStringLiteral("no es una imagen JPEG");
    case JpegError::TooLarge:
        return QStringLiteral("imagen JPEG demasiado grande");
    case JpegError::Unsupported:
        return QStringLiteral("JPEG no admitido");
    case JpegError::Corrupt:
        return QStringLiteral("JPEG dañado");
    case JpegError::NoMemory:
        return QStringLiteral("sin memoria para la imagen");
    case JpegError::TooManyScans:
        return QStringLiteral("JPEG con demasiadas pasadas");
    }
    return QStringLiteral("JPEG dañado");
}

bool DecodeJpeg(const QByteArray& data, QImage* image, QString* error, JpegError* kind) {
    JpegError result = JpegError::Empty;
    char message[JMSG_LENGTH_MAX] = {};
    QImage decoded;
    if (!data.isEmpty()) {
        result = DecodeInto(data, &decoded, message);
    }
    *kind = result;
    if (result != JpegError::None) {
        *error = JpegErrorReason(result);
        if (message[0] != '\0') {
            *error += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(message));
        }
        return false;
    }
    *image = std::move(decoded);
    error->clear();
    return true;
}

bool DecodeJpeg(const QByteArray& data, QImage* image, QString* error) {
    JpegError kind = JpegError::None;
    return DecodeJpeg(data, image, error, &kind);
}

bool DecodeJpegFile(const QString& path, QImage* image, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no se pudo leer el fichero %1").arg(path);
        return false;
    }
    if (file.size() > kMaxJpegFileBytes) {
        *error = QStringLiteral("fichero JPEG demasiado grande: %1").arg(path);
        return false;
    }
    return DecodeJpeg(file.readAll(), image, error);
}

bool ReadJpegSize(const QByteArray& data, QSize* size, JpegError* kind) {
    if (data.isEmpty()) {
        *kind = JpegError::Empty;
        return false;
    }
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    InstallErrorManager(&err, &cinfo.err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        *kind = JpegError::NotJpeg;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    *size = QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height));
    jpeg_destroy_decompress(&cinfo);
    *kind = JpegError::None;
    return true;
}

JpegEncoder::JpegEncoder() : d(std::make_unique<JpegCompressor>()) {}

JpegEncoder::~JpegEncoder() = default;

bool JpegEncoder::encode(const QImage& image, int quality, QByteArray* out, QString* error) {
    return EncodeWith(d.get(), image, QImage::Format_RGB888, 3, quality, out, error);
}

bool EncodeGreyJpeg(const QImage& image, int quality, QByteArray* out, QString* error) {
    JpegCompressor state;
    return EncodeWith(&state, image, QImage::Format_Grayscale8, 1, quality, out, error);
}
