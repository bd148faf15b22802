#pragma once

// The names a run and a set of sheets put in the destination folder, and whether the folder
// takes them: checked before anything is fetched, so that a name too long for the folder is
// refused at once rather than failing at the BMP or an export after every tile.

#include "job/DownloadJob.h"

#include <QString>
#include <QStringList>

#include <optional>

struct SheetSet;

// The longest name of each file a run of the job puts in its folder while it writes what the
// job asks for: its record (unless a set keeps it), the BMP, the calibration and world files
// and each export, with their temporary files and the files GDAL and SQLite make beside them.
QStringList RunFileNames(const DownloadJob& job, bool ownRecord = true);

// Why the BMP name is too long for what the job asks in its folder (the current directory
// when the folder is missing, as the run then takes it), as the message to show; nothing when
// every name fits.
std::optional<QString> RunNamesProblem(const DownloadJob& job);

// The same for a set of sheets: the set's record, index and overview beside the sheets'
// folders, named after it, and each sheet's files in its folder, named after the sheet.
std::optional<QString> SheetNamesProblem(const DownloadJob& job, const SheetSet& set);
