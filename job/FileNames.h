#pragma once

#include <QString>

#include <optional>

// Why a BMP name (the "Nombre" field, without ".bmp") cannot be used, as the message to
// show; nothing when it can. The name becomes the BMP, the calibration files and the job
// record in the destination folder, and is written into the calibration files, so it
// must be one file name (no folder part, no name of its own kind such as "." or ".."),
// visible (not starting with a point), usable on Windows, where the maps are often
// carried (none of \ / : * ? " < > |, no control character, not ending in a point or a
// blank), and made only of characters the calibration files' Windows-1252 can hold.
std::optional<QString> BmpNameProblem(const QString& name);

// How long one name in a folder, and a whole path through it, may be on the file system that
// holds the folder, in bytes of the names as the system takes them (UTF-8).
struct NameLimits {
    qint64 name = 255;
    qint64 path = 4095; // without the terminating null
};
NameLimits FolderNameLimits(const QString& folder);
