#pragma once

#include "job/DownloadJob.h"

#include <QString>

class OverwriteQuestion;

// The two calibration files a run can end with, in the order they are written.
enum class CalibrationFormat { OziExplorer, CompeGps };

// What writing one calibration file came to, with the texts the window shows for it.
struct CalibrationOutcome {
    bool written = false;
    bool refused = false; // the user chose not to replace the existing file
    QString reason;       // why it was not written
    QString statusText;
    QString logMessage;
    // For the message box after a failure: the fixed text, followed on a line of its
    // own by the reason unless the user refused the overwrite.
    QString failureMessage;
};

// True when the job's option asks for the file.
bool CalibrationWanted(CalibrationFormat format, const DownloadJob& job);

// Writes one calibration file for the job's image: the base name with ".map" or ".imp"
// in the job's folder, describing the image base name + ".bmp". Existing files are
// replaced only when the question says so.
CalibrationOutcome WriteCalibrationFile(CalibrationFormat format, const DownloadJob& job,
                                        OverwriteQuestion& question);
