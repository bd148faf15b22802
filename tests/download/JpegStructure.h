#pragma once

// Reads the markers of a JPEG file directly, without libjpeg, so that tests can check what
// an encoder really wrote rather than what it was asked to write.

#include <QByteArray>
#include <QMap>

#include <array>

struct JpegStructure {
    bool valid = false;  // SOI, then well-formed segments up to the first SOS
    int frameMarker = 0; // 0xC0 baseline, 0xC1 extended, 0xC2 progressive, ...
    int frameCount = 0;  // start-of-frame segments seen
    int precision = 0;
    int width = 0;
    int height = 0;
    int components = 0;
    // Quantisation tables by id, in the order they are stored (zig-zag).
    QMap<int, std::array<int, 64>> quantTables;
};

JpegStructure ReadJpegStructure(const QByteArray& data);

// The quantisation table libjpeg derives from the example tables of the JPEG standard
// (ITU-T T.81 Annex K, K.1 luminance when `chroma` is false, K.2 chrominance when true) for
// `quality`, with baseline clamping, in zig-zag order as stored in a file.
std::array<int, 64> ExpectedQuantTable(int quality, bool chroma);
