#pragma once

#include "geo/CalibrationPoints.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The georeferencing that GIS programs read beside an image, on the image's own grid,
// ED50 / UTM zone 30N (EPSG:23030); no datum change, so no PROJ.

// The six lines of the image's world file, CR LF after each: metres per pixel across, two
// zero rotations, minus the metres per pixel down, then the easting and the northing of
// the centre of the upper-left pixel. Numbers in their shortest form with "." whatever the
// locale. Empty when the image has no width or no height.
QByteArray WorldFileBytes(const CalibrationCornerList& corners);

// ESRI's WKT of ED50 / UTM zone 30N, as a .prj file holds it.
QByteArray Ed50Utm30PrjBytes();

// GDAL's side file naming the image's CRS, with EPSG's code: GDAL's BMP reader takes the
// world file but not the .prj, and QGIS reads images through GDAL.
QByteArray Ed50Utm30AuxXmlBytes();

// Writes <baseName>.bpw, <baseName>.prj and <baseName>.bmp.aux.xml into the folder, each
// under a temporary name renamed into place when complete. Existing files are replaced
// without asking: they only follow the image; a link is replaced, not written through, and
// its name added to `replacedLinks`. False, with a short reason in `error`, for an image
// without width or height, an empty or missing folder, or an input/output error.
bool WriteWorldFiles(const CalibrationCornerList& corners, const QString& folder,
                     const QString& baseName, QString* error = nullptr,
                     QStringList* replacedLinks = nullptr);
