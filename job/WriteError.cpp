#include "job/WriteError.h"

#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>

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
