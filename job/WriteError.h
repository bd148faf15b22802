#pragma once

// Why a file of ours could not be written, in the few Spanish words the user reads: one
// table for the tiles, the BMP, the calibration and world files and the settings file.

#include <QString>

#include <optional>

class QIODevice;

struct LocalWriteError {
    QString reason;
    // The folder refuses new files or the disk is full: every later file would fail alike.
    bool folderUnwritable = false;
};

// The reason for the errno of a failed create, write, sync or rename.
LocalWriteError LocalWriteErrorFor(int error);

// The reason for a failed step of a device writing a file (QSaveFile, QFile). Qt's own
// texts are English and for a full disk no more than "Unknown error", so the errno that
// the failing call left, taken by the caller right after it, says why; a folder standing
// where the file goes leaves none and is looked for first.
LocalWriteError DeviceWriteError(const QIODevice& device, int savedErrno);

// Why `folder` takes no new file now, as the system tells it rather than the words of the
// step that failed (GDAL's and SQLite's are English and name their temporary files): a
// file system mounted read-only, no permission to add files, or a full disk (almost no
// free space, or no free entry for a file). Nothing when the folder looks writable.
std::optional<LocalWriteError> FolderRefusal(const QString& folder);
