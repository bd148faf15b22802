#pragma once

#include "job/DownloadJob.h"

#include <QString>
#include <QStringList>

// Deletes the tile files of the job's grid from the folder of `pathPrefix`, in grid
// order (rows from the top, columns from the left), by the names stored in the tile
// table. Every cell of the grid is visited, fetched or not: a failed tile may have left a
// file of that name from an earlier run. Directories and files that cannot be removed
// are left alone. Returns the paths that were removed, in order.
QStringList DeleteTileFiles(const DownloadJob& job, const QString& pathPrefix);
