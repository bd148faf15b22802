#include "job/FileNames.h"

#include "job/Windows1252.h"

#include <QList>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

const QString kForbidden = QStringLiteral("\\/:*?\"<>|");

QString Quoted(const QString& what) {
    return QStringLiteral("«") + what + QStringLiteral("»");
}

} // namespace

std::optional<QString> BmpNameProblem(const QString& name) {
    if (name.trimmed().isEmpty()) {
        return QStringLiteral("Introduzca el nombre del fichero BMP");
    }
    for (const char32_t c : name.toUcs4()) {
        const QString shown = QString::fromUcs4(&c, 1);
        if (c < 0x20 || c == 0x7F) {
            return QStringLiteral("El nombre del fichero BMP no puede contener caracteres de "
                                  "control");
        }
        if (kForbidden.contains(shown)) {
            return QStringLiteral("El nombre del fichero BMP no puede contener %1")
                .arg(Quoted(shown));
        }
        char byte = 0;
        if (!ToWindows1252Byte(c, &byte)) {
            return QStringLiteral("El nombre del fichero BMP no puede contener %1, que no cabe "
                                  "en los ficheros de calibración")
                .arg(Quoted(shown));
        }
    }
    if (name.startsWith(u'.')) {
        return QStringLiteral("El nombre del fichero BMP no puede empezar por un punto");
    }
    if (name.endsWith(u'.') || name.endsWith(u' ')) {
        return QStringLiteral("El nombre del fichero BMP no puede acabar en un punto ni en un "
                              "espacio");
    }
    return std::nullopt;
}

NameLimits FolderNameLimits(const QString& folder) {
    NameLimits limits;
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    limits.path = 259; // MAX_PATH with its null
#else
    // As QFile encodes names for the system.
    const QByteArray path = folder.toLocal8Bit();
    const long name = ::pathconf(path.constData(), _PC_NAME_MAX);
    const long whole = ::pathconf(path.constData(), _PC_PATH_MAX);
    // -1 where the system sets no limit of its own: the usual ones hold then.
    if (name > 0) {
        limits.name = name;
    }
    if (whole > 0) {
        limits.path = whole - 1;
    }
#endif
    return limits;
}
