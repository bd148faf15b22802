#pragma once

// The record of a run in its destination folder, `<Nombre>.morvel` beside the BMP: which
// job it is and how far every tile of its grid got, with the size and SHA-256 of every tile
// file it wrote. A run keeps it up to date as tiles arrive and removes it once everything is
// done, so that a run that was stopped, closed, killed or left with failed tiles can be
// resumed without downloading again what is there. Tile files are named alike for every job
// of a folder: only a file that is still exactly the one recorded is taken.

#include "download/TileFiles.h"
#include "job/DownloadJob.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

enum class TileState { Pending, Fetched, Failed };

struct JobRecord {
    QString server; // scheme and host of the map server
    MapKind kind = MapKind::Orto;
    int32_t tileSize = 0;
    int32_t easting = 0;
    int32_t northingField = 0;
    int32_t tilesAcross = 0;
    int32_t tilesDown = 0;

    // Indexed by column, then row, both from 1 through state()/reason().
    std::array<std::array<TileState, kMaxTiles>, kMaxTiles> states{};
    std::array<std::array<QString, kMaxTiles>, kMaxTiles> reasons{};
    std::array<std::array<TileStamp, kMaxTiles>, kMaxTiles> stamps{};

    // The record of a job about to run: every tile of its grid pending.
    static JobRecord ForJob(const DownloadJob& job);

    TileState state(int column, int row) const { return states.at(column - 1).at(row - 1); }
    void setState(int column, int row, TileState state, const QString& reason = {});
    // Fetched, with the file as it was written.
    void setFetched(int column, int row, const TileStamp& stamp);
    const TileStamp& stamp(int column, int row) const { return stamps.at(column - 1).at(row - 1); }
    // Fetched and stamped: a record of an earlier version, without stamps, vouches for no
    // tile.
    bool vouchesFor(int column, int row) const;
    int vouched() const;
    // The same corner, map kind, coverage, grid and server.
    bool sameJob(const JobRecord& other) const;
    int count(TileState state) const;

    // Readable text, one key per line; parse() gives nothing for a damaged record.
    QByteArray toBytes() const;
    static std::optional<JobRecord> parse(const QByteArray& bytes);
};

// A file's size and SHA-256 as a record writes them, "<size> <SHA-256 in hex>"; an empty
// text gives a stamp that vouches for nothing (an earlier version's record).
QString StampText(const TileStamp& stamp);
std::optional<TileStamp> ParseStampText(const QString& text);

// Where the record of a job lives: the BMP's name with ".morvel".
QString JobRecordPath(const QString& pathPrefix, const QString& bmpName);

// A record is a few kilobytes; anything much larger is not one.
constexpr qint64 kMaxRecordBytes = 256 * 1024;

// Replaces the record through a temporary file renamed over it; false when that fails.
bool SaveJobRecord(const QString& path, const JobRecord& record);
// The record at `path`, read only when it is a regular file of a record's size, never
// through a link; `refused`, when given, says why a file that is there was not read.
std::optional<JobRecord> LoadJobRecord(const QString& path, QString* refused = nullptr);
// The bytes of a record file, read as LoadJobRecord reads one, of at most `maxBytes`.
std::optional<QByteArray> ReadRecordFile(const QString& path, qint64 maxBytes, QString* refused);
