#include "download/TileFiles.h"

#include "filebase/ReplacingFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <algorithm>
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

TileStamp TileStamp::Of(const QByteArray& bytes) {
    return {bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)};
}

AnswerFile::~AnswerFile() {
    close();
}

bool AnswerFile::create(LocalWriteError* error) {
    close();
    QByteArray name;
    // Read and write: the answer is read back through this very descriptor.
    m_fd = CreateFreshFile(QFile::encodeName(m_tile), O_RDWR, kFileMode, &name);
    if (m_fd < 0) {
        m_path.clear();
        Failed(error, errno);
        return false;
    }
    m_path = QFile::decodeName(name);
    return true;
}

int AnswerFile::release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
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
    m_path.clear();
}

bool IsTemporaryFileOf(const QString& name, const QString& fileName) {
    if (name == fileName + u'1') {
        return true;
    }
    if (name.size() != fileName.size() + 1 + kFreshSuffixLength || !name.startsWith(fileName) ||
        name.at(fileName.size()) != u'.') {
        return false;
    }
    for (qsizetype i = fileName.size() + 1; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (!(c >= u'0' && c <= u'9') && !(c >= u'a' && c <= u'z')) {
            return false;
        }
    }
    return true;
}

QStringList RemoveTemporaryFiles(const QString& folder, const QStringList& fileNames) {
    QStringList removed;
    // Broken links are "system" entries to Qt; a folder under such a name is left alone.
    QDirIterator entries(folder, QDir::Files | QDir::System | QDir::Hidden);
    while (entries.hasNext()) {
        const QString name = entries.nextFileInfo().fileName();
        const bool ours = std::any_of(fileNames.cbegin(), fileNames.cend(),
                                      [&](const QString& f) { return IsTemporaryFileOf(name, f); });
        if (ours) {
            RemoveFile(QDir(folder).filePath(name));
            removed << name;
        }
    }
    return removed;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, LocalWriteError* error) {
    QByteArray temp;
    const int fd = CreateFreshFile(QFile::encodeName(path), O_WRONLY, kFileMode, &temp);
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
