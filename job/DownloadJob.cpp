#include "job/DownloadJob.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

void DownloadJob::resetTiles() {
    for (auto& column : tiles) {
        for (auto& cell : column) {
            cell.reset();
        }
    }
}

bool DownloadJob::anyExport() const {
    return std::find(exports.begin(), exports.end(), true) != exports.end();
}

QString ExportFormatName(ExportFormat format) {
    switch (format) {
    case ExportFormat::GeoTiff:
        return QStringLiteral("GeoTIFF");
    case ExportFormat::GeoPackage:
        return QStringLiteral("GeoPackage");
    case ExportFormat::MbTiles:
        return QStringLiteral("MBTiles");
    case ExportFormat::GarminKmz:
        return QStringLiteral("KMZ de Garmin");
    case ExportFormat::PrintPdf:
        return QStringLiteral("PDF para imprimir");
    }
    return {};
}

int32_t DownloadJob::printPixelsPerMetre() const {
    if (widthMetres <= 0 || widthPixels <= 0 || printScale <= 0) {
        return 0;
    }
    // Pixels per metre of ground, times the metres of ground in one of paper.
    const double perMetre = double(widthPixels) / double(widthMetres) * double(printScale);
    return perMetre < double(std::numeric_limits<int32_t>::max())
               ? static_cast<int32_t>(std::lround(perMetre))
               : 0;
}

TileRect TileBounds(const DownloadJob& job, int column, int row) {
    // 64-bit on the way: a stopped recompute may leave odd values, and the
    // result must stay defined; it is then narrowed back to the job's 32 bits.
    const int64_t s = job.tileSize;
    TileRect r;
    r.xmin = static_cast<int32_t>(job.easting + (column - 1) * s);
    r.xmax = static_cast<int32_t>(job.easting + column * s);
    r.ymax = static_cast<int32_t>(job.northingField - (row - 1) * s);
    r.ymin = static_cast<int32_t>(job.northingField - row * s);
    return r;
}

QString TileLabel(const DownloadJob& job, int column, int row) {
    const QChar letter =
        row >= 1 && row <= job.rowLetters.size() ? job.rowLetters.at(row - 1) : QChar(u'?');
    return QString(letter) + QStringLiteral("%1").arg(column, 2, 10, QChar(u'0'));
}

QString TileFileName(const DownloadJob& job, int column, int row) {
    return TileLabel(job, column, row) + QStringLiteral(".jpg");
}

QString PathPrefix(const QString& folder) {
    const QString sep = QDir::separator();
    if (folder.endsWith(sep) || folder.endsWith(u'/')) {
        return folder;
    }
    return folder + sep;
}

bool FolderExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    const QFileInfo info(path);
    return info.exists() && info.isDir();
}
