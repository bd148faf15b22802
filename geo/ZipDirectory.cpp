#include "geo/ZipDirectory.h"

#include <QByteArray>
#include <QIODevice>

#include <algorithm>

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kMemberSignature = 0x02014b50;
constexpr int kEndBytes = 22;
constexpr int kZip64LocatorBytes = 20;
constexpr int kZip64EndBytes = 56;
constexpr int kMemberBytes = 46;
constexpr int kLongestComment = 0xffff;
constexpr uint16_t kZip64Extra = 0x0001;
constexpr uint16_t kUtf8NameFlag = 0x0800;
// A field this full says that the ZIP64 fields hold the value.
constexpr uint32_t kFull32 = 0xffffffff;
constexpr uint16_t kFull16 = 0xffff;

// Little-endian fields of a piece of the file, every read checked against its end.
class Fields {
public:
    explicit Fields(const QByteArray& bytes) : m_bytes(bytes) {}
    bool has(qint64 at, qint64 count) const {
        return at >= 0 && count >= 0 && at + count <= m_bytes.size();
    }
    uint64_t read(qint64 at, int count) const {
        uint64_t value = 0;
        for (int i = count - 1; i >= 0; --i) {
            value = (value << 8) | static_cast<unsigned char>(m_bytes[at + i]);
        }
        return value;
    }
    uint16_t u16(qint64 at) const { return static_cast<uint16_t>(read(at, 2)); }
    uint32_t u32(qint64 at) const { return static_cast<uint32_t>(read(at, 4)); }
    uint64_t u64(qint64 at) const { return read(at, 8); }

private:
    const QByteArray& m_bytes;
};

QByteArray ReadAt(QIODevice& file, qint64 at, qint64 count) {
    if (!file.seek(at)) {
        return {};
    }
    return file.read(count);
}

ZipDirectory Damaged() {
    ZipDirectory d;
    d.found = true;
    d.error = QStringLiteral("el KMZ está dañado");
    return d;
}

// A member's sizes given in its ZIP64 extra field, in the order the zip lays them down.
bool Zip64Sizes(const Fields& f, qint64 extra, int length, ZipMember* member, bool unpacked,
                bool packed) {
    for (qint64 at = extra; f.has(at, 4) && at + 4 <= extra + length;) {
        const uint16_t id = f.u16(at);
        const uint16_t size = f.u16(at + 2);
        if (id == kZip64Extra) {
            qint64 field = at + 4;
            if (unpacked) {
                if (size < 8 || !f.has(field, 8)) {
                    return false;
                }
                member->unpackedBytes = f.u64(field);
                field += 8;
            }
            if (packed) {
                if (size < field - at - 4 + 8 || !f.has(field, 8)) {
                    return false;
                }
                member->packedBytes = f.u64(field);
            }
            return true;
        }
        at += 4 + size;
    }
    return false;
}

} // namespace

ZipDirectory ReadZipDirectory(QIODevice& file, int maxMembers) {
    const qint64 size = file.size();
    if (size < kEndBytes) {
        return {};
    }
    // The end record is the last thing in the file, followed only by its comment; the
    // nearest to the end is the one readers take.
    const qint64 tailStart = std::max<qint64>(0, size - kEndBytes - kLongestComment);
    const QByteArray tail = ReadAt(file, tailStart, size - tailStart);
    const Fields t(tail);
    qint64 end = -1;
    for (qint64 at = tail.size() - kEndBytes; at >= 0; --at) {
        if (t.u32(at) == kEndSignature) {
            end = at;
            break;
        }
    }
    if (end < 0) {
        return {};
    }
    uint64_t count = t.u16(end + 10);
    uint64_t directoryBytes = t.u32(end + 12);
    uint64_t directoryAt = t.u32(end + 16);
    if (count == kFull16 || directoryBytes == kFull32 || directoryAt == kFull32) {
        // ZIP64: a locator just before the end record points at a larger end record.
        const qint64 locatorAt = tailStart + end - kZip64LocatorBytes;
        const QByteArray locator = ReadAt(file, locatorAt, kZip64LocatorBytes);
        const Fields l(locator);
        if (locatorAt < 0 || !l.has(0, kZip64LocatorBytes) || l.u32(0) != kZip64LocatorSignature) {
            return Damaged();
        }
        const uint64_t recordAt = l.u64(8);
        if (recordAt > uint64_t(size)) {
            return Damaged();
        }
        const QByteArray record = ReadAt(file, qint64(recordAt), kZip64EndBytes);
        const Fields r(record);
        if (!r.has(0, kZip64EndBytes) || r.u32(0) != kZip64EndSignature) {
            return Damaged();
        }
        count = r.u64(32);
        directoryBytes = r.u64(40);
        directoryAt = r.u64(48);
    }
    if (count > uint64_t(maxMembers)) {
        ZipDirectory d;
        d.found = true;
        d.error = QStringLiteral("el KMZ tiene más de %1 ficheros").arg(maxMembers);
        return d;
    }
    if (directoryAt > uint64_t(size) || directoryBytes > uint64_t(size) - directoryAt) {
        return Damaged();
    }
    const QByteArray directory = ReadAt(file, qint64(directoryAt), qint64(directoryBytes));
    const Fields d(directory);
    ZipDirectory out;
    out.found = true;
    qint64 at = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (!d.has(at, kMemberBytes) || d.u32(at) != kMemberSignature) {
            return Damaged();
        }
        const uint16_t flags = d.u16(at + 8);
        const int nameLength = d.u16(at + 28);
        const int extraLength = d.u16(at + 30);
        const int commentLength = d.u16(at + 32);
        const qint64 name = at + kMemberBytes;
        const qint64 extra = name + nameLength;
        if (!d.has(name, nameLength + extraLength + commentLength)) {
            return Damaged();
        }
        ZipMember member;
        const QByteArray rawName = directory.mid(name, nameLength);
        member.name = (flags & kUtf8NameFlag) != 0 ? QString::fromUtf8(rawName)
                                                   : QString::fromLatin1(rawName);
        member.packedBytes = d.u32(at + 20);
        member.unpackedBytes = d.u32(at + 24);
        const bool unpacked64 = member.unpackedBytes == kFull32;
        const bool packed64 = member.packedBytes == kFull32;
        if ((unpacked64 || packed64) &&
            !Zip64Sizes(d, extra, extraLength, &member, unpacked64, packed64)) {
            return Damaged();
        }
        out.members.push_back(std::move(member));
        at = extra + extraLength + commentLength;
    }
    return out;
}
