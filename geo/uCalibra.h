#pragma once

#include "geo/CalibrationPoints.h"
#include "geo/OverwriteQuestion.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

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
