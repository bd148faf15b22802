#include "download/TileImage.h"

#include "download/JpegCodec.h"
#include "job/BoundedRead.h"
#include "job/DownloadJob.h"

#include <QElapsedTimer>

#include <unistd.h>

namespace {

const QSize kTileSize(kTilePixels, kTilePixels);

TileImageResult Failure(TileImageFailure failure, const QString& reason) {
    TileImageResult r;
    r.failure = failure;
    r.reason = reason;
    return r;
}

// The size check comes first, so that a huge picture is refused before any pixel of it
// is decoded.
TileImageResult DecodeWholeTile(const QByteArray& data, TileImageFailure wrongSize) {
    QSize size;
    JpegError kind = JpegError::None;
    if (!ReadJpegSize(data, &size, &kind)) {
        return Failure(TileImageFailure::BadAnswer, JpegErrorReason(kind));
    }
    if (size != kTileSize) {
        return Failure(wrongSize, WrongSizeReason(size));
    }
    TileImageResult r;
    QString detail;
    if (!DecodeJpeg(data, &r.image, &detail, &kind)) {
        return Failure(TileImageFailure::BadAnswer, JpegErrorReason(kind));
    }
    return r;
}

// The tile as the windows show it, from the tile as written.
void AddThumbnail(TileImageResult* r) {
    if (r->ok()) {
        r->thumbnail = r->image.scaled(kThumbnailPixels, kThumbnailPixels, Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation);
    }
}

JpegEncoder& ThreadEncoder() {
    // One per worker thread, reused for every tile it encodes.
    thread_local JpegEncoder encoder;
    return encoder;
}

} // namespace

QString WrongSizeReason(const QSize& size) {
    return QStringLiteral("tamaño %1 × %2, se esperaba %3 × %3")
        .arg(size.width())
        .arg(size.height())
        .arg(kTilePixels);
}

TileImageResult ProcessTileAnswer(int answerFd, const QString& answerPath, const QString& tilePath,
                                  const std::atomic<bool>* cancelled) {
    const BoundedRead read = ReadOpenFile(answerFd, kMaxAnswerFileBytes);
    ::close(answerFd);
    // The answer has served its purpose, whatever it was: nothing of it stays behind.
    RemoveFile(answerPath);
    if (cancelled && cancelled->load()) {
        return Failure(TileImageFailure::Cancelled, {});
    }
    if (!read.ok()) {
        return Failure(TileImageFailure::LocalWrite,
                       QStringLiteral("no se pudo leer el fichero descargado"));
    }
    const QByteArray& answer = read.bytes;

    QElapsedTimer clock;
    clock.start();
    TileImageResult decoded = DecodeWholeTile(answer, TileImageFailure::WrongSize);
    if (!decoded.ok()) {
        return decoded;
    }
    const qint64 decodeNs = clock.nsecsElapsed();

    clock.restart();
    QByteArray encoded;
    QString detail;
    if (!ThreadEncoder().encode(decoded.image, kTileQuality, &encoded, &detail)) {
        return Failure(TileImageFailure::BadAnswer,
                       QStringLiteral("no se pudo codificar la imagen"));
    }
    const qint64 encodeNs = clock.nsecsElapsed();

    if (cancelled && cancelled->load()) {
        return Failure(TileImageFailure::Cancelled, {});
    }
    clock.restart();
    LocalWriteError error;
    if (!WriteFileAtomically(tilePath, encoded, &error)) {
        TileImageResult r = Failure(TileImageFailure::LocalWrite, error.reason);
        r.folderUnwritable = error.folderUnwritable;
        return r;
    }
    const qint64 writeNs = clock.nsecsElapsed();

    // What the preview and the joined image show is the tile as written.
    TileImageResult r = DecodeWholeTile(encoded, TileImageFailure::BadAnswer);
    AddThumbnail(&r);
    r.stamp = TileStamp::Of(encoded);
    r.decodeNs = decodeNs;
    r.encodeNs = encodeNs;
    r.writeNs = writeNs;
    r.storedBytes = encoded.size();
    return r;
}

TileImageResult ProcessImageAnswer(const QByteArray& answer, const std::atomic<bool>* cancelled) {
    TileImageResult r = DecodeWholeTile(answer, TileImageFailure::WrongSize);
    if (!r.ok()) {
        return r;
    }
    QByteArray encoded;
    QString detail;
    if (cancelled && cancelled->load()) {
        return Failure(TileImageFailure::Cancelled, {});
    }
    if (ThreadEncoder().encode(r.image, kTileQuality, &encoded, &detail)) {
        r.storedBytes = encoded.size();
    }
    return r;
}

TileImageResult ReadStoredTile(const QString& tilePath, const TileStamp& stamp) {
    const QString changed = QStringLiteral("el fichero ha cambiado");
    if (!stamp.isValid() || stamp.size > kMaxAnswerFileBytes) {
        return Failure(TileImageFailure::BadAnswer, changed);
    }
    const BoundedRead read = ReadBoundedFile(tilePath, stamp.size);
    if (!read.ok()) {
        return Failure(TileImageFailure::BadAnswer,
                       read.refusal == ReadRefusal::TooLarge ? changed : read.reason());
    }
    if (!(TileStamp::Of(read.bytes) == stamp)) {
        return Failure(TileImageFailure::BadAnswer, changed);
    }
    TileImageResult r = DecodeWholeTile(read.bytes, TileImageFailure::BadAnswer);
    AddThumbnail(&r);
    r.stamp = stamp;
    return r;
}
