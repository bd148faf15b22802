#pragma once

#include "job/DownloadJob.h"

#include <QString>
#include <QStringList>

#include <memory>

class DatumChange;
class OverwriteQuestion;

// The files a run can end with beside its BMP, in the order they are written: the two GPS
// calibration files, then the world file with the image's CRS for GIS programs.
enum class CalibrationFormat { OziExplorer, CompeGps, WorldFile };

// What writing one calibration file came to, with the texts the window shows for it.
struct CalibrationOutcome {
    bool written = false;
    bool refused = false;      // the user chose not to replace the existing file
    QString reason;            // why it was not written
    QStringList replacedLinks; // the files written where a link stood, which went
    QString statusText;
    QString logMessage;
    // For the message box after a failure: the fixed text, followed on a line of its
    // own by the reason unless the user refused the overwrite.
    QString failureMessage;
};

// True when the job's option asks for the file.
bool CalibrationWanted(CalibrationFormat format, const DownloadJob& job);

// The change from ED50 to ETRS89 for a job's area, chosen once for the GPS files on WGS 84
// and the exports moved to WGS 84, with what the run reports of it: the log line names the
// operation after `use`, the files it is for; the failure's texts are the GPS files'.
struct DatumChoice {
    std::shared_ptr<const DatumChange> change; // none when no operation covers the area
    QString reason;                            // why not
    QString statusText;                        // only on failure
    QString logMessage;
    QString failureMessage; // for the message box when there is no change
};
DatumChoice ChooseDatumChange(const DownloadJob& job,
                              const QString& use = QStringLiteral("Calibración WGS 84"));

// Writes one file for the job's image in the job's folder: the base name with ".map" or
// ".imp", describing the image base name + ".bmp", on the job's datum (a WGS 84 file
// needs `change`), or the world file and CRS files. Existing calibration files are
// replaced only when the question says so.
CalibrationOutcome WriteCalibrationFile(CalibrationFormat format, const DownloadJob& job,
                                        OverwriteQuestion& question,
                                        const DatumChange* change = nullptr);
