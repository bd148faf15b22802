#pragma once

// The files that programs other than the desktop GPS ones read, each written from the joined
// image of a run through GDAL: GIS and phone apps (GeoTIFF, GeoPackage), map apps that take
// Web Mercator tiles (MBTiles), Garmin handhelds (KMZ of JPEG ground overlays), and a PDF
// to print at a scale with the GPS's grid, which phone map apps place too.

#include "job/DownloadJob.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// The change from ED50 to ETRS89 that the WGS 84 calibration uses for the area.
struct DatumOperation {
    // PROJ's name of the operation, for the log, e.g. "ED50 to ETRS89 (7)".
    QString name;
    // PROJ's pipeline from ED50 / UTM zone 30N easting and northing in metres to ETRS89
    // longitude and latitude in degrees.
    QString pipeline;
};

// What one export needs, all plain values, so that it runs on any thread.
struct ExportInput {
    // The joined image: 24-bit (RGB888) or 32-bit (RGB32); any other format is converted.
    QImage image;
    // The area (corner, lower-right corner, size in pixels), the name and the folder.
    DownloadJob job;
    // For MBTiles and KMZ, whose images are moved to WGS 84, and the PDF, whose grid is on
    // ETRS89; the other two do not use it.
    DatumOperation datum;
};

struct ExportResult {
    bool ok = false;
    // A stop was asked for: nothing was left in the folder, and there is nothing to tell.
    bool stopped = false;
    // When written: ". Exportado Prueba.tif (GeoTIFF, ED50 / UTM 30N)", then any remark.
    QStringList logLines;
    // When not: what to tell the user, in Spanish, with the reason.
    QString error;
    // The reason alone, for a line that names the file itself.
    QString reason;
};

// Called on the exporting thread with the part done, from 0 to 1.
using ExportProgressObserver = std::function<void(double)>;

// The file's name in the job's folder: the BMP's base name and the format's extension.
QString ExportFileName(ExportFormat format, const QString& baseName);

// The longest name an export puts in its folder while it is written: its temporary file, or
// one that GDAL or SQLite makes or looks for beside it, named after that one.
QString LongestExportName(ExportFormat format, const QString& baseName);

// Writes one file into the job's folder, replacing one of the same name, through a
// temporary file renamed into place only once GDAL has read it back and found the extent,
// size and coordinate system meant. `stop` is read while the work goes on: once it is true
// the export ends as soon as GDAL lets it and leaves no file behind.
ExportResult WriteExport(ExportFormat format, const ExportInput& input,
                         const std::atomic<bool>& stop,
                         const ExportProgressObserver& observer = {});
