#pragma once

// The grid a printed page shows: the lines of ETRS89 / UTM zone 30N, the datum of GPS
// receivers and of today's paper maps, moved onto the page's ED50 image through the WGS 84
// calibration's own PROJ operation; the ED50 grid of the map server as ticks at the frame;
// and where the page lies on ETRS89, for its georeference.

#include "job/PrintPages.h"

#include <QPointF>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// ED50 / UTM 30N metres to ETRS89 / UTM 30N metres and back, through one PROJ pipeline.
// Not to be used from two threads at once.
class Etrs89Grid {
public:
    // From the pipeline of the WGS 84 calibration (ED50 / UTM 30N metres to ETRS89 degrees).
    // Null, with the reason, when PROJ cannot use it.
    static std::unique_ptr<Etrs89Grid> FromPipeline(const QString& etrs89Pipeline, QString* error);
    ~Etrs89Grid();
    Etrs89Grid(const Etrs89Grid&) = delete;
    Etrs89Grid& operator=(const Etrs89Grid&) = delete;

    // False where PROJ cannot move the point.
    bool toEtrs89(const QPointF& ed50, QPointF* etrs89) const;
    bool toEd50(const QPointF& etrs89, QPointF* ed50) const;

private:
    struct Transforms;
    explicit Etrs89Grid(std::unique_ptr<Transforms> transforms);
    std::unique_ptr<Transforms> m_transforms;
};

enum class FrameEdge { North, East, South, West };

// A line of the grid on the paper, in millimetres; it runs a little past the frame.
struct GridLine {
    bool ofEasting = true; // a line of one easting, running north and south
    int32_t metres = 0;
    std::vector<QPointF> points;
};

// Where a line of a grid meets the frame: millimetres along the paper's x on the north and
// south edges, along its y on the east and west edges.
struct FrameMark {
    FrameEdge edge = FrameEdge::North;
    int32_t metres = 0;
    double at = 0.0;
};

struct PageGrid {
    std::vector<GridLine> lines;      // ETRS89, every PrintGridMetres()
    std::vector<FrameMark> labels;    // the same lines at the frame
    std::vector<FrameMark> ed50Ticks; // the ED50 lines of the same spacing at the frame
    // GDAL's six numbers from the page's points (1/72 inch, from its upper-left corner,
    // downwards) to ETRS89 / UTM 30N metres.
    std::array<double, 6> geoTransform{};
    // The frame's corners on ETRS89 / UTM 30N, clockwise from the upper left.
    std::array<QPointF, 4> neatline{};
};

// The page's grid and georeference at the scale. False, with the reason, where PROJ
// cannot move the page.
bool MakePageGrid(const PrintPage& page, int32_t scale, const Etrs89Grid& grid, PageGrid* out,
                  QString* error);

// Points of paper in a millimetre.
constexpr double kPointsPerMm = 72.0 / 25.4;
