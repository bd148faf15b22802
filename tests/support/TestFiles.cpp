#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

bool g_privateMounts = false;

} // namespace

bool PrivateMounts() {
    // Mounts made from now on stay in this process's view and are not passed back.
    g_privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                      ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return g_privateMounts;
}

ScratchDisk::ScratchDisk(qint64 bytes) {
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    active_ = g_privateMounts && dir_.isValid() &&
              ::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0,
                      options.constData()) == 0;
}

ScratchDisk::~ScratchDisk() {
    if (active_) {
        // Lazily: a program the test started may still hold a file there.
        ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
}

bool ScratchDisk::fill(qint64 freeBytes) const {
    QFile filler(dir_.filePath(QStringLiteral("relleno.bin")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        return false;
    }
    const auto left = [this] {
        struct statvfs disk {};
        return ::statvfs(QFile::encodeName(dir_.path()).constData(), &disk) == 0
                   ? static_cast<qint64>(disk.f_bfree * disk.f_frsize)
                   : qint64(-1);
    };
    const QByteArray block(4096, 'x');
    for (qint64 now = left(); now > freeBytes; now = left()) {
        if (filler.write(block.constData(), std::min<qint64>(block.size(), now - freeBytes)) <= 0) {
            return left() <= freeBytes + block.size(); // full to the last page
        }
    }
    return left() >= 0;
}

bool ScratchDisk::makeReadOnly() const {
    return ::mount(nullptr, QFile::encodeName(dir_.path()).constData(), nullptr,
                   MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

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
