#pragma once

#include "geo/OverwriteQuestion.h"

#include <QByteArray>
#include <QString>

#include <functional>

// What to ask before an existing calibration file is replaced.
struct OverwritePrompt {
    QString caption;
    QString text;
};

// Puts the bytes into folder + separator + file name, asking first when the file exists.
// The bytes are made only once the file is to be written. The new content goes to a
// temporary file in the same folder that replaces the old file only when complete.
// False, with a short reason in `error`, when the folder is empty or missing, the
// question is refused, or the file cannot be created, written or renamed into place.
bool SaveCalibrationFile(const QString& folder, const QString& fileName,
                         const OverwritePrompt& prompt, OverwriteQuestion& question,
                         const std::function<QByteArray()>& makeBytes, QString* error);

// The same without a question: an existing file is simply replaced, as files that only
// follow the image are.
bool ReplaceFile(const QString& folder, const QString& fileName, const QByteArray& bytes,
                 QString* error);
