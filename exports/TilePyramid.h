#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// The levels of a web tile pyramid below the most detailed one, made while that one streams
// through a row of tiles at a time: each level is the one above halved (a pixel is the mean
// of 2 x 2, each counted by its alpha), so the image is moved once for all of them. Every
// level lies on its own zoom's tiles: a level's first tile column is its own zoom's, and the
// level above lands 128 pixels into it when that level starts on an odd tile (so too for
// rows). Pixels are red, green, blue and alpha bytes; where nothing lies all four are 0.
class TilePyramid {
public:
    static constexpr int kTile = 256;

    // The first tile of a level on its zoom's grid: columns from the west, rows from the north.
    struct TileIndex {
        int column = 0;
        int row = 0;
    };
    // A whole row of tiles of `level` (1 the level below the most detailed): kTile rows of
    // `columns` tiles from tile `first` on, RGBA. False stops the pyramid.
    using Sink =
        std::function<bool(int level, TileIndex first, int columns, const uint8_t* pixels)>;

    // The most detailed level is `columns` tiles wide from tile `origin`; `levels` are made
    // below it.
    TilePyramid(int columns, TileIndex origin, int levels, Sink sink);

    // The next row of tiles of the most detailed level, from the origin's row down; false once
    // the sink refused.
    bool add(const uint8_t* pixels);
    // Hands on what is left of every level; false once the sink refused. Call once, after the
    // last row of tiles.
    bool finish();

    // A pixel of the level below from 2 x 2 of the one above, weighed by alpha.
    static void Halve(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d,
                      uint8_t* out);

private:
    struct Level {
        TileIndex first; // its first tile
        int columns = 0; // tiles across
        int offsetX = 0; // where the level above begins in it, in pixels
        int row = -1;    // the row of tiles being filled, -1 for none
        std::vector<uint8_t> pixels;
        bool filled = false;
    };

    // Halves a row of tiles of level `index` - 1 (`row` on its zoom) into level `index`.
    bool addRow(size_t index, int row, const uint8_t* pixels);
    bool flush(size_t index);

    int m_topColumns;
    int m_topRow;
    std::vector<Level> m_levels; // [0] is the first level below the most detailed
    Sink m_sink;
};
