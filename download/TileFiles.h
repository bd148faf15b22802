#pragma once

// The files the fetcher writes into the destination folder: the temporary file an answer
// is downloaded into and the tile itself. Both are only ever created fresh and
// exclusively under a name of their own, never through a link someone planted in a shared
// folder, and a tile replaces its old file only once it is complete.

#include "job/WriteError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Removes whatever has that name: a stale file, or a link itself (never what it points to).
// A missing file is no error.
void RemoveFile(const QString& path);

// What a tile file held when it was written: its size and the SHA-256 of its bytes, taken
// from the bytes written rather than read back. A record keeps it so that a later run takes
// a stored tile only when it is still exactly that file.
struct TileStamp {
    qint64 size = -1;
    QByteArray sha256; // 32 bytes

    static TileStamp Of(const QByteArray& bytes);
    bool isValid() const { return size >= 0 && sha256.size() == 32; }
    bool operator==(const TileStamp& o) const { return size == o.size && sha256 == o.sha256; }
};

// The temporary file of one download, beside the tile and named after it with a fresh
// ending (see TemporaryFileOf). It is made new, exclusively and never through a link, and
// read back through the descriptor that wrote it: whatever someone puts under its name
// meanwhile is never what is read.
class AnswerFile {
public:
    AnswerFile() = default;
    ~AnswerFile();
    AnswerFile(const AnswerFile&) = delete;
    AnswerFile& operator=(const AnswerFile&) = delete;

    // The tile the next create() makes an answer file for.
    void setTile(const QString& tilePath) { m_tile = tilePath; }
    // The name of the file made by the latest create().
    const QString& path() const { return m_path; }
    bool isOpen() const { return m_fd >= 0; }

    bool create(LocalWriteError* error);
    bool write(const QByteArray& data, LocalWriteError* error);
    // Hands the open descriptor over to the caller, who closes it; the file stays.
    int release();
    void close();
    // Closes and removes the file.
    void discard();

private:
    QString m_tile;
    QString m_path;
    int m_fd = -1;
};

// True when `name` is the name of a temporary file of `fileName` that this program makes:
// the file name, a point and eight lower-case letters or digits (or, as earlier versions
// named an answer, the file name and "1").
bool IsTemporaryFileOf(const QString& name, const QString& fileName);

// Removes from `folder` the temporary files of `fileNames` that a killed run left behind;
// returns the names removed.
QStringList RemoveTemporaryFiles(const QString& folder, const QStringList& fileNames);

// Writes `bytes` under `path` through a fresh temporary file in the same folder that is
// renamed over `path` only when complete, so a reader never sees half a file and a link
// at `path` is replaced, not followed.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, LocalWriteError* error);
