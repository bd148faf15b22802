#pragma once

// The image work of one tile, done on a worker thread: it takes plain values (paths, a
// descriptor) and returns plain values, and touches nothing but the files it is given.

#include "download/TileFiles.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>

enum class TileImageFailure {
    None,
    WrongSize,  // a JPEG of another size than a tile: worth asking again
    BadAnswer,  // not a usable JPEG (an error page, cut short): worth asking again too
    LocalWrite, // the tile could not be written on our side
    Cancelled,  // the fetch was abandoned; nothing was written
};

struct TileImageResult {
    TileImageFailure failure = TileImageFailure::None;
    QString reason;
    bool folderUnwritable = false; // with LocalWrite: the folder takes no file at all
    QImage image;                  // the tile as written, decoded
    QImage thumbnail;              // the same, kThumbnailPixels square, for the windows
    TileStamp stamp;               // of the tile file as written
    qint64 decodeNs = 0;
    qint64 encodeNs = 0;
    qint64 writeNs = 0;
    qint64 storedBytes = 0; // the tile file's size, or what it would be for an image in memory

    bool ok() const { return failure == TileImageFailure::None; }
};

// Quality of the JPEG files the program writes.
constexpr int kTileQuality = 70;

// Side of the small picture of a tile that the windows show (preview and viewer cell), made
// on the worker so that what waits for its turn to be shown is this and not the whole tile.
constexpr int kThumbnailPixels = 100;

// "tamaño 100 × 100, se esperaba 400 × 400".
QString WrongSizeReason(const QSize& size);

// Largest answer kept: far above any tile, and the fetcher refuses more while it arrives.
constexpr qint64 kMaxAnswerFileBytes = 64LL * 1024 * 1024;

// Reads the downloaded answer through `answerFd` (which it closes) and removes the file
// `answerPath`, checks the size its header declares before decoding anything, decodes it,
// writes the tile re-encoded at quality 70 (baseline, three components) and decodes what
// was written, for the joined image and, scaled down, for the windows. When `cancelled`
// becomes true the tile is not written.
TileImageResult ProcessTileAnswer(int answerFd, const QString& answerPath, const QString& tilePath,
                                  const std::atomic<bool>* cancelled);

// An answer fetched into memory: checked and decoded as a tile is, and re-encoded as a tile
// file would be only to know its size; nothing is written.
TileImageResult ProcessImageAnswer(const QByteArray& answer, const std::atomic<bool>* cancelled);

// A tile file kept from an earlier run, taken as it is only when it is still the very file
// `stamp` describes; otherwise the reason says why not.
TileImageResult ReadStoredTile(const QString& tilePath, const TileStamp& stamp);
