#include "run/FolderLock.h"

#include "job/DownloadJob.h"
#include "run/RunQuestions.h"

#include "job/WriteError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace {

std::filesystem::path FileSystemPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// Makes `folder` and the folders above it that are missing; false with the reason, in
// Spanish, when it cannot.
bool MakeFolder(const QString& folder, QString* reason) {
    if (folder.trimmed().isEmpty()) {
        *reason = QStringLiteral("no se ha indicado ninguna carpeta");
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(FileSystemPath(folder), error);
    if (!error && FolderExists(folder)) {
        return true;
    }
    // A file where the folder, or one above it, should be: the one the user must move.
    for (QString above = QDir::cleanPath(QDir(folder).absolutePath()); !above.isEmpty();) {
        const QFileInfo info(above);
        if (info.exists() || info.isSymLink()) {
            if (!info.isDir()) {
                *reason = QStringLiteral("«%1» es un fichero, no una carpeta")
                              .arg(QDir::toNativeSeparators(above));
                return false;
            }
            break;
        }
        const QString up = QFileInfo(above).path();
        above = up == above ? QString() : up;
    }
    *reason = LocalWriteErrorFor(error ? error.default_error_condition().value() : ENOTDIR).reason;
    return false;
}

} // namespace

FolderLock::FolderLock() = default;

FolderLock::~FolderLock() {
    unlock();
}

QString FolderLock::FileName() {
    // Hidden, and never a BMP name's file: such a name cannot start with a point.
    return QStringLiteral(".morvel.lock");
}

FolderLock::Result FolderLock::tryLock(const QString& folder) {
    unlock();
    m_message.clear();
    auto file = std::make_unique<QLockFile>(QDir(folder).filePath(FileName()));
    // A run lasts as long as it lasts: only a dead holder makes a lock stale, never its age.
    file->setStaleLockTime(0);
    if (file->tryLock(0)) {
        m_file = std::move(file);
        return Result::Held;
    }
    if (file->error() != QLockFile::LockFailedError) {
        return Result::Unavailable;
    }
    qint64 pid = 0;
    QString host;
    QString program;
    file->getLockInfo(&pid, &host, &program);
    m_message = QStringLiteral("Otra descarga está en curso en la carpeta %1")
                    .arg(QDir::toNativeSeparators(folder));
    if (pid > 0) {
        m_message += QStringLiteral(" (proceso %1").arg(pid);
        if (!host.isEmpty() && host != QSysInfo::machineHostName()) {
            m_message += QStringLiteral(" en %1").arg(host);
        }
        m_message += u')';
    }
    m_message += QStringLiteral(". Espere a que termine o elija otra carpeta");
    return Result::Busy;
}

void FolderLock::unlock() {
    if (m_file) {
        m_file->unlock();
        m_file.reset();
    }
}

FolderTaken TakeRunFolder(QString& folder, FolderLock& lock, RunQuestions& questions,
                          const std::function<bool()>& alive,
                          const std::function<void(const QString&)>& replaced) {
    if (!FolderExists(folder)) {
        const QString current = QDir::toNativeSeparators(QDir::currentPath());
        const RunQuestions::MissingFolder answer =
            questions.missingFolder(QDir::toNativeSeparators(folder), current);
        if (!alive()) {
            return FolderTaken::Aborted; // closed while the box was open
        }
        switch (answer) {
        case RunQuestions::MissingFolder::Create: {
            QString reason;
            if (!MakeFolder(folder, &reason)) {
                questions.error(QStringLiteral("No se ha podido crear la carpeta %1: %2")
                                    .arg(QDir::toNativeSeparators(folder), reason));
                return alive() ? FolderTaken::Cancelled : FolderTaken::Aborted;
            }
            break;
        }
        case RunQuestions::MissingFolder::UseCurrent:
            folder = current;
            replaced(folder);
            break;
        case RunQuestions::MissingFolder::Cancel:
            return FolderTaken::Cancelled;
        }
    }
    switch (lock.tryLock(folder)) {
    case FolderLock::Result::Held:
        return FolderTaken::Held;
    case FolderLock::Result::Busy:
        return FolderTaken::Busy;
    case FolderLock::Result::Unavailable:
        break;
    }
    return FolderTaken::Unlocked;
}
