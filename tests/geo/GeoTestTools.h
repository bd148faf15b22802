#pragma once

// What the geo tests check the program against: PROJ's own transformations, taken the
// plain way, and GDAL's command-line tools, which read the files back as GIS programs do.

#include <QJsonObject>
#include <QMap>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <proj.h>

#include <array>
#include <vector>

// PROJ's transformation from ED50 / UTM zone 30N to `target` for an area given in degrees,
// as proj_create_crs_to_crs chooses it (per point, among the operations of the area), with
// longitude before latitude. Never fetches grids.
class PlainProj {
public:
    PlainProj(double lonWest, double latSouth, double lonEast, double latNorth, const char* target);
    ~PlainProj();
    PlainProj(const PlainProj&) = delete;
    PlainProj& operator=(const PlainProj&) = delete;

    // x = easting or longitude, y = northing or latitude.
    PJ_XY operator()(double easting, double northing) const;
    // The other way: from `target` to ED50 / UTM zone 30N.
    PJ_XY inverse(double x, double y) const;

private:
    PJ_CONTEXT* m_context;
    PJ* m_op = nullptr;
};

// Runs one of GDAL's tools and gives its standard output. Fails the current test, with a
// word on installing gdal-bin when the tool is missing, and gives false when it cannot be
// run or does not end with exit code 0.
bool RunGdalTool(const QString& tool, const QStringList& arguments, QByteArray* output);

// `gdalinfo -json` of a file; false (the test failed) when it cannot be read.
bool GdalInfo(const QString& path, QJsonObject* report);

// The outer corners of the image in the report: upper-left, upper-right, lower-right,
// lower-left, in the CRS GDAL gives it.
std::array<QPointF, 4> ReportedCorners(const QJsonObject& report);

// A white 24-bit BMP of that size; false (the test failed) when it cannot be written.
bool WriteWhiteBmp(const QString& path, int width, int height);

// A feature as `ogrinfo -al` prints it: each field's value as text, and the geometry in WKT.
struct OgrFeature {
    QMap<QString, QString> fields;
    QString geometry;
};

// `ogrinfo -ro -al` of a vector file with one layer: the layer's CRS in WKT and its
// features in order; false (the test failed) when it cannot be read.
bool OgrInfo(const QString& path, QString* layerSrs, std::vector<OgrFeature>* features);

// The points of the outer ring of a POLYGON in WKT, in order (x y).
std::vector<QPointF> OuterRing(const QString& polygonWkt);
