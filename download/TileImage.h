#pragma once

// The image work of one tile, done on a worker thread: it takes plain values (paths) and
// returns plain values, and touches nothing but the two files it is given.

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>

enum class TileImageFailure {
    None,
    WrongSize,  // a JPEG of another size than a tile: worth asking again
    BadAnswer,  // not a usable JPEG: asking again gives the same
    LocalWrite, // the tile could not be written on our side
    Cancelled,  // the fetch was abandoned; nothing was written
};

struct TileImageResult {
    TileImageFailure failure = TileImageFailure::None;
    QString reason;
    bool folderUnwritable = false; // with LocalWrite: the folder takes no file at all
    QImage image;                  // the tile as written, decoded
    qint64 decodeNs = 0;
    qint64 encodeNs = 0;
    qint64 writeNs = 0;
    qint64 storedBytes = 0; // the tile file's size, or what it would be for an image in memory

    bool ok() const { return failure == TileImageFailure::None; }
};

// Quality of the JPEG files the program writes.
constexpr int kTileQuality = 70;

// "tamaño 100 × 100, se esperaba 400 × 400".
QString WrongSizeReason(const QSize& size);

// Reads the downloaded answer and removes it, checks the size its header declares before
// decoding anything, decodes it, writes the tile re-encoded at quality 70 (baseline, three
// components) and decodes what was written, for the preview and the joined image. When
// `cancelled` becomes true the tile is not written.
TileImageResult ProcessTileAnswer(const QString& answerPath, const QString& tilePath,
                                  const std::atomic<bool>* cancelled);

// An answer fetched into memory: checked and decoded as a tile is, and re-encoded as a tile
// file would be only to know its size; nothing is written.
TileImageResult ProcessImageAnswer(const QByteArray& answer, const std::atomic<bool>* cancelled);

// A tile file kept from an earlier run, taken as it is when it decodes as a whole tile.
TileImageResult ReadStoredTile(const QString& tilePath);
