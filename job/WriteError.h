#pragma once

// Why a file of ours could not be written, in the few Spanish words the user reads: one
// table for the tiles, the BMP, the calibration and world files and the settings file.

#include <QString>

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
