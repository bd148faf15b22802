#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// The levels of a tile pyramid made while the most detailed one streams through: each level
// below is the one above halved (the mean of 2 x 2 pixels), so the image is read and moved
// once for all of them. Every level is handed on in stripes that end on its own rows of
// tiles, so that a tile writer gets each tile whole, once. Pixels are red, green and blue
// bytes, row after row.
class TilePyramid {
public:
    struct Level {
        int width = 0;
        int height = 0;
        // Rows of the level's first row of tiles that lie inside it (a full tile's when the
        // level starts on a tile edge).
        int firstStripeRows = 0;
    };
    // Receives `rows` rows of `level` (0 the most detailed) from row `firstRow` on; false
    // stops the pyramid.
    using Sink = std::function<bool(int level, int firstRow, int rows, const uint8_t* pixels)>;

    // Each level no more than half the one above, rounded up; the last may be any smaller.
    TilePyramid(std::vector<Level> levels, int tileRows, Sink sink);

    // The next rows of the most detailed level; false once the sink refused.
    bool add(const uint8_t* pixels, int rows);
    // Hands on what is left of every level; false once the sink refused. Call once all the
    // rows of the most detailed level were added.
    bool finish();

    // Whether `levels` is a pyramid this class can make.
    static bool Halves(const std::vector<Level>& levels);

private:
    struct State {
        Level level;
        std::vector<uint8_t> stripe; // rows waiting for the end of their row of tiles
        int stripeRows = 0;
        int sent = 0;                 // rows handed on so far
        std::vector<uint8_t> pending; // a row waiting for its pair, for the level below
        bool hasPending = false;
    };

    bool addRow(size_t index, const uint8_t* row);
    bool flush(size_t index);
    void halve(size_t index, const uint8_t* upper, const uint8_t* lower, uint8_t* out) const;

    std::vector<State> m_levels;
    int m_tileRows;
    Sink m_sink;
};
