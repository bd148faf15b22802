#include "download/TileFiles.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFileMode = 0644;

// Writes everything, going on after interrupted or partial writes.
bool WriteAll(int fd, const char* data, qsizetype size, int* error) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = errno;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

LocalWriteError Failed(LocalWriteError* out, int error) {
    const LocalWriteError e = LocalWriteErrorFor(error);
    if (out) {
        *out = e;
    }
    return e;
}

} // namespace

void RemoveFile(const QString& path) {
    if (!path.isEmpty()) {
        ::unlink(QFile::encodeName(path).constData());
    }
}

AnswerFile::~AnswerFile() {
    close();
}

bool AnswerFile::create(LocalWriteError* error) {
    close();
    const QByteArray name = QFile::encodeName(m_path);
    ::unlink(name.constData());
    m_fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (m_fd < 0) {
        Failed(error, errno);
        return false;
    }
    return true;
}

bool AnswerFile::write(const QByteArray& data, LocalWriteError* error) {
    int e = 0;
    if (!WriteAll(m_fd, data.constData(), data.size(), &e)) {
        Failed(error, e);
        return false;
    }
    return true;
}

void AnswerFile::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void AnswerFile::discard() {
    close();
    RemoveFile(m_path);
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, LocalWriteError* error) {
    // A fresh name beside the file, as mkstemp makes one, but with the ordinary mode that
    // the user's umask trims (mkstemp's files are private to their owner).
    const QByteArray base = QFile::encodeName(path) + '.';
    QByteArray temp;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temp = base + QByteArray::number(QRandomGenerator::global()->generate64(), 36).right(8);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    kFileMode);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        Failed(error, errno);
        return false;
    }
    int e = 0;
    bool ok = WriteAll(fd, bytes.constData(), bytes.size(), &e);
    if (::close(fd) != 0 && ok) {
        e = errno;
        ok = false;
    }
    if (ok && ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        e = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.constData());
        Failed(error, e);
    }
    return ok;
}
