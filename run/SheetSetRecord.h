#pragma once

// The record of a set of sheets, `<Nombre>.morvel` in the destination folder: the set
// (its name, coverage, overlap, where its sheets came from, and the sheets) and, sheet by
// sheet, whether it is finished, the size and SHA-256 of the BMP it left, and the record of
// its run exactly as a run of its own keeps it (every tile's state, with the size and
// SHA-256 of every tile file written).
// The set keeps it up to date while it runs, so that a set stopped, closed, killed or left
// with failed tiles goes on where it was, and keeps it once every sheet is finished, so that
// a run of the same sheets again fetches nothing.

#include "job/SheetSource.h"
#include "run/JobRecord.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

struct SheetSetRecord {
    struct Entry {
        Sheet sheet;
        bool finished = false; // its run did everything: its files are written
        // The BMP as it was written, when the set makes one: a finished sheet is taken as
        // done only while its BMP is still this file.
        TileStamp bmp;
        JobRecord record; // its tiles
    };

    QString name;
    int overlap = 0;
    // Where the sheets came from, for whoever reads the file; not compared.
    SheetSource::Kind sourceKind = SheetSource::Kind::Box;
    GroundRect box;
    QString trackPath;
    double margin = 0.0;
    std::vector<Entry> sheets;

    // The record of a set about to run: every tile of every sheet pending. The job gives
    // the server, the map kind and the coverage.
    static SheetSetRecord ForSet(const SheetSet& set, const SheetSource& source,
                                 const DownloadJob& job);

    // The same sheets (number, name, place, corner and grid) of the same name, overlap,
    // server, map kind and coverage.
    bool sameSet(const SheetSetRecord& other) const;
    int finishedCount() const;
    // Tiles of sheets not finished that the record vouches for.
    int vouchedTiles() const;

    // Readable text: the set's part, then one part per sheet; parse() gives nothing for a
    // damaged record. The parts are made apart so that a running set makes again only
    // that of the sheet that changed.
    QByteArray headBytes() const;
    static QByteArray EntryBytes(const Entry& entry);
    QByteArray toBytes() const;
    static std::optional<SheetSetRecord> parse(const QByteArray& bytes);
};

// Where the record of a set lives: the set's name with ".morvel" in the destination folder.
QString SheetSetRecordPath(const QString& folder, const QString& name);

// A set's record keeps some 90 bytes for each tile: 400 sheets of 100 tiles come to about
// 4 MB, with room for the reasons of failed tiles.
constexpr qint64 kMaxSheetSetRecordBytes = 16 * 1024 * 1024;

// Replaces the record through a temporary file renamed over it; false when that fails.
bool SaveSheetSetRecord(const QString& path, const QByteArray& bytes);
// The record at `path`, read only when it is a regular file of at most
// kMaxSheetSetRecordBytes, never through a link; `refused` says why a file that is there
// was not read.
std::optional<SheetSetRecord> LoadSheetSetRecord(const QString& path, QString* refused = nullptr);
