#include "job/MapArea.h"

#include "job/AreaRecalc.h"
#include "job/NumberFormat.h"

#include <algorithm>
#include <cmath>

namespace {

// The largest coverage of any kind: the farthest a grid reaches from its corner.
constexpr int32_t kLargestCoverage = 10000;
// Ground shown around what a grid can reach, so that its edge is not the window's.
constexpr double kReachMargin = 20000.0;

// Multiples of the coverage, in whole metres; a coverage under one metre never occurs.
int64_t Down(double metres, int32_t size) {
    return static_cast<int64_t>(std::floor(metres / size)) * size;
}
int64_t Up(double metres, int32_t size) {
    return static_cast<int64_t>(std::ceil(metres / size)) * size;
}
int64_t Nearest(double metres, int32_t size) {
    return static_cast<int64_t>(std::llround(metres / size)) * size;
}

// Edges on multiples of the coverage into a grid, the counts clamped from the upper-left.
GridChoice FromEdges(int64_t west, int64_t south, int64_t east, int64_t north, int32_t size) {
    GridChoice g;
    g.easting = static_cast<int32_t>(west);
    g.northing = static_cast<int32_t>(north);
    g.neededAcross = static_cast<int>(std::max<int64_t>(1, (east - west) / size));
    g.neededDown = static_cast<int>(std::max<int64_t>(1, (north - south) / size));
    g.across = std::min(g.neededAcross, kMaxTiles);
    g.down = std::min(g.neededDown, kMaxTiles);
    return g;
}

} // namespace

GroundRect AcceptedCornerRange() {
    return {double(kMinEasting), double(kMinNorthing), double(kMaxEasting), double(kMaxNorthing)};
}

GroundRect MapReach() {
    const double reach = double(kLargestCoverage) * kMaxTiles;
    const GroundRect corners = AcceptedCornerRange();
    return GroundRect{corners.west, corners.south - reach, corners.east + reach, corners.north}
        .grown(kReachMargin);
}

GroundRect JobRect(const DownloadJob& job) {
    const double north = double(job.northingField) + kNorthingOffset;
    return {double(job.easting), north - double(job.tileSize) * job.tilesDown,
            double(job.easting) + double(job.tileSize) * job.tilesAcross, north};
}

GridChoice SnapBoxToGrid(const GroundRect& box, int32_t tileSize) {
    const int32_t s = std::max<int32_t>(1, tileSize);
    const double x0 = std::min(box.west, box.east);
    const double x1 = std::max(box.west, box.east);
    const double y0 = std::min(box.south, box.north);
    const double y1 = std::max(box.south, box.north);
    int64_t west = Nearest(x0, s);
    int64_t east = Nearest(x1, s);
    if (east <= west) {
        west = Down((x0 + x1) / 2, s);
        east = west + s;
    }
    int64_t south = Nearest(y0, s);
    int64_t north = Nearest(y1, s);
    if (north <= south) {
        south = Down((y0 + y1) / 2, s);
        north = south + s;
    }
    return FromEdges(west, south, east, north, s);
}

std::optional<QString> ClampMessage(const GridChoice& grid) {
    if (!grid.clamped()) {
        return std::nullopt;
    }
    return QStringLiteral("El recuadro necesita %1 × %2 mosaicos; se toman %3 × %4 desde la "
                          "esquina superior izquierda (el máximo es %5 por lado).")
        .arg(grid.neededAcross)
        .arg(grid.neededDown)
        .arg(grid.across)
        .arg(grid.down)
        .arg(kMaxTiles);
}

GridChoice GridHolding(const GroundRect& rect, int32_t tileSize, double margin) {
    const int32_t s = std::max<int32_t>(1, tileSize);
    const GroundRect r = rect.grown(std::max(0.0, margin));
    return FromEdges(Down(r.west, s), Down(r.south, s), Up(r.east, s), Up(r.north, s), s);
}

TrackFit FitTrackArea(const GroundRect& trackExtent, int32_t tileSize, double margin) {
    TrackFit fit;
    const GridChoice grid = GridHolding(trackExtent, tileSize, margin);
    if (grid.clamped()) {
        fit.message = QStringLiteral("La ruta, con %1 m de margen, necesita %2 × %3 mosaicos de "
                                     "%4 m; el máximo es %5 × %5. El área no cambia.")
                          .arg(GroupedNumber(std::llround(margin)))
                          .arg(grid.neededAcross)
                          .arg(grid.neededDown)
                          .arg(GroupedNumber(tileSize))
                          .arg(kMaxTiles);
        return fit;
    }
    fit.grid = grid;
    return fit;
}
