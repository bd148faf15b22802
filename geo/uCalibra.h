#pragma once

#include "geo/CalibrationPoints.h"
#include "geo/OverwriteQuestion.h"

#include <QByteArray>
#include <QString>

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

// Writes the .map file as folder + platform separator + file name. An existing file is
// replaced only when the question says so. The file is written whole under a temporary
// name and then renamed, so on any failure the old file, if any, stays as it was and no
// partial file is left. False when refused, when the folder is empty or missing, or on
// any input/output error; `error` then gets a short reason.
bool WriteOziExplorerMap(const CalibrationPointList& points, const CalibrationCornerList& corners,
                         const QString& projectionName, const QString& datumName,
                         const QString& title, const QString& folder, const QString& fileName,
                         const QString& imageFileName, int32_t zone, OverwriteQuestion& question,
                         QString* error = nullptr);

// The same for the .imp file.
bool WriteCompeGpsImp(const CalibrationPointList& points, const CalibrationCornerList& corners,
                      const QString& projectionName, const QString& datumName,
                      const QString& zoneLetter, const QString& folder, const QString& fileName,
                      const QString& imageFileName, int32_t zone, OverwriteQuestion& question,
                      QString* error = nullptr);

// The same two files on WGS 84 for GPS receivers that record it: the datum is named
// "WGS 84" and every ground coordinate is moved from ED50 by `change` (ETRS89, which
// matches WGS 84 to about a metre). Corner latitudes and longitudes get 8 decimals; grid
// values of the point lines are on ETRS89 / UTM zone 30N, with 2 decimals in the .map and
// 8 in the .imp; pixels, scale and sizes stay as on ED50. The .map also has the image's
// other two corners as points, so that its readers see the slight turn of the ED50 grid
// on the ETRS89 one (the .imp keeps the two points). The zone is always 30, the only
// one the change knows. When a coordinate cannot be moved (a point outside the area the
// change was chosen for) nothing is asked or written and false is returned with a reason;
// otherwise as the ED50 writers.
bool WriteOziExplorerMapWgs84(const CalibrationPointList& points,
                              const CalibrationCornerList& corners, const QString& projectionName,
                              const QString& title, const QString& folder, const QString& fileName,
                              const QString& imageFileName, const DatumChange& change,
                              OverwriteQuestion& question, QString* error = nullptr);

bool WriteCompeGpsImpWgs84(const CalibrationPointList& points, const CalibrationCornerList& corners,
                           const QString& projectionName, const QString& zoneLetter,
                           const QString& folder, const QString& fileName,
                           const QString& imageFileName, const DatumChange& change,
                           OverwriteQuestion& question, QString* error = nullptr);
