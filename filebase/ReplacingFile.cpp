#include "filebase/ReplacingFile.h"

#include "job/WriteError.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What QSaveFile gives a new file: read and write for everyone, less the umask.
constexpr mode_t kNewFileMode = 0666;

QByteArray FreshName(const QByteArray& path) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    QByteArray name = path + '.';
    for (int i = 0; i < kFreshSuffixLength; ++i) {
        name += kDigits[QRandomGenerator::global()->bounded(36)];
    }
    return name;
}

// A file without a name in the folder, which goes with the program if it is killed before
// the commit; -1 with errno set when the system or the file system makes none. It is named
// through /proc at the commit (linkat's other way needs a privilege).
int CreateUnnamedFile(const QString& folder) {
#ifdef O_TMPFILE
    if (::access("/proc/self/fd", X_OK) == 0) {
        return ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                      kNewFileMode);
    }
#endif
    errno = EOPNOTSUPP;
    return -1;
}

// The errors of a system or a file system without unnamed files.
bool NoUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

} // namespace

int CreateFreshFile(const QByteArray& path, int access, mode_t mode, QByteArray* name) {
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        *name = FreshName(path);
        fd = ::open(name->constData(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    return fd;
}

ReplacingFile::ReplacingFile(QString path) : m_path(std::move(path)) {}

ReplacingFile::~ReplacingFile() {
    cancel();
}

bool ReplacingFile::fail(QString* error, const QString& reason) {
    cancel();
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

bool ReplacingFile::open(QString* error) {
    cancel();
    m_replacedLink = false;
    const QByteArray path = QFile::encodeName(m_path);
    struct stat there {};
    bool keepMode = false;
    if (::lstat(path.constData(), &there) == 0) {
        if (S_ISDIR(there.st_mode)) {
            return fail(error, LocalWriteErrorFor(EISDIR).reason);
        }
        if (S_ISREG(there.st_mode)) {
            // Made read-only by its owner: kept, also from a user (root) whom the system would
            // let write it.
            const bool noWriteBit = (there.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
            if (noWriteBit || (::access(path.constData(), W_OK) != 0 && errno == EACCES)) {
                return fail(error, QStringLiteral("el fichero que hay es de solo lectura"));
            }
            keepMode = true;
        }
    }
    int fd = CreateUnnamedFile(QFileInfo(m_path).path());
    if (fd < 0 && NoUnnamedFiles(errno)) {
        fd = CreateFreshFile(path, O_WRONLY, kNewFileMode, &m_temporary);
    }
    if (fd < 0) {
        const int e = errno;
        m_temporary.clear();
        return fail(error, LocalWriteErrorFor(e).reason);
    }
    if (keepMode) {
        ::fchmod(fd, there.st_mode & 07777); // as QSaveFile does; the file is written anyway
    }
    if (!m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(error, QStringLiteral("error al escribir el fichero"));
    }
    return true;
}

bool ReplacingFile::sync(QString* error) {
    if (!m_file.isOpen()) {
        return fail(error, QStringLiteral("el fichero no está abierto"));
    }
    // Flushed and checked here: the rename would put the file in place even when the data
    // still buffered could not be written.
    errno = 0;
    if (!m_file.flush()) {
        return fail(error, DeviceWriteError(m_file, errno).reason);
    }
    if (::fdatasync(m_file.handle()) != 0) {
        return fail(error, LocalWriteErrorFor(errno).reason);
    }
    m_synced = true;
    return true;
}

bool ReplacingFile::giveName(int* savedErrno) {
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_file.handle());
    const QByteArray path = QFile::encodeName(m_path);
    for (int tries = 0; tries < 100; ++tries) {
        const QByteArray name = FreshName(path);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) ==
            0) {
            m_temporary = name;
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    *savedErrno = errno;
    return false;
}

bool ReplacingFile::commit(QString* error) {
    if (!m_synced && !sync(error)) {
        return false;
    }
    const QByteArray path = QFile::encodeName(m_path);
    // Looked at again: what stands at the name may have changed while the file was written.
    struct stat there {};
    const bool present = ::lstat(path.constData(), &there) == 0;
    if (present && S_ISDIR(there.st_mode)) {
        return fail(error, LocalWriteErrorFor(EISDIR).reason);
    }
    int e = 0;
    if (m_temporary.isEmpty() && !giveName(&e)) {
        return fail(error, LocalWriteErrorFor(e).reason);
    }
    // rename() replaces a link itself, never what it names.
    if (::rename(m_temporary.constData(), path.constData()) != 0) {
        return fail(error, LocalWriteErrorFor(errno).reason);
    }
    m_temporary.clear(); // it is the file now
    m_file.close();
    m_synced = false;
    m_replacedLink = present && S_ISLNK(there.st_mode);
    return true;
}

void ReplacingFile::cancel() {
    if (m_file.isOpen()) {
        m_file.close(); // a file without a name goes with its descriptor
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(m_temporary.constData());
        m_temporary.clear();
    }
    m_synced = false;
}
