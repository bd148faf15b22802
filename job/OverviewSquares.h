#pragma once

// The overview of the map window is made of the server's own images, asked for as tiles
// are (400 x 400 pixels) but of squares of ground whose side doubles from one level to
// the next and that are aligned on their side, so that views that overlap ask for the
// same squares and reuse them.

#include "job/MapArea.h"

#include <QHashFunctions>
#include <QString>

#include <cstdint>
#include <vector>

// Side of the squares of level 0 in metres (0.3125 m a pixel), doubled at each level.
constexpr int32_t kOverviewBaseSide = 125;
// Levels 0 to 10: 125 m to 128 km.
constexpr int kOverviewLevels = 11;

int32_t OverviewSide(int level);

// The level whose images are nearest in scale to a view of `metresPerPixel`: drawn at
// between 0.7 and 1.4 times their size.
int OverviewLevelFor(double metresPerPixel);

struct OverviewSquare {
    int level = 0;
    int64_t column = 0; // west edge = column x side
    int64_t row = 0;    // south edge = row x side (full northing)

    GroundRect rect() const;
    bool operator==(const OverviewSquare& o) const {
        return level == o.level && column == o.column && row == o.row;
    }
    bool operator!=(const OverviewSquare& o) const { return !(*this == o); }
};

inline size_t qHash(const OverviewSquare& s, size_t seed = 0) {
    return qHashMulti(seed, s.level, s.column, s.row);
}

// The squares of the level that meet both the view and `reach`, those nearest the view's
// middle first.
std::vector<OverviewSquare> OverviewSquaresFor(const GroundRect& view, int level,
                                               const GroundRect& reach);

// The request for a square, of the same form as a tile's (northings less 4,000,000),
// before the fetcher numbers it.
QString OverviewUrl(const QString& requestPrefix, const OverviewSquare& square);
