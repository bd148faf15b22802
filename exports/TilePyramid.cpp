#include "exports/TilePyramid.h"

#include <algorithm>
#include <cstring>

TilePyramid::TilePyramid(std::vector<Level> levels, int tileRows, Sink sink)
    : m_tileRows(tileRows), m_sink(std::move(sink)) {
    for (const Level& level : levels) {
        State state;
        state.level = level;
        state.stripe.reserve(3u * static_cast<size_t>(level.width) * static_cast<size_t>(tileRows));
        state.pending.resize(3u * static_cast<size_t>(level.width));
        m_levels.push_back(std::move(state));
    }
}

bool TilePyramid::Halves(const std::vector<Level>& levels) {
    for (size_t i = 0; i < levels.size(); ++i) {
        const Level& l = levels[i];
        if (l.width <= 0 || l.height <= 0 || l.firstStripeRows <= 0) {
            return false;
        }
        if (i > 0 && (l.width != (levels[i - 1].width + 1) / 2 ||
                      l.height != (levels[i - 1].height + 1) / 2)) {
            return false;
        }
    }
    return !levels.empty();
}

bool TilePyramid::add(const uint8_t* pixels, int rows) {
    const size_t rowBytes = 3u * static_cast<size_t>(m_levels.front().level.width);
    for (int r = 0; r < rows; ++r) {
        if (!addRow(0, pixels + static_cast<size_t>(r) * rowBytes)) {
            return false;
        }
    }
    return true;
}

bool TilePyramid::addRow(size_t index, const uint8_t* row) {
    State& s = m_levels[index];
    const size_t rowBytes = 3u * static_cast<size_t>(s.level.width);
    if (s.sent + s.stripeRows >= s.level.height) {
        return true; // a level of odd height gets its last row twice from above; once is enough
    }
    s.stripe.insert(s.stripe.end(), row, row + rowBytes);
    ++s.stripeRows;
    const int stripeEnd = s.sent == 0 ? s.level.firstStripeRows : m_tileRows;
    if ((s.stripeRows == stripeEnd || s.sent + s.stripeRows == s.level.height) && !flush(index)) {
        return false;
    }
    if (index + 1 == m_levels.size()) {
        return true;
    }
    if (!s.hasPending) {
        std::memcpy(s.pending.data(), row, rowBytes);
        s.hasPending = true;
        return true;
    }
    s.hasPending = false;
    std::vector<uint8_t> half(3u * static_cast<size_t>(m_levels[index + 1].level.width));
    halve(index, s.pending.data(), row, half.data());
    return addRow(index + 1, half.data());
}

bool TilePyramid::flush(size_t index) {
    State& s = m_levels[index];
    if (s.stripeRows == 0) {
        return true;
    }
    const bool taken = m_sink(static_cast<int>(index), s.sent, s.stripeRows, s.stripe.data());
    s.sent += s.stripeRows;
    s.stripeRows = 0;
    s.stripe.clear();
    return taken;
}

void TilePyramid::halve(size_t index, const uint8_t* upper, const uint8_t* lower,
                        uint8_t* out) const {
    const int width = m_levels[index].level.width;
    const int halfWidth = m_levels[index + 1].level.width;
    for (int x = 0; x < halfWidth; ++x) {
        const int left = 2 * x;
        const int right = std::min(left + 1, width - 1);
        for (int c = 0; c < 3; ++c) {
            const int sum = upper[3 * left + c] + upper[3 * right + c] + lower[3 * left + c] +
                            lower[3 * right + c];
            out[3 * x + c] = static_cast<uint8_t>((sum + 2) / 4);
        }
    }
}

bool TilePyramid::finish() {
    for (size_t index = 0; index < m_levels.size(); ++index) {
        State& s = m_levels[index];
        // An odd last row pairs with itself.
        if (s.hasPending && index + 1 < m_levels.size()) {
            s.hasPending = false;
            std::vector<uint8_t> half(3u * static_cast<size_t>(m_levels[index + 1].level.width));
            halve(index, s.pending.data(), s.pending.data(), half.data());
            if (!addRow(index + 1, half.data())) {
                return false;
            }
        }
        if (!flush(index)) {
            return false;
        }
    }
    return true;
}
