#include "job/WriteError.h"

#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>

#ifndef Q_OS_WIN
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace {

// Below this a disk counts as full: a write that failed there was one more block than it
// had room for, whatever GDAL or SQLite made of it.
constexpr unsigned long long kNearlyFullBytes = 1024 * 1024;

} // namespace

LocalWriteError LocalWriteErrorFor(int error) {
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return {QStringLiteral("disco lleno"), true};
    case EACCES:
    case EPERM:
        return {QStringLiteral("sin permiso para escribir en la carpeta"), true};
    case EROFS:
        return {QStringLiteral("la carpeta es de solo lectura"), true};
    case ENOENT:
    case ENOTDIR:
        return {QStringLiteral("la carpeta no existe"), true};
    case EEXIST:
        return {QStringLiteral("el fichero temporal ya existe"), false};
    case ELOOP:
        return {QStringLiteral("el fichero es un enlace"), false};
    case EISDIR:
        return {QStringLiteral("ya existe una carpeta con ese nombre"), false};
    case EFBIG:
        return {QStringLiteral("el fichero es más grande de lo que admite el disco"), false};
    case ENAMETOOLONG:
        return {QStringLiteral("el nombre es demasiado largo"), false};
    case EIO:
        return {QStringLiteral("error de lectura o escritura del disco"), false};
    case EMFILE:
    case ENFILE:
        return {QStringLiteral("demasiados ficheros abiertos"), false};
    case EBUSY:
    case ETXTBSY:
        return {QStringLiteral("el fichero está en uso"), false};
    case ENOMEM:
        return {QStringLiteral("memoria insuficiente"), false};
    default:
        // The system's own text would follow the locale, English on most machines.
        return {QStringLiteral("error %1 del sistema").arg(error), false};
    }
}

LocalWriteError DeviceWriteError(const QIODevice& device, int savedErrno) {
    const auto* file = qobject_cast<const QFileDevice*>(&device);
    if (file && QFileInfo(file->fileName()).isDir()) {
        return LocalWriteErrorFor(EISDIR);
    }
    if (savedErrno != 0) {
        return LocalWriteErrorFor(savedErrno);
    }
    // Qt files a full disk under its own kind of error even where errno is gone.
    if (file && file->error() == QFileDevice::ResourceError) {
        return LocalWriteErrorFor(ENOSPC);
    }
    return {QStringLiteral("error al escribir el fichero"), false};
}

std::optional<LocalWriteError> FolderRefusal(const QString& folder) {
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return std::nullopt;
#else
    // As QFile encodes names for the system.
    const QByteArray path = folder.toLocal8Bit();
    struct statvfs disk {};
    const bool known = ::statvfs(path.constData(), &disk) == 0;
    if (known && (disk.f_flag & ST_RDONLY) != 0) {
        return LocalWriteErrorFor(EROFS);
    }
    // Also what permissions do not show: a folder made immutable refuses even root.
    if (::access(path.constData(), W_OK | X_OK) != 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS || error == ENOENT ||
            error == ENOTDIR) {
            return LocalWriteErrorFor(error);
        }
    }
    if (known) {
        // Root may use the blocks and entries the file system keeps back from other users.
        const bool root = ::geteuid() == 0;
        const unsigned long long blocks = root ? disk.f_bfree : disk.f_bavail;
        const unsigned long long entries = root ? disk.f_ffree : disk.f_favail;
        // Some file systems give no count of entries at all (f_files is 0).
        if (blocks * disk.f_frsize < kNearlyFullBytes || (disk.f_files > 0 && entries == 0)) {
            return LocalWriteErrorFor(ENOSPC);
        }
    }
    return std::nullopt;
#endif
}
