#include "run/FolderLock.h"

#include "job/DownloadJob.h"
#include "run/RunQuestions.h"

#include <QDir>
#include <QLockFile>
#include <QSysInfo>

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
        questions.notice(QStringLiteral("Carpeta destino"),
                         QStringLiteral("La carpeta destino no existe. Los ficheros se grabarán "
                                        "en la carpeta actual"));
        if (!alive()) {
            return FolderTaken::Aborted; // closed while the box was open
        }
        folder = QDir::toNativeSeparators(QDir::currentPath());
        replaced(folder);
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
