#pragma once

// Where the joined image lies: on its own ED50 / UTM zone 30N grid, and moved to the CRS of
// the formats that need another one, with the sizes and zoom levels those formats use.

#include "job/DownloadJob.h"

#include <QString>

#include <array>
#include <string>
#include <vector>

// The joined image's outer edges on the ED50 / UTM zone 30N grid (EPSG:23030), in metres,
// and its size in pixels.
struct GridArea {
    double west = 0.0;
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
    int width = 0;
    int height = 0;

    // GDAL's six numbers: the upper-left corner, then metres per pixel across and down.
    std::array<double, 6> geoTransform() const;
};

// The area the job's calibration files give the image; false, with the reason, when the job
// holds no area of that many pixels.
bool GridAreaOfJob(const DownloadJob& job, int imageWidth, int imageHeight, GridArea* area,
                   QString* error);

// The CRS the moved formats use, both on WGS 84, which ETRS89 matches closer than a metre.
enum class MovedCrs {
    WebMercator, // EPSG:3857, metres
    Wgs84,       // EPSG:4326, x = longitude and y = latitude in degrees
};

int MovedCrsEpsg(MovedCrs crs);

// The pipeline from ED50 / UTM 30N to the CRS, in the order of axes its EPSG definition has
// (latitude first for EPSG:4326), as GDAL's warp takes it: the ETRS89 pipeline followed by
// the steps to the CRS. Empty when `etrs89Pipeline` is no PROJ pipeline.
std::string PipelineTo(MovedCrs crs, const QString& etrs89Pipeline);
// The PROJ pipeline from the image's grid to ETRS89 degrees (as the WGS 84 calibration
// uses), followed by `steps`; empty when the text is not a pipeline.
std::string PipelineThen(const QString& etrs89Pipeline, const std::string& steps);
// The reason given when there is no such pipeline for the area.
QString NoDatumChangeText();

// The image moved to the CRS: the smallest rectangle holding its whole outline, and how far
// one of its pixels reaches there across and down, so that the moved image keeps its detail.
struct MovedArea {
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;
    double stepX = 0.0;
    double stepY = 0.0;
};

// False, with the reason, when the pipeline cannot be used or cannot move the area.
bool MoveArea(const GridArea& area, MovedCrs crs, const std::string& pipeline, MovedArea* moved,
              QString* error);

// A point in the CRS's x and y, or in a grid's pixels (x right and y down from the upper-left
// corner).
struct GridPoint {
    double x = 0.0;
    double y = 0.0;
};

// The image's outline moved to the CRS: `perEdge` points along each edge, clockwise from the
// upper-left corner. False, with the reason, as for MoveArea.
bool MoveOutline(const GridArea& area, MovedCrs crs, const std::string& pipeline, int perEdge,
                 std::vector<GridPoint>* outline, QString* error);

// Web Mercator's tile grid: 256-pixel tiles, one tile for the world at zoom 0.
constexpr int kWebTilePixels = 256;
constexpr double kWebMercatorHalfWorld = 20037508.342789244;
double WebMercatorPixel(int zoom);

struct ZoomRange {
    int minZoom = 0;
    int maxZoom = 0;
};
// For an area of width x height metres whose pixels are `pixel` metres: the first zoom
// whose pixels are no larger (every detail kept), and the last one, going down from there,
// at which the whole area is no larger than one tile.
ZoomRange WebMercatorZooms(double width, double height, double pixel);

// Pixel windows of at most maxSide x maxSide covering width x height edge to edge, all of
// nearly the same size, row by row from the upper left.
struct PixelWindow {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
std::vector<PixelWindow> SplitIntoWindows(int width, int height, int maxSide);

// Images that show nothing outside an area moved to another grid: the grid's width x height
// pixels cut into windows as SplitIntoWindows does, each trimmed to the largest rectangle of
// whole pixels inside the area's outline (given in the grid's pixels, around it). Windows with
// nothing inside are left out.
struct WindowsInside {
    std::vector<PixelWindow> windows;
    // The widest strip of the area left outside the windows along its edges, in pixels.
    double gap = 0.0;
    // The part of the area the windows cover, 0 to 1.
    double covered = 0.0;
};
WindowsInside WindowsInsideOutline(const std::vector<GridPoint>& outline, int width, int height,
                                   int maxSide);
