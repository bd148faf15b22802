#include "job/BoundedRead.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

BoundedRead Refused(ReadRefusal refusal, int error = 0) {
    BoundedRead r;
    r.refusal = refusal;
    r.error = error;
    return r;
}

QString RefusalReason(ReadRefusal refusal, int error) {
    switch (refusal) {
    case ReadRefusal::None:
        return {};
    case ReadRefusal::Missing:
        return QStringLiteral("el fichero no existe");
    case ReadRefusal::Link:
        return QStringLiteral("el fichero es un enlace");
    case ReadRefusal::NotRegular:
        return QStringLiteral("no es un fichero normal");
    case ReadRefusal::TooLarge:
        return QStringLiteral("el fichero es demasiado grande");
    case ReadRefusal::Unreadable:
        break;
    }
    // The system's own text would follow the locale, English on most machines.
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("sin permiso para leerlo");
    case EIO:
        return QStringLiteral("error de lectura del disco");
    default:
        return QStringLiteral("no se pudo leer el fichero (error %1 del sistema)").arg(error);
    }
}

// Opens `path` for reading as the callers below do; -1 with the refusal otherwise.
int OpenForReading(const QString& path, LinkPolicy links, BoundedRead* refused) {
    // Without O_NONBLOCK, opening a pipe waits for a writer that may never come.
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (links == LinkPolicy::Refuse) {
        flags |= O_NOFOLLOW;
    }
    // The file name's bytes as the file system has them (what QFile::encodeName gives).
    const int fd = ::open(path.toLocal8Bit().constData(), flags);
    if (fd < 0) {
        const int e = errno;
        // O_NOFOLLOW says ELOOP for a link at the name.
        *refused = e == ENOENT
                       ? Refused(ReadRefusal::Missing)
                       : Refused(e == ELOOP ? ReadRefusal::Link : ReadRefusal::Unreadable, e);
    }
    return fd;
}

// What refuses the open file before a byte of it is read: no fstat(), not a plain file, or
// larger than allowed. Nothing refused otherwise, and `size` is its size.
BoundedRead LookAtOpenFile(int fd, qint64 maxBytes, qint64* size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return Refused(ReadRefusal::Unreadable, errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return Refused(ReadRefusal::NotRegular);
    }
    if (st.st_size > maxBytes) {
        return Refused(ReadRefusal::TooLarge);
    }
    *size = st.st_size;
    return {};
}

} // namespace

QString BoundedRead::reason() const {
    return RefusalReason(refusal, error);
}

QString BoundedDigest::reason() const {
    return RefusalReason(refusal, error);
}

BoundedRead ReadBoundedFile(const QString& path, qint64 maxBytes, LinkPolicy links) {
    BoundedRead refused;
    const int fd = OpenForReading(path, links, &refused);
    if (fd < 0) {
        return refused;
    }
    BoundedRead r = ReadOpenFile(fd, maxBytes);
    ::close(fd);
    return r;
}

BoundedRead ReadOpenFile(int fd, qint64 maxBytes) {
    qint64 size = 0;
    BoundedRead r = LookAtOpenFile(fd, maxBytes, &size);
    if (!r.ok()) {
        return r;
    }
    // One byte more than allowed tells a file that grew since fstat().
    r.bytes.resize(static_cast<qsizetype>(size) + 1);
    qsizetype have = 0;
    while (have < r.bytes.size()) {
        const ssize_t n =
            ::pread(fd, r.bytes.data() + have, static_cast<size_t>(r.bytes.size() - have), have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Refused(ReadRefusal::Unreadable, errno);
        }
        if (n == 0) {
            break;
        }
        have += n;
        if (have > maxBytes) {
            return Refused(ReadRefusal::TooLarge);
        }
        if (have == r.bytes.size()) {
            r.bytes.resize(std::min<qint64>(r.bytes.size() * 2, maxBytes + 1));
        }
    }
    r.bytes.truncate(have);
    return r;
}

BoundedDigest DigestBoundedFile(const QString& path, qint64 maxBytes) {
    BoundedDigest d;
    const auto refuse = [&d](ReadRefusal refusal, int error = 0) {
        d.refusal = refusal;
        d.error = error;
        return d;
    };
    BoundedRead refused;
    const int fd = OpenForReading(path, LinkPolicy::Refuse, &refused);
    if (fd < 0) {
        return refuse(refused.refusal, refused.error);
    }
    qint64 size = 0;
    const BoundedRead looked = LookAtOpenFile(fd, maxBytes, &size);
    if (!looked.ok()) {
        ::close(fd);
        return refuse(looked.refusal, looked.error);
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray slice(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::pread(fd, slice.data(), static_cast<size_t>(slice.size()), d.size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return refuse(ReadRefusal::Unreadable, e);
        }
        if (n == 0) {
            break;
        }
        d.size += n;
        if (d.size > maxBytes) { // it grew since fstat()
            ::close(fd);
            return refuse(ReadRefusal::TooLarge);
        }
        hash.addData(QByteArrayView(slice.constData(), n));
    }
    ::close(fd);
    d.sha256 = hash.result();
    return d;
}
