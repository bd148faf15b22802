#include "job/OverviewSquares.h"

#include "job/DownloadJob.h"
#include "job/MapKinds.h"

#include <algorithm>
#include <cmath>

int32_t OverviewSide(int level) {
    return kOverviewBaseSide << std::clamp(level, 0, kOverviewLevels - 1);
}

int OverviewLevelFor(double metresPerPixel) {
    if (!(metresPerPixel > 0.0)) {
        return 0;
    }
    const double exact = std::log2(metresPerPixel * kTilePixels / kOverviewBaseSide);
    return std::clamp(static_cast<int>(std::lround(exact)), 0, kOverviewLevels - 1);
}

GroundRect OverviewSquare::rect() const {
    const double side = OverviewSide(level);
    return {double(column) * side, double(row) * side, double(column + 1) * side,
            double(row + 1) * side};
}

std::vector<OverviewSquare> OverviewSquaresFor(const GroundRect& view, int level,
                                               const GroundRect& reach) {
    const GroundRect r{std::max(view.west, reach.west), std::max(view.south, reach.south),
                       std::min(view.east, reach.east), std::min(view.north, reach.north)};
    std::vector<OverviewSquare> squares;
    if (!(r.west < r.east && r.south < r.north)) {
        return squares;
    }
    const double side = OverviewSide(level);
    // Squares that only touch the view along an edge are not needed.
    const auto first = [side](double v) { return static_cast<int64_t>(std::floor(v / side)); };
    const auto last = [side](double v) { return static_cast<int64_t>(std::ceil(v / side)) - 1; };
    for (int64_t row = first(r.south); row <= last(r.north); ++row) {
        for (int64_t column = first(r.west); column <= last(r.east); ++column) {
            squares.push_back({level, column, row});
        }
    }
    const double cx = (view.west + view.east) / 2;
    const double cy = (view.south + view.north) / 2;
    const auto distance = [cx, cy](const OverviewSquare& s) {
        const GroundRect g = s.rect();
        return std::hypot((g.west + g.east) / 2 - cx, (g.south + g.north) / 2 - cy);
    };
    std::stable_sort(squares.begin(), squares.end(),
                     [&](const OverviewSquare& a, const OverviewSquare& b) {
                         return distance(a) < distance(b);
                     });
    return squares;
}

QString OverviewUrl(const QString& requestPrefix, const OverviewSquare& square) {
    const int64_t side = OverviewSide(square.level);
    const int64_t xmin = square.column * side;
    const int64_t ymin = square.row * side - kNorthingOffset;
    return requestPrefix + QString::number(xmin) + QLatin1String(kAfterXmin) +
           QString::number(ymin) + QLatin1String(kBeforeXmax) + QString::number(xmin + side) +
           QLatin1String(kAfterXmax) + QString::number(ymin + side) + QLatin1String(kRequestTail);
}
