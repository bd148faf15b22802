#include "geo/CalibrationFile.h"

#include "filebase/ReplacingFile.h"
#include "job/DownloadJob.h"
#include "job/WriteError.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace {

bool Fail(QString* error, const QString& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

// An empty folder would otherwise become the root of the file system.
bool CheckFolder(const QString& folder, QString* error) {
    if (folder.isEmpty()) {
        return Fail(error, QStringLiteral("No se ha indicado la carpeta"));
    }
    if (!FolderExists(folder)) {
        return Fail(
            error, QStringLiteral("No existe la carpeta %1").arg(QDir::toNativeSeparators(folder)));
    }
    return true;
}

bool WriteWhole(const QString& fullName, const QByteArray& bytes, QString* error,
                QStringList* replacedLinks) {
    const QString shownName = QDir::toNativeSeparators(fullName);
    ReplacingFile file(fullName);
    QString reason;
    if (!file.open(&reason)) {
        return Fail(error, QStringLiteral("No se puede crear %1: %2").arg(shownName, reason));
    }
    errno = 0;
    if (file.device().write(bytes) != bytes.size()) {
        reason = DeviceWriteError(file.device(), errno).reason;
        return Fail(error, QStringLiteral("Error al escribir %1: %2").arg(shownName, reason));
    }
    if (!file.commit(&reason)) {
        return Fail(error, QStringLiteral("Error al escribir %1: %2").arg(shownName, reason));
    }
    if (file.replacedLink() && replacedLinks != nullptr) {
        *replacedLinks << QFileInfo(fullName).fileName();
    }
    return true;
}

} // namespace

bool SaveCalibrationFile(const QString& folder, const QString& fileName,
                         const OverwritePrompt& prompt, OverwriteQuestion& question,
                         const std::function<QByteArray()>& makeBytes, QString* error,
                         QStringList* replacedLinks) {
    if (!CheckFolder(folder, error)) {
        return false;
    }
    const QString fullName = PathPrefix(folder) + fileName;
    if (QFileInfo::exists(fullName) && !question.confirmOverwrite(prompt.caption, prompt.text)) {
        return Fail(error, QStringLiteral("No se ha confirmado la sobreescritura de %1")
                               .arg(QDir::toNativeSeparators(fullName)));
    }
    return WriteWhole(fullName, makeBytes(), error, replacedLinks);
}

bool ReplaceFile(const QString& folder, const QString& fileName, const QByteArray& bytes,
                 QString* error, QStringList* replacedLinks) {
    return CheckFolder(folder, error) &&
           WriteWhole(PathPrefix(folder) + fileName, bytes, error, replacedLinks);
}
