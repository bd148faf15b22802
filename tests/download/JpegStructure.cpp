#include "tests/download/JpegStructure.h"

namespace {

int Byte(const QByteArray& d, qsizetype i) {
    return static_cast<uchar>(d.at(i));
}
int Word(const QByteArray& d, qsizetype i) {
    return (Byte(d, i) << 8) | Byte(d, i + 1);
}

// ITU-T T.81 Table K.1, in natural (row by row) order.
constexpr std::array<int, 64> kLuminance{
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
// ITU-T T.81 Table K.2, in natural order.
constexpr std::array<int, 64> kChrominance{
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Position in natural order of the k-th coefficient in zig-zag order (T.81 Figure A.6).
constexpr std::array<int, 64> kZigZag{
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

} // namespace

JpegStructure ReadJpegStructure(const QByteArray& d) {
    JpegStructure s;
    if (d.size() < 4 || Byte(d, 0) != 0xFF || Byte(d, 1) != 0xD8) {
        return s;
    }
    qsizetype pos = 2;
    while (pos + 4 <= d.size()) {
        if (Byte(d, pos) != 0xFF) {
            return s;
        }
        const int marker = Byte(d, pos + 1);
        const int length = Word(d, pos + 2);
        const qsizetype body = pos + 4;
        if (length < 2 || pos + 2 + length > d.size()) {
            return s;
        }
        if (marker == 0xDA) { // start of scan: the header part ends here
            s.valid = s.frameCount > 0;
            return s;
        }
        if (marker == 0xDB) {
            qsizetype q = body;
            while (q < pos + 2 + length) {
                const int precision = Byte(d, q) >> 4;
                const int id = Byte(d, q) & 0x0F;
                ++q;
                std::array<int, 64> table{};
                for (int& v : table) {
                    v = precision ? Word(d, q) : Byte(d, q);
                    q += precision ? 2 : 1;
                }
                s.quantTables.insert(id, table);
            }
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            ++s.frameCount;
            s.frameMarker = marker;
            s.precision = Byte(d, body);
            s.height = Word(d, body + 1);
            s.width = Word(d, body + 3);
            s.components = Byte(d, body + 5);
        }
        pos += 2 + length;
    }
    return s;
}

std::array<int, 64> ExpectedQuantTable(int quality, bool chroma) {
    // The IJG scaling of the example tables: percentage 5000 / q below 50, 200 - 2q above.
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    const std::array<int, 64>& basic = chroma ? kChrominance : kLuminance;
    std::array<int, 64> zigzag{};
    for (int k = 0; k < 64; ++k) {
        const int v = (basic[kZigZag[k]] * scale + 50) / 100;
        zigzag[k] = qBound(1, v, 255);
    }
    return zigzag;
}
