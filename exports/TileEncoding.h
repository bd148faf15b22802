#pragma once

// The images inside the tiled exports, encoded where they are made (on whichever thread made
// them): baseline JPEG where a tile is wholly map, PNG with its transparency where the map
// ends inside it. Pixels come as red, green, blue and alpha bytes, row after row.

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Rows of RGBA pixels somebody else owns; `lineBytes` apart.
struct RgbaPixels {
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    size_t lineBytes = 0;

    const uint8_t* row(int y) const { return bits + static_cast<size_t>(y) * lineBytes; }
    // The part [x, x + w) x [y, y + h).
    RgbaPixels part(int x, int y, int w, int h) const {
        return {row(y) + 4 * static_cast<size_t>(x), w, h, lineBytes};
    }
};

enum class Coverage {
    Empty,   // every pixel transparent
    Partial, // some are
    Whole,   // none is
};

Coverage CoverageOf(const RgbaPixels& pixels);

// A baseline JPEG of the colour, alpha left out, with the usual 2 x 2 subsampled chroma.
// False (and `out` empty) when libjpeg fails.
bool EncodeJpeg(const RgbaPixels& pixels, int quality, QByteArray* out);

// A PNG with the alpha kept, compressed for speed rather than size.
bool EncodePng(const RgbaPixels& pixels, QByteArray* out);
