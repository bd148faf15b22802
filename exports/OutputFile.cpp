#include "exports/OutputFile.h"

#include "job/DownloadJob.h"
#include "job/WriteError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
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
