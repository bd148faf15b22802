#pragma once

// The files the fetcher writes into the destination folder: the temporary file an answer
// is downloaded into and the tile itself. Both are only ever created fresh and
// exclusively, never through a link someone planted in a shared folder, and a tile
// replaces its old file only once it is complete.

#include "job/WriteError.h"

#include <QByteArray>
#include <QString>

// Removes whatever has that name: a stale file, or a link itself (never what it points to).
// A missing file is no error.
void RemoveFile(const QString& path);

// The temporary file of one download. create() removes a stale entry of the name, then
// makes a new file that must not exist yet and is never opened through a link: if
// something reappears under the name in between, creating fails instead of following it.
class AnswerFile {
public:
    explicit AnswerFile(QString path = {}) : m_path(std::move(path)) {}
    ~AnswerFile();
    AnswerFile(const AnswerFile&) = delete;
    AnswerFile& operator=(const AnswerFile&) = delete;

    void setPath(const QString& path) { m_path = path; }
    const QString& path() const { return m_path; }
    bool isOpen() const { return m_fd >= 0; }

    bool create(LocalWriteError* error);
    bool write(const QByteArray& data, LocalWriteError* error);
    void close();
    // Closes and removes the file.
    void discard();

private:
    QString m_path;
    int m_fd = -1;
};

// Writes `bytes` under `path` through a fresh temporary file in the same folder that is
// renamed over `path` only when complete, so a reader never sees half a file and a link
// at `path` is replaced, not followed.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, LocalWriteError* error);
