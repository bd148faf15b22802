#pragma once

#include "geo/OverwriteQuestion.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// What to ask before an existing calibration file is replaced.
struct OverwritePrompt {
    QString caption;
    QString text;
};

// Puts the bytes into folder + separator + file name, asking first when the file exists.
// The bytes are made only once the file is to be written. The new content goes to a
// temporary file in the same folder that replaces the old file only when complete; a link
// standing at the name is replaced too, never written through, and its name is added to
// `replacedLinks`. False, with a short reason in `error`, when the folder is empty or
// missing, the question is refused, or the file cannot be created, written or renamed into
// place.
bool SaveCalibrationFile(const QString& folder, const QString& fileName,
                         const OverwritePrompt& prompt, OverwriteQuestion& question,
                         const std::function<QByteArray()>& makeBytes, QString* error,
                         QStringList* replacedLinks = nullptr);

// The same without a question: an existing file is simply replaced, as files that only
// follow the image are.
bool ReplaceFile(const QString& folder, const QString& fileName, const QByteArray& bytes,
                 QString* error, QStringList* replacedLinks = nullptr);
