#pragma once

// What the export tests share: a job and its image, the datum change the run hands over, and
// GDAL's command-line tools, which read the files back as other programs do.

#include "exports/MapExport.h"
#include "job/MapKinds.h"

#include <QColor>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <memory>
#include <ostream>
#include <vector>

// The job's outer edges on its ED50 / UTM 30N grid, in metres.
struct Ed50Rect {
    double west, south, east, north;
};

// Longitudes and latitudes in degrees.
struct LonLatBox {
    double west, south, east, north;
};

struct ExportCase {
    QString name;
    QString eastingText = QStringLiteral("585000");
    QString northingText = QStringLiteral("730000");
    MapKind kind = MapKind::Orto;
    int coveragePosition = 1; // 1000 m tiles of orthophoto
    int across = 2;
    int down = 2;
    QImage::Format format = QImage::Format_RGB888;
};

void PrintTo(const ExportCase& c, std::ostream* os);

// The job the area recompute makes for the case, named Prueba, in `folder`, with its image:
// every 400-pixel tile a flat colour of its own, so that a reader can tell where each one
// landed; and the datum change the run would find for its area.
ExportInput MakeExportInput(const ExportCase& c, const QString& folder);

QColor TileColour(int column, int row);
Ed50Rect RectOf(const DownloadJob& job);

// PROJ's plain route from ED50 / UTM 30N to ETRS89 (as the datum tests check it against the
// program's), applied along the rectangle's edges: the box of its moved outline.
LonLatBox MovedBox(const Ed50Rect& rect);
// A point moved the same way: x = longitude, y = latitude.
QPointF MovedPoint(const Ed50Rect& rect, double easting, double northing);

class PlainProj;

// The same route both ways, made once for many points of the rectangle.
class AreaProj {
public:
    explicit AreaProj(const Ed50Rect& rect);
    ~AreaProj();
    AreaProj(const AreaProj&) = delete;
    AreaProj& operator=(const AreaProj&) = delete;

    // x = longitude, y = latitude.
    QPointF moved(double easting, double northing) const;
    // x = easting, y = northing.
    QPointF back(double longitude, double latitude) const;

private:
    std::unique_ptr<PlainProj> m_proj;
};

// Web Mercator metres of a longitude and latitude on WGS 84.
QPointF WebMercator(double longitude, double latitude);

// `gdallocationinfo` of pixels (x, y from the upper left) or, with `georeferenced`, of points
// in the file's CRS: their first three bands, in the file itself or in its overview of that
// number (from 1). Empty (the test failed) when unreadable.
std::vector<QColor> LocationColours(const QString& path, const std::vector<QPointF>& points,
                                    bool georeferenced, int overview = 0);

// Runs a program (unzip, one of GDAL's tools) and gives its standard output; fails the test,
// naming the Debian package, when it is missing or does not end well.
bool RunProgram(const QString& program, const QStringList& arguments, QByteArray* output,
                const char* package);

// A GeoTIFF's ProjectedCSTypeGeoKey, read from the file's own tags rather than through GDAL;
// 0 when it has none or the file cannot be read.
int ProjectedCsTypeKey(const QString& path);

// Brightness as JPEG keeps it apart from colour (ITU-R BT.601).
double Luma(const QColor& c);

// Each channel within `tolerance`.
bool NearColour(const QColor& a, const QColor& b, int tolerance);

// Everything in the folder, hidden files included, so that a temporary file left shows.
QStringList FolderEntries(const QString& folder);

// Runs an export to its end with nothing asking it to stop.
ExportResult ExportNow(ExportFormat format, const ExportInput& input);
