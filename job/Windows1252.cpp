#include "job/Windows1252.h"

#include <QList>

#include <array>

namespace {

// The code points of bytes 0x80..0x9F in Windows-1252; 0 where the byte is unassigned.
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

} // namespace

bool ToWindows1252Byte(char32_t c, char* byte) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        *byte = static_cast<char>(c);
        return true;
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] != 0 && kHighControls[i] == c) {
            *byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

QByteArray ToWindows1252(const QString& text) {
    const QList<uint> codePoints = text.toUcs4();
    QByteArray bytes;
    bytes.reserve(codePoints.size());
    for (const uint c : codePoints) {
        char byte = '?';
        ToWindows1252Byte(static_cast<char32_t>(c), &byte);
        bytes.append(byte);
    }
    return bytes;
}
