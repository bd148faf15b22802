#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <algorithm>
#include <cstdint>

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

namespace {

// Deflate's bits, first the least significant; Huffman codes go in from their first bit.
class DeflateBits {
public:
    void put(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            bit((value >> i) & 1U);
        }
    }
    void code(uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) {
            bit((value >> i) & 1U);
        }
    }
    QByteArray finish() {
        if (m_used > 0) {
            m_bytes.append(char(m_byte));
        }
        return m_bytes;
    }

private:
    void bit(uint32_t b) {
        m_byte |= b << m_used;
        if (++m_used == 8) {
            m_bytes.append(char(m_byte));
            m_byte = 0;
            m_used = 0;
        }
    }
    QByteArray m_bytes;
    uint32_t m_byte = 0;
    int m_used = 0;
};

constexpr qint64 kLongestCopy = 258;

// The CRC-32 of two pieces joined, from theirs (zlib's crc32_combine, over GF(2)).
uint32_t MatrixTimes(const uint32_t* matrix, uint32_t vector) {
    uint32_t sum = 0;
    for (; vector != 0; vector >>= 1, ++matrix) {
        if (vector & 1U) {
            sum ^= *matrix;
        }
    }
    return sum;
}
void MatrixSquare(uint32_t* square, const uint32_t* matrix) {
    for (int n = 0; n < 32; ++n) {
        square[n] = MatrixTimes(matrix, matrix[n]);
    }
}
uint32_t CrcJoined(uint32_t first, uint32_t second, uint64_t secondBytes) {
    if (secondBytes == 0) {
        return first;
    }
    uint32_t even[32];
    uint32_t odd[32];
    odd[0] = 0xedb88320U;
    for (int n = 1; n < 32; ++n) {
        odd[n] = 1U << (n - 1);
    }
    MatrixSquare(even, odd);
    MatrixSquare(odd, even);
    do {
        MatrixSquare(even, odd);
        if (secondBytes & 1U) {
            first = MatrixTimes(even, first);
        }
        secondBytes >>= 1;
        if (secondBytes == 0) {
            break;
        }
        MatrixSquare(odd, even);
        if (secondBytes & 1U) {
            first = MatrixTimes(odd, first);
        }
        secondBytes >>= 1;
    } while (secondBytes != 0);
    return first ^ second;
}

uint32_t CrcOfBlanks(uint64_t count) {
    uint32_t one = 0xffffffffU ^ uint32_t(' ');
    for (int k = 0; k < 8; ++k) {
        one = (one >> 1) ^ (0xedb88320U & (0U - (one & 1U)));
    }
    uint32_t block = ~one; // of 1, 2, 4 ... blanks
    uint64_t blockBytes = 1;
    uint32_t crc = 0;
    for (; count != 0; count >>= 1) {
        if (count & 1U) {
            crc = CrcJoined(crc, block, blockBytes);
        }
        block = CrcJoined(block, block, blockBytes);
        blockBytes *= 2;
    }
    return crc;
}

// One blank, then copies of the 258 bytes before, in a block whose codes give a copy two
// bits: the literal/length codes 285 (a 258-byte copy) "0", blank "10" and end "11", and
// the one distance code, 1 byte back, "0".
QByteArray BlankDeflate(qint64 copies) {
    DeflateBits bits;
    bits.put(1, 1);  // the last block
    bits.put(2, 2);  // of codes of its own
    bits.put(29, 5); // 286 literal/length codes
    bits.put(0, 5);  // 1 distance code
    bits.put(14, 4); // 18 code length codes, in their order 16, 17, 18, 0, 8, ..., 2, 14, 1
    const int codeLengthBits[18] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2};
    for (const int length : codeLengthBits) {
        bits.put(uint32_t(length), 3);
    }
    // With them 18 (a run of zeros, 11 + 7 bits) is "0", length 1 is "10" and 2 is "11".
    const auto zeros = [&bits](int run) {
        bits.code(0, 1);
        bits.put(uint32_t(run - 11), 7);
    };
    zeros(32);       // literals 0..31
    bits.code(3, 2); // the blank, 2 bits
    zeros(138);      // 33..255
    zeros(85);
    bits.code(3, 2); // end of block, 2 bits
    zeros(28);       // lengths 257..284
    bits.code(2, 2); // 285, 1 bit
    bits.code(2, 2); // distance 1, 1 bit
    bits.code(2, 2); // the blank
    for (qint64 i = 0; i < copies; ++i) {
        bits.put(0, 2); // 285 and distance 1
    }
    bits.code(3, 2); // end
    return bits.finish();
}

void PutLittle(QByteArray* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out->append(char((value >> (8 * i)) & 0xffU));
    }
}

} // namespace

qint64 BlankZipUnpackedBytes(qint64 unpackedBytes) {
    const qint64 copies =
        std::max<qint64>(0, (unpackedBytes - 1 + kLongestCopy - 1) / kLongestCopy);
    return 1 + copies * kLongestCopy;
}

QByteArray BlankZip(const QByteArray& name, qint64 unpackedBytes, bool zip64) {
    const qint64 size = BlankZipUnpackedBytes(unpackedBytes);
    const QByteArray data = BlankDeflate((size - 1) / kLongestCopy);
    const uint32_t crc = CrcOfBlanks(uint64_t(size));
    constexpr uint32_t kFull = 0xffffffffU;
    const auto common = [&](QByteArray* out) {
        PutLittle(out, zip64 ? 45 : 20, 2); // version needed
        PutLittle(out, 0, 2);               // flags
        PutLittle(out, 8, 2);               // deflated
        PutLittle(out, 0, 2);               // time
        PutLittle(out, 0x21, 2);            // 1 January 1980
        PutLittle(out, crc, 4);
        PutLittle(out, zip64 ? kFull : uint64_t(data.size()), 4);
        PutLittle(out, zip64 ? kFull : uint64_t(size), 4);
        PutLittle(out, uint64_t(name.size()), 2);
        PutLittle(out, zip64 ? 20 : 0, 2); // extra
    };
    // The sizes in the ZIP64 extra field: unpacked, then packed.
    const auto extra = [&](QByteArray* out) {
        if (zip64) {
            PutLittle(out, 1, 2);
            PutLittle(out, 16, 2);
            PutLittle(out, uint64_t(size), 8);
            PutLittle(out, uint64_t(data.size()), 8);
        }
    };
    QByteArray zip;
    PutLittle(&zip, 0x04034b50, 4);
    common(&zip);
    zip += name;
    extra(&zip);
    zip += data;
    const qint64 directoryAt = zip.size();
    PutLittle(&zip, 0x02014b50, 4);
    PutLittle(&zip, zip64 ? 45 : 20, 2); // made by
    common(&zip);
    PutLittle(&zip, 0, 2); // comment
    PutLittle(&zip, 0, 2); // disk
    PutLittle(&zip, 0, 2); // internal attributes
    PutLittle(&zip, 0, 4); // external attributes
    PutLittle(&zip, 0, 4); // the member's offset
    zip += name;
    extra(&zip);
    const qint64 directoryBytes = zip.size() - directoryAt;
    if (zip64) {
        const qint64 recordAt = zip.size();
        PutLittle(&zip, 0x06064b50, 4);
        PutLittle(&zip, 44, 8); // the record's size after this field
        PutLittle(&zip, 45, 2);
        PutLittle(&zip, 45, 2);
        PutLittle(&zip, 0, 4);
        PutLittle(&zip, 0, 4);
        PutLittle(&zip, 1, 8);
        PutLittle(&zip, 1, 8);
        PutLittle(&zip, uint64_t(directoryBytes), 8);
        PutLittle(&zip, uint64_t(directoryAt), 8);
        PutLittle(&zip, 0x07064b50, 4); // where the record is
        PutLittle(&zip, 0, 4);
        PutLittle(&zip, uint64_t(recordAt), 8);
        PutLittle(&zip, 1, 4);
    }
    PutLittle(&zip, 0x06054b50, 4);
    PutLittle(&zip, 0, 4); // disks
    PutLittle(&zip, zip64 ? 0xffff : 1, 2);
    PutLittle(&zip, zip64 ? 0xffff : 1, 2);
    PutLittle(&zip, zip64 ? kFull : uint64_t(directoryBytes), 4);
    PutLittle(&zip, zip64 ? kFull : uint64_t(directoryAt), 4);
    PutLittle(&zip, 0, 2); // comment
    return zip;
}
