#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

CurrentDirScope::CurrentDirScope() : previous_(QDir::currentPath()) {
    QDir::setCurrent(dir_.path());
}

CurrentDirScope::~CurrentDirScope() {
    QDir::setCurrent(previous_);
}

ReadOnlyFolder::ReadOnlyFolder(QString path) : path_(std::move(path)) {
    QFile::setPermissions(path_, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                     QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    if (!refusesNewFiles()) {
        immutable_ = setImmutable(true);
    }
    active_ = refusesNewFiles();
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (immutable_) {
        setImmutable(false);
    }
    QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool ReadOnlyFolder::refusesNewFiles() const {
    QFile probe(QDir(path_).filePath(QStringLiteral("probe.tmp")));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.close();
        probe.remove();
        return false;
    }
    return true;
}

bool ReadOnlyFolder::setImmutable(bool on) const {
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
    }
}

std::map<QString, QByteArray> FolderSnapshot(const QString& folder) {
    std::map<QString, QByteArray> out;
    for (const QFileInfo& f : QDir(folder).entryInfoList(
             QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name)) {
        out[f.fileName()] =
            f.isSymLink() ? "-> " + f.symLinkTarget().toUtf8() : ReadAll(f.filePath());
    }
    return out;
}
