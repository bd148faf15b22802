#include "exports/TilePyramid.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kHalf = TilePyramid::kTile / 2;

size_t RowBytes(int columns) {
    return 4u * TilePyramid::kTile * static_cast<size_t>(columns);
}

} // namespace

TilePyramid::TilePyramid(int columns, TileIndex origin, int levels, Sink sink)
    : m_topColumns(columns), m_topRow(origin.row), m_sink(std::move(sink)) {
    TileIndex above = origin;
    int aboveColumns = columns;
    for (int i = 0; i < levels; ++i) {
        Level level;
        level.first = {above.column >> 1, above.row >> 1};
        level.offsetX = kHalf * (above.column & 1);
        level.columns = (level.offsetX + kHalf * aboveColumns + kTile - 1) / kTile;
        level.pixels.assign(RowBytes(level.columns) * kTile, 0);
        above = level.first;
        aboveColumns = level.columns;
        m_levels.push_back(std::move(level));
    }
}

void TilePyramid::Halve(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d,
                        uint8_t* out) {
    const int alpha = a[3] + b[3] + c[3] + d[3];
    if (alpha == 4 * 255) {
        for (int k = 0; k < 3; ++k) {
            out[k] = static_cast<uint8_t>((a[k] + b[k] + c[k] + d[k] + 2) / 4);
        }
        out[3] = 255;
        return;
    }
    // Less than half a level of cover rounds to nothing.
    if (alpha < 2) {
        std::memset(out, 0, 4);
        return;
    }
    for (int k = 0; k < 3; ++k) {
        const int sum = a[k] * a[3] + b[k] * b[3] + c[k] * c[3] + d[k] * d[3];
        out[k] = static_cast<uint8_t>((sum + alpha / 2) / alpha);
    }
    out[3] = static_cast<uint8_t>((alpha + 2) / 4);
}

bool TilePyramid::add(const uint8_t* pixels) {
    const int row = m_topRow++;
    return m_levels.empty() || addRow(0, row, pixels);
}

bool TilePyramid::addRow(size_t index, int row, const uint8_t* pixels) {
    Level& level = m_levels[index];
    const int aboveColumns = index == 0 ? m_topColumns : m_levels[index - 1].columns;
    const int target = row >> 1;
    if (level.row != target) {
        if (!flush(index)) {
            return false;
        }
        level.row = target;
    }
    const size_t aboveRowBytes = 4u * kTile * static_cast<size_t>(aboveColumns);
    const size_t rowBytes = RowBytes(level.columns);
    const int halfWidth = kHalf * aboveColumns;
    uint8_t* out = level.pixels.data() + static_cast<size_t>(kHalf * (row & 1)) * rowBytes +
                   4u * static_cast<size_t>(level.offsetX);
    for (int y = 0; y < kHalf; ++y, out += rowBytes) {
        const uint8_t* upper = pixels + static_cast<size_t>(2 * y) * aboveRowBytes;
        const uint8_t* lower = upper + aboveRowBytes;
        for (int x = 0; x < halfWidth; ++x) {
            Halve(upper + 8 * x, upper + 8 * x + 4, lower + 8 * x, lower + 8 * x + 4, out + 4 * x);
        }
    }
    level.filled = true;
    // The second half of the level's row of tiles completes it.
    return (row & 1) == 0 || flush(index);
}

bool TilePyramid::flush(size_t index) {
    Level& level = m_levels[index];
    if (!level.filled) {
        return true;
    }
    level.filled = false;
    const int row = level.row;
    if (!m_sink(static_cast<int>(index) + 1, {level.first.column, row}, level.columns,
                level.pixels.data()) ||
        (index + 1 < m_levels.size() && !addRow(index + 1, row, level.pixels.data()))) {
        return false;
    }
    std::fill(level.pixels.begin(), level.pixels.end(), uint8_t{0});
    return true;
}

bool TilePyramid::finish() {
    for (size_t index = 0; index < m_levels.size(); ++index) {
        if (!flush(index)) {
            return false;
        }
    }
    return true;
}
