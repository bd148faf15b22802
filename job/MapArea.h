#pragma once

// The area seen on a map: rectangles of ground in full UTM zone 30 metres (the northing
// with its 4,000,000), a box drawn by hand or a track's extent turned into a grid of the
// job's coverage.

#include "job/DownloadJob.h"

#include <QString>

#include <cstdint>
#include <optional>

struct GroundPoint {
    double easting = 0.0;
    double northing = 0.0; // full metres
};

struct GroundRect {
    double west = 0.0;
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;

    double width() const { return east - west; }
    double height() const { return north - south; }
    bool contains(const GroundPoint& p) const {
        return p.easting >= west && p.easting <= east && p.northing >= south && p.northing <= north;
    }
    // Grown by `metres` on every side.
    GroundRect grown(double metres) const {
        return {west - metres, south - metres, east + metres, north + metres};
    }
};

// Where the upper-left corner may lie (Descargar refuses any other), both edges included.
GroundRect AcceptedCornerRange();
// The ground a grid can reach from an accepted corner (ten tiles of the largest coverage
// east and south of it), and a margin around it: what the map shows and asks the server for.
GroundRect MapReach();

// The ground the job's grid covers.
GroundRect JobRect(const DownloadJob& job);

// A grid of the job's coverage: upper-left corner (full metres, on multiples of the
// coverage) and tiles across and down (1 to 10), with the counts it would have needed.
struct GridChoice {
    int32_t easting = 0;
    int32_t northing = 0; // full metres
    int across = 1;
    int down = 1;
    int neededAcross = 1;
    int neededDown = 1;

    bool clamped() const { return neededAcross != across || neededDown != down; }
};

// A box drawn by hand: each edge goes to the nearest multiple of the coverage, so that a
// box drawn up to a line of the grid takes that line even when the pointer stopped a
// little short of it or beyond it. A side that comes to nothing keeps the one tile that
// holds the box's middle. More than ten tiles a side keeps ten from the upper-left corner.
GridChoice SnapBoxToGrid(const GroundRect& box, int32_t tileSize);

// The message for a box that needed more than ten tiles a side: how many it would take
// and what was kept. Nothing when it was not clamped.
std::optional<QString> ClampMessage(const GridChoice& grid);

// The smallest grid of the coverage that holds the rectangle grown by `margin` metres on
// every side: the edges go outwards to multiples of the coverage.
GridChoice GridHolding(const GroundRect& rect, int32_t tileSize, double margin);

// The area for a track: the grid holding its extent plus the margin, or the message that
// says how many tiles that would take when it needs more than ten a side.
struct TrackFit {
    std::optional<GridChoice> grid;
    QString message;
};
TrackFit FitTrackArea(const GroundRect& trackExtent, int32_t tileSize, double margin);

// The margin around a track that "Ajustar a la ruta" leaves by default, in metres.
constexpr double kDefaultTrackMargin = 500.0;
