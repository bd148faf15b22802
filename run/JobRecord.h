#pragma once

// The record of a run in its destination folder, `<Nombre>.morvel` beside the BMP: which
// job it is and how far every tile of its grid got. A run keeps it up to date as tiles
// arrive and removes it once everything is done, so that a run that was stopped, closed,
// killed or left with failed tiles can be resumed without downloading again what is there.

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

    // The record of a job about to run: every tile of its grid pending.
    static JobRecord ForJob(const DownloadJob& job);

    TileState state(int column, int row) const { return states.at(column - 1).at(row - 1); }
    void setState(int column, int row, TileState state, const QString& reason = {});
    // The same corner, map kind, coverage, grid and server.
    bool sameJob(const JobRecord& other) const;
    int count(TileState state) const;

    // Readable text, one key per line; parse() gives nothing for a damaged record.
    QByteArray toBytes() const;
    static std::optional<JobRecord> parse(const QByteArray& bytes);
};

// Where the record of a job lives: the BMP's name with ".morvel".
QString JobRecordPath(const QString& pathPrefix, const QString& bmpName);

// Replaces the record through a temporary file renamed over it; false when that fails.
bool SaveJobRecord(const QString& path, const JobRecord& record);
std::optional<JobRecord> LoadJobRecord(const QString& path);
