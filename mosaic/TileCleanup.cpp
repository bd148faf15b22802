#include "mosaic/TileCleanup.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

QStringList DeleteTileFiles(const DownloadJob& job, const QString& pathPrefix) {
    QStringList removed;
    const int rows = std::clamp(job.tilesDown, 0, kMaxTiles);
    const int columns = std::clamp(job.tilesAcross, 0, kMaxTiles);
    for (int row = 1; row <= rows; ++row) {
        for (int column = 1; column <= columns; ++column) {
            const QString& name = job.tile(column, row).fileName;
            if (name.isEmpty()) {
                continue;
            }
            const QString path = pathPrefix + name;
            const QFileInfo info(path);
            if (info.exists() && info.isFile() && QFile::remove(path)) {
                removed << path;
            }
        }
    }
    return removed;
}
