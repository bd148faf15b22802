#pragma once

#include "geo/CalibrationPoints.h"
#include "geo/OverwriteQuestion.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

class DatumChange;

// The bytes of an OziExplorer .map file (60 lines, CR LF, Windows-1252). The folder and
// the image file name give line 3, the image's full path in the platform's form; the
// file name does not show in the file.
QByteArray OziExplorerMapBytes(const CalibrationPointList& points,
                               const CalibrationCornerList& corners, const QString& projectionName,
                               const QString& datumName, const QString& title,
                               const QString& folder, const QString& fileName,
                               const QString& imageFileName, int32_t zone);

// The bytes of a CompeGPS .imp file (15 lines plus one per non-empty point, CR LF,
// Windows-1252). Neither the folder nor the file name shows in the file.
QByteArray CompeGpsImpBytes(const CalibrationPointList& points,
                            const CalibrationCornerList& corners, const QString& projectionName,
                            const QString& datumName, const QString& zoneLetter,
                            const QString& folder, const QString& fileName,
                            const QString& imageFileName, int32_t zone);

// The datum a calibration file gives its ground coordinates on: ED50, as the grid has them,
// under the name the file's program knows it by; or WGS 84, every coordinate moved from
// ED50 by a change (to ETRS89, which matches WGS 84 to about a metre).
struct FileDatum {
    QString ed50Name;
    const DatumChange* change = nullptr; // WGS 84 when set

    static FileDatum Ed50(const QString& name) { return {name, nullptr}; }
    static FileDatum Wgs84(const DatumChange& change) { return {QString(), &change}; }
};

// Writes the .map file as folder + platform separator + file name. An existing file is
// replaced only when the question says so. The file is written whole under a temporary
// name and then renamed, so on any failure the old file, if any, stays as it was and no
// partial file is left; a link at the name is replaced, not written through, and its name
// added to `replacedLinks`. False when refused, when the folder is empty or missing, or on
// any input/output error; `error` then gets a short reason.
//
// On WGS 84 the datum is named "WGS 84"; corner latitudes and longitudes get 8 decimals;
// grid values of the point lines are on ETRS89 / UTM zone 30N with 2 decimals; pixels,
// scale and sizes stay as on ED50. The file also has the image's other two corners as
// points, so that its readers see the slight turn of the ED50 grid on the ETRS89 one. The
// zone is then always 30, the only one the change knows. When a coordinate cannot be moved
// (a point outside the area the change was chosen for) nothing is asked or written and
// false is returned with a reason.
bool WriteOziExplorerMap(const CalibrationPointList& points, const CalibrationCornerList& corners,
                         const QString& projectionName, const FileDatum& datum,
                         const QString& title, const QString& folder, const QString& fileName,
                         const QString& imageFileName, int32_t zone, OverwriteQuestion& question,
                         QString* error = nullptr, QStringList* replacedLinks = nullptr);

// The same for the .imp file. On WGS 84 its grid values get 8 decimals, and it keeps its
// two points.
bool WriteCompeGpsImp(const CalibrationPointList& points, const CalibrationCornerList& corners,
                      const QString& projectionName, const FileDatum& datum,
                      const QString& zoneLetter, const QString& folder, const QString& fileName,
                      const QString& imageFileName, int32_t zone, OverwriteQuestion& question,
                      QString* error = nullptr, QStringList* replacedLinks = nullptr);
