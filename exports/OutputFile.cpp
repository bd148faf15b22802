#include "exports/OutputFile.h"

#include "exports/MapExport.h"
#include "job/DownloadJob.h"
#include "job/WriteError.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Syncs what the file holds to the disk, so that the rename never puts a file in place whose
// data is still only in the system's buffers.
bool SyncFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()))) != 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

// Puts the folder's entries on the disk, so that a rename into it survives a power cut. Where
// the file system cannot sync a folder, the file itself is on the disk all the same.
void SyncFolder(const QString& folder) {
#ifdef Q_OS_WIN
    Q_UNUSED(folder); // MOVEFILE_WRITE_THROUGH did it
#else
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

// Replaces `to` by `from` in one step.
bool RenameOver(const QString& from, const QString& to, QString* reason) {
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                    reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    *reason = QStringLiteral("no se puede poner en su sitio (error %1)").arg(GetLastError());
    return false;
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) {
        return true;
    }
    *reason = LocalWriteErrorFor(errno).reason;
    return false;
#endif
}

} // namespace

QString OutputFile::QtPath(const std::string& gdalPath) {
#ifdef Q_OS_WIN
    return QString::fromStdString(gdalPath);
#else
    return QFile::decodeName(QByteArray::fromStdString(gdalPath));
#endif
}

QString OutputFile::TemporaryName(const QString& fileName, const QString& tag) {
    const QFileInfo info(fileName);
    return u'.' + info.completeBaseName() + u'-' + tag + u'.' + info.suffix();
}

OutputFile::OutputFile(const QString& folder, const QString& fileName)
    : m_folder(folder), m_final(PathPrefix(folder) + fileName) {
    const QString tag = QString::number(QRandomGenerator::global()->generate64(), 36)
                            .left(8)
                            .rightJustified(8, u'0');
    m_temporary = PathPrefix(folder) + TemporaryName(fileName, tag);
#ifdef Q_OS_WIN
    m_temporaryGdal = m_temporary.toUtf8().toStdString();
#else
    m_temporaryGdal = QFile::encodeName(m_temporary).toStdString();
#endif
}

OutputFile::~OutputFile() {
    if (!m_committed) {
        removeTemporary();
    }
}

QString OutputFile::withOwnName(const QString& text) const {
    const QFileInfo temporary(m_temporary);
    const QFileInfo final(m_final);
    QString own = text;
    own.replace(m_temporary, m_final);
    own.replace(QDir::toNativeSeparators(m_temporary), QDir::toNativeSeparators(m_final));
    own.replace(temporary.fileName(), final.fileName());
    // Side files: ".Prueba-2oxrkxgs.partial_tiles.db" is GDAL's of Prueba.mbtiles.
    own.replace(temporary.completeBaseName(), final.completeBaseName());
    return own;
}

bool OutputFile::commit(QString* error) {
    QString reason;
    errno = 0;
    if (QFileInfo(m_final).isDir()) {
        reason = LocalWriteErrorFor(EISDIR).reason;
    } else if (!SyncFile(m_temporary)) {
        reason = errno != 0 ? LocalWriteErrorFor(errno).reason
                            : QStringLiteral("no se puede grabar en el disco");
    } else if (RenameOver(m_temporary, m_final, &reason)) {
        m_committed = true;
        SyncFolder(m_folder);
        return true;
    }
    removeTemporary();
    *error = reason;
    return false;
}

void OutputFile::removeTemporary() const {
    // GDAL may leave a journal or a file of overviews named after the file it was writing.
    const QString prefix = QFileInfo(m_temporary).fileName();
    QDir dir(m_folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (name.startsWith(prefix)) {
            dir.remove(name);
        }
    }
}

bool IsOutputTemporaryFile(const QString& name) {
    static const QRegularExpression pattern = [] {
        QStringList extensions;
        for (const ExportFormat format : kExportFormats) {
            extensions << QRegularExpression::escape(ExportFileName(format, QString()).mid(1));
        }
        // SQLite's journals, and the overviews GDAL's COG writer builds beside its file.
        const QString sideFiles = QStringLiteral(
            "-journal|-wal|-shm|\\.ovr|\\.ovr\\.tmp|\\.msk\\.ovr\\.tmp|\\.aux\\.xml");
        return QRegularExpression(QStringLiteral("^\\..+-[0-9a-z]{8}\\.(%1)(%2)?$")
                                      .arg(extensions.join(u'|'), sideFiles));
    }();
    return pattern.match(name).hasMatch();
}

QStringList RemoveOutputTemporaryFiles(const QString& folder) {
    QStringList removed;
    // Broken links are "system" entries to Qt; a folder under such a name is left alone.
    QDirIterator entries(folder, QDir::Files | QDir::System | QDir::Hidden);
    while (entries.hasNext()) {
        const QString name = entries.nextFileInfo().fileName();
        if (IsOutputTemporaryFile(name) && QDir(folder).remove(name)) {
            removed << name;
        }
    }
    return removed;
}
