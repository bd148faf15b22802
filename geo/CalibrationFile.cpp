#include "geo/CalibrationFile.h"

#include "job/DownloadJob.h"
#include "job/WriteError.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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

bool WriteWhole(const QString& fullName, const QByteArray& bytes, QString* error) {
    const QString shownName = QDir::toNativeSeparators(fullName);
    QSaveFile file(fullName);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        return Fail(error, QStringLiteral("No se puede crear %1: %2")
                               .arg(shownName, DeviceWriteError(file, errno).reason));
    }
    // Flushed here and checked: commit() would rename the temporary file into place
    // even when the data still buffered could not be written.
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = DeviceWriteError(file, errno).reason;
        file.cancelWriting();
        return Fail(error, QStringLiteral("Error al escribir %1: %2").arg(shownName, reason));
    }
    errno = 0;
    if (!file.commit()) {
        return Fail(error, QStringLiteral("Error al escribir %1: %2")
                               .arg(shownName, DeviceWriteError(file, errno).reason));
    }
    return true;
}

} // namespace

bool SaveCalibrationFile(const QString& folder, const QString& fileName,
                         const OverwritePrompt& prompt, OverwriteQuestion& question,
                         const std::function<QByteArray()>& makeBytes, QString* error) {
    if (!CheckFolder(folder, error)) {
        return false;
    }
    const QString fullName = PathPrefix(folder) + fileName;
    if (QFileInfo::exists(fullName) && !question.confirmOverwrite(prompt.caption, prompt.text)) {
        return Fail(error, QStringLiteral("No se ha confirmado la sobreescritura de %1")
                               .arg(QDir::toNativeSeparators(fullName)));
    }
    return WriteWhole(fullName, makeBytes(), error);
}

bool ReplaceFile(const QString& folder, const QString& fileName, const QByteArray& bytes,
                 QString* error) {
    return CheckFolder(folder, error) && WriteWhole(PathPrefix(folder) + fileName, bytes, error);
}
