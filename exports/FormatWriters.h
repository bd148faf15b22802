#pragma once

// One writer per format. Each writes its file at the path it is given and reads it back
// through GDAL; putting the file in place is left to the caller.

#include "exports/ExportGeometry.h"
#include "exports/GdalSupport.h"
#include "exports/ImageWarp.h"
#include "exports/MapExport.h"

#include <QString>
#include <QStringList>

#include <string>

// What every writer gets.
struct ExportWork {
    const ExportInput& input;
    // The image in a format GDAL and the warp read in place.
    const QImage& pixels;
    // The image on its grid, and the same as a dataset in memory over its pixels.
    GridArea area;
    GDALDatasetH image;
    const ExportProgress& progress;
    const GdalErrorCapture& errors;
};

struct WrittenFile {
    bool ok = false;
    // Why not, when not.
    QString reason;
    // For the log: the format and the coordinate system, e.g. "GeoTIFF, ED50 / UTM 30N".
    QString description;
    // Log lines after the one that names the file.
    QStringList remarks;
};

WrittenFile WriteGeoTiff(const ExportWork& work, const std::string& path);
WrittenFile WriteGeoPackage(const ExportWork& work, const std::string& path);
WrittenFile WriteMbTiles(const ExportWork& work, const std::string& path);
WrittenFile WriteGarminKmz(const ExportWork& work, const std::string& path);
WrittenFile WritePrintPdf(const ExportWork& work, const std::string& path);

// The GeoPackage's table for a map's name: lower-case ASCII letters, digits and '_', beginning
// with a letter, and none of the beginnings SQLite and GeoPackage keep for themselves.
std::string GeoPackageTableName(const QString& mapName);

// The log line for a KMZ of more images than most Garmin devices show; empty when it has no
// more.
QString TooManyImagesRemark(const QString& fileName, int images);

// What reading a raster back must find: its CRS, its size and its outer edges.
struct ExpectedRaster {
    const char* driver = nullptr;
    int epsg = 0;
    int width = 0;
    int height = 0;
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;
    // How far an edge may lie from the one meant, in the CRS's units.
    double tolerance = 0.0;
};

// Opens the file with the driver named and compares; null, with the reason, when it cannot be
// opened or differs.
GdalDataset OpenAndCompare(const std::string& path, const ExpectedRaster& expected,
                           QString* reason);

// Levels of overviews halving the image until its larger side is no more than `side`.
std::vector<int> OverviewFactors(int width, int height, int side);

// Overviews of the image at those factors, in memory beside it, each pixel the mean of those
// it stands for (GDAL's average): made from the image's own pixels, for a writer to copy, so
// that none is made by reading back the writer's JPEG tiles.
bool BuildImageOverviews(const ExportWork& work, const std::vector<int>& factors,
                         const ExportProgress::Stage& stage);

// Copies the image's overviews into the written dataset's, level by level; their sizes must
// be the same.
bool CopyImageOverviews(const ExportWork& work, GDALDatasetH written,
                        const ExportProgress::Stage& stage);

// GDAL's translate of the image into `path`, its progress reported as the stage; null when
// GDAL refuses the arguments or fails.
GdalDataset TranslateImage(const ExportWork& work, const std::string& path,
                           GdalArguments& arguments, const ExportProgress::Stage& stage);

// What a thread that moves the image keeps: a transformer of its own, and GDAL's messages
// kept off the terminal there.
struct WarpContext {
    WarpContext(const ExportWork& work, const TargetGrid& target, const std::string& pipeline)
        : warp(SourcePixels::Of(work.pixels), work.area, target, pipeline) {}
    GdalErrorCapture quiet;
    ImageWarp warp;
};

// A failed GDAL step: GDAL's reason, or `fallback`.
WrittenFile GdalFailure(const ExportWork& work, const QString& fallback);
WrittenFile Failure(const QString& reason);
