#include "job/SheetCut.h"

#include "job/AreaRecalc.h"
#include "job/NumberFormat.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace {

// Farther than any place on Earth from zone 30's origin: beyond it a coordinate is no
// place, and the counts below would leave 64 bits.
constexpr double kFarthestMetres = 1e8;

// The lattice of sheets over an area: its anchor in whole metres, its size in tiles of the
// coverage and in sheets.
struct Lattice {
    int64_t west = 0;
    int64_t north = 0;
    int64_t across = 0; // tiles the area spans
    int64_t down = 0;
    int32_t size = 0;
    int step = kMaxTiles; // tiles from one sheet's corner to the next
    int64_t columns = 0;
    int64_t rows = 0;

    int64_t stepMetres() const { return int64_t{step} * size; }
    int64_t sheetWest(int64_t column) const { return west + column * stepMetres(); }
    int64_t sheetNorth(int64_t row) const { return north - row * stepMetres(); }
    int sheetAcross(int64_t column) const {
        return static_cast<int>(std::min<int64_t>(kMaxTiles, across - column * step));
    }
    int sheetDown(int64_t row) const {
        return static_cast<int>(std::min<int64_t>(kMaxTiles, down - row * step));
    }
    GroundRect sheetRect(int64_t row, int64_t column) const {
        const double w = double(sheetWest(column));
        const double n = double(sheetNorth(row));
        return {w, n - double(sheetDown(row)) * size, w + double(sheetAcross(column)) * size, n};
    }
};

// Sheets along a side of `tiles`: the first holds ten, each next one `step` more, and the
// last holds what is left, so that it ends on the area's edge.
int64_t SheetsAlong(int64_t tiles, int step) {
    return tiles <= kMaxTiles ? 1 : 1 + (tiles - kMaxTiles + step - 1) / step;
}

// The rectangle's edges outwards to multiples of the coverage; a side that comes to nothing
// keeps one tile east or south of its line.
Lattice MakeLattice(const GroundRect& r, int32_t size, int overlap) {
    Lattice l;
    l.size = size;
    l.step = kMaxTiles - overlap;
    l.west = static_cast<int64_t>(std::floor(r.west / size)) * size;
    l.north = static_cast<int64_t>(std::ceil(r.north / size)) * size;
    const int64_t east = static_cast<int64_t>(std::ceil(r.east / size)) * size;
    const int64_t south = static_cast<int64_t>(std::floor(r.south / size)) * size;
    l.across = std::max<int64_t>(1, (east - l.west) / size);
    l.down = std::max<int64_t>(1, (l.north - south) / size);
    l.columns = SheetsAlong(l.across, l.step);
    l.rows = SheetsAlong(l.down, l.step);
    return l;
}

GroundRect LatticeArea(const Lattice& l) {
    return {double(l.west), double(l.north - l.down * l.size), double(l.west + l.across * l.size),
            double(l.north)};
}

bool Usable(const GroundRect& r) {
    return std::abs(r.west) < kFarthestMetres && std::abs(r.east) < kFarthestMetres &&
           std::abs(r.south) < kFarthestMetres && std::abs(r.north) < kFarthestMetres;
}

bool Usable(const GroundPoint& p) {
    return std::abs(p.easting) < kFarthestMetres && std::abs(p.northing) < kFarthestMetres;
}

SheetCut Refused(const QString& message, int64_t count = 0) {
    SheetCut cut;
    cut.message = message;
    cut.sheetCount = count;
    return cut;
}

std::optional<QString> OptionsProblem(const SheetOptions& o) {
    if (o.tileSize <= 0) {
        return QStringLiteral("La cobertura de los mosaicos no es válida.");
    }
    if (o.overlap < 0 || o.overlap > kMaxSheetOverlap) {
        return QStringLiteral("El solape debe estar entre 0 y %1 mosaicos.").arg(kMaxSheetOverlap);
    }
    return std::nullopt;
}

QString TooManyMessage(const QString& what, int64_t count, int32_t tileSize) {
    const QString counted = count > kSheetCountLimit
                                ? QStringLiteral("más de %1").arg(GroupedNumber(kSheetCountLimit))
                                : GroupedNumber(count);
    return QStringLiteral("%1 necesita %2 hojas de hasta %3 × %3 mosaicos de %4 m; el máximo es "
                          "%5 hojas por descarga.")
        .arg(what, counted)
        .arg(kMaxTiles)
        .arg(GroupedNumber(tileSize))
        .arg(kMaxSheets);
}

// The chosen places of the lattice, in reading order, as numbered and named sheets; or the
// message for the sheets whose corner Descargar would refuse.
SheetCut Number(const Lattice& l, const std::vector<std::pair<int64_t, int64_t>>& places,
                const SheetOptions& options) {
    SheetSet set;
    set.name = options.name;
    set.tileSize = l.size;
    set.overlap = options.overlap;
    set.area = LatticeArea(l);
    set.latticeColumns = static_cast<int>(l.columns);
    set.latticeRows = static_cast<int>(l.rows);

    const GroundRect accepted = AcceptedCornerRange();
    const int count = static_cast<int>(places.size());
    int outside = 0;
    QString firstName;
    QString firstCorner;
    for (int i = 0; i < count; ++i) {
        const auto [row, column] = places[size_t(i)];
        Sheet s;
        s.number = i + 1;
        s.name = SheetName(options.name, s.number, count);
        const int64_t west = l.sheetWest(column);
        const int64_t north = l.sheetNorth(row);
        if (!accepted.contains({double(west), double(north)})) {
            if (outside++ == 0) {
                firstName = s.name;
                firstCorner =
                    QStringLiteral("X %1, Y %2").arg(GroupedNumber(west), GroupedNumber(north));
            }
            continue;
        }
        s.row = static_cast<int>(row);
        s.column = static_cast<int>(column);
        s.easting = static_cast<int32_t>(west);
        s.northing = static_cast<int32_t>(north);
        s.tileSize = l.size;
        s.across = l.sheetAcross(column);
        s.down = l.sheetDown(row);
        set.sheets.push_back(std::move(s));
    }
    if (outside > 0) {
        const QString range = QStringLiteral("debe estar entre X %1 y %2 e Y %3 y %4")
                                  .arg(GroupedNumber(kMinEasting), GroupedNumber(kMaxEasting),
                                       GroupedNumber(kMinNorthing), GroupedNumber(kMaxNorthing));
        const QString message =
            outside == 1
                ? QStringLiteral("La hoja %1 tiene la esquina superior izquierda fuera de "
                                 "límites (%2); %3.")
                      .arg(firstName, firstCorner, range)
                : QStringLiteral("%1 hojas tienen la esquina superior izquierda fuera de límites "
                                 "(la primera, %2: %3); %4.")
                      .arg(outside)
                      .arg(firstName, firstCorner, range);
        return Refused(message, count);
    }
    SheetCut cut;
    cut.sheetCount = count;
    cut.set = std::move(set);
    return cut;
}

// --- The corridor ---------------------------------------------------------------------

double PointRectDistance2(const GroundRect& r, double x, double y) {
    const double dx = std::max({r.west - x, 0.0, x - r.east});
    const double dy = std::max({r.south - y, 0.0, y - r.north});
    return dx * dx + dy * dy;
}

double PointSegmentDistance2(double x, double y, const GroundPoint& a, const GroundPoint& b) {
    const double dx = b.easting - a.easting;
    const double dy = b.northing - a.northing;
    const double length2 = dx * dx + dy * dy;
    double t = 0.0;
    if (length2 > 0.0) {
        t = std::clamp(((x - a.easting) * dx + (y - a.northing) * dy) / length2, 0.0, 1.0);
    }
    const double ex = a.easting + t * dx - x;
    const double ey = a.northing + t * dy - y;
    return ex * ex + ey * ey;
}

// Whether the segment meets the closed rectangle: the part of it between every pair of the
// rectangle's edges is not empty (Liang and Barsky's clipping).
bool SegmentMeetsRect(const GroundPoint& a, const GroundPoint& b, const GroundRect& r) {
    const double dx = b.easting - a.easting;
    const double dy = b.northing - a.northing;
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[] = {-dx, dx, -dy, dy};
    const double q[] = {a.easting - r.west, r.east - a.easting, a.northing - r.south,
                        r.north - a.northing};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) {
                return false;
            }
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) {
            return false;
        }
    }
    return true;
}

// Two convex shapes apart are nearest at a corner of one of them.
double SegmentRectDistance2(const GroundPoint& a, const GroundPoint& b, const GroundRect& r) {
    if (SegmentMeetsRect(a, b, r)) {
        return 0.0;
    }
    return std::min(
        {PointRectDistance2(r, a.easting, a.northing), PointRectDistance2(r, b.easting, b.northing),
         PointSegmentDistance2(r.west, r.north, a, b), PointSegmentDistance2(r.east, r.north, a, b),
         PointSegmentDistance2(r.east, r.south, a, b),
         PointSegmentDistance2(r.west, r.south, a, b)});
}

class CorridorSheets {
public:
    CorridorSheets(const Lattice& lattice, double margin)
        : m_lattice(lattice), m_margin(margin),
          // Pieces no longer than half a sheet or the margin: each is tested only against the
          // few sheets near it, so the work follows the sheets found, not the lattice.
          m_piece(std::max(double(lattice.stepMetres()) / 2.0, margin)) {}

    // False once more sheets than kSheetCountLimit were found.
    bool add(const GroundPoint& a, const GroundPoint& b) {
        const double length = std::hypot(b.easting - a.easting, b.northing - a.northing);
        const int pieces = std::max(1, static_cast<int>(std::ceil(length / m_piece)));
        GroundPoint from = a;
        for (int i = 1; i <= pieces; ++i) {
            const double t = double(i) / pieces;
            const GroundPoint to = i == pieces
                                       ? b
                                       : GroundPoint{a.easting + t * (b.easting - a.easting),
                                                     a.northing + t * (b.northing - a.northing)};
            if (!addPiece(from, to)) {
                return false;
            }
            from = to;
        }
        return true;
    }

    const std::set<std::pair<int64_t, int64_t>>& found() const { return m_found; }

private:
    // The lattice's places (row, column) whose sheets may lie within the margin of the
    // piece; the exact test decides.
    bool addPiece(const GroundPoint& a, const GroundPoint& b) {
        const Lattice& l = m_lattice;
        const double x0 = std::min(a.easting, b.easting) - m_margin;
        const double x1 = std::max(a.easting, b.easting) + m_margin;
        const double y0 = std::min(a.northing, b.northing) - m_margin;
        const double y1 = std::max(a.northing, b.northing) + m_margin;
        const double step = double(l.stepMetres());
        const double full = double(kMaxTiles) * l.size;
        const auto index = [](double v, int64_t count) {
            return static_cast<int64_t>(std::clamp(v, 0.0, double(count - 1)));
        };
        const int64_t c0 = index(std::ceil((x0 - double(l.west) - full) / step), l.columns);
        const int64_t c1 = index(std::floor((x1 - double(l.west)) / step), l.columns);
        const int64_t r0 = index(std::ceil((double(l.north) - y1 - full) / step), l.rows);
        const int64_t r1 = index(std::floor((double(l.north) - y0) / step), l.rows);
        const double margin2 = m_margin * m_margin;
        for (int64_t row = r0; row <= r1; ++row) {
            for (int64_t column = c0; column <= c1; ++column) {
                const double d2 = SegmentRectDistance2(a, b, l.sheetRect(row, column));
                if (d2 == 0.0 || d2 < margin2) {
                    m_found.emplace(row, column);
                    if (int64_t(m_found.size()) > kSheetCountLimit) {
                        return false;
                    }
                }
            }
        }
        return true;
    }

    const Lattice& m_lattice;
    double m_margin;
    double m_piece;
    std::set<std::pair<int64_t, int64_t>> m_found;
};

} // namespace

GroundRect Sheet::rect() const {
    const double n = northing;
    return {double(easting), n - double(tileSize) * down,
            double(easting) + double(tileSize) * across, n};
}

bool Sheet::operator==(const Sheet& o) const {
    return number == o.number && row == o.row && column == o.column && easting == o.easting &&
           northing == o.northing && tileSize == o.tileSize && across == o.across &&
           down == o.down && name == o.name;
}

int SheetSet::tiles() const {
    int n = 0;
    for (const Sheet& s : sheets) {
        n += s.tiles();
    }
    return n;
}

GroundRect SheetSet::extent() const {
    if (sheets.empty()) {
        return {};
    }
    GroundRect e = sheets.front().rect();
    for (const Sheet& s : sheets) {
        const GroundRect r = s.rect();
        e = {std::min(e.west, r.west), std::min(e.south, r.south), std::max(e.east, r.east),
             std::max(e.north, r.north)};
    }
    return e;
}

QString SheetName(const QString& base, int number, int count) {
    const int digits = count > 99 ? 3 : 2;
    return base + QStringLiteral("_%1").arg(number, digits, 10, QChar(u'0'));
}

SheetCut CutBox(const GroundRect& box, const SheetOptions& options) {
    if (const auto problem = OptionsProblem(options)) {
        return Refused(*problem);
    }
    const GroundRect r{std::min(box.west, box.east), std::min(box.south, box.north),
                       std::max(box.west, box.east), std::max(box.south, box.north)};
    if (!Usable(r)) {
        return Refused(AreaMessageText(AreaMessage::InvalidCoordinates));
    }
    const Lattice l = MakeLattice(r, options.tileSize, options.overlap);
    const int64_t count = l.columns * l.rows;
    if (count > kMaxSheets) {
        return Refused(TooManyMessage(QStringLiteral("El recuadro"), count, options.tileSize),
                       count);
    }
    std::vector<std::pair<int64_t, int64_t>> places;
    for (int64_t row = 0; row < l.rows; ++row) {
        for (int64_t column = 0; column < l.columns; ++column) {
            places.emplace_back(row, column);
        }
    }
    return Number(l, places, options);
}

SheetCut CutCorridor(const std::vector<std::vector<GroundPoint>>& lines,
                     const std::vector<GroundPoint>& points, double margin,
                     const SheetOptions& options) {
    if (const auto problem = OptionsProblem(options)) {
        return Refused(*problem);
    }
    if (!(margin >= 0.0) || margin > kFarthestMetres) {
        return Refused(QStringLiteral("El margen de la ruta no es válido."));
    }
    // Segments, a single point being one from itself to itself.
    std::vector<std::pair<GroundPoint, GroundPoint>> segments;
    for (const auto& line : lines) {
        for (size_t i = 0; i < line.size(); ++i) {
            if (line.size() == 1 || i > 0) {
                segments.emplace_back(line[i == 0 ? 0 : i - 1], line[i]);
            }
        }
    }
    for (const GroundPoint& p : points) {
        segments.emplace_back(p, p);
    }
    if (segments.empty()) {
        return Refused(QStringLiteral("La ruta no tiene ningún punto."));
    }
    GroundRect extent{segments.front().first.easting, segments.front().first.northing,
                      segments.front().first.easting, segments.front().first.northing};
    for (const auto& [a, b] : segments) {
        for (const GroundPoint& p : {a, b}) {
            if (!Usable(p)) {
                return Refused(AreaMessageText(AreaMessage::InvalidCoordinates));
            }
            extent = {std::min(extent.west, p.easting), std::min(extent.south, p.northing),
                      std::max(extent.east, p.easting), std::max(extent.north, p.northing)};
        }
    }
    const Lattice l = MakeLattice(extent.grown(margin), options.tileSize, options.overlap);
    CorridorSheets corridor(l, margin);
    for (const auto& [a, b] : segments) {
        if (!corridor.add(a, b)) {
            break;
        }
    }
    const auto& found = corridor.found();
    const auto count = static_cast<int64_t>(found.size());
    if (count > kMaxSheets) {
        const QString what =
            QStringLiteral("La ruta, con %1 m de margen,").arg(GroupedNumber(std::llround(margin)));
        return Refused(TooManyMessage(what, count, options.tileSize), count);
    }
    // The set orders (row, column) pairs as reading order.
    return Number(l, {found.begin(), found.end()}, options);
}

DownloadJob SheetJob(const DownloadJob& job, const Sheet& sheet) {
    DownloadJob j = job;
    j.tileSize = sheet.tileSize;
    j.easting = sheet.easting;
    j.northingField = sheet.northing - kNorthingOffset;
    j.tilesAcross = sheet.across;
    j.tilesDown = sheet.down;
    j.cornerEasting = j.easting + j.tileSize * j.tilesAcross;
    j.cornerNorthingField = j.northingField - j.tileSize * j.tilesDown;
    j.widthMetres = j.tilesAcross * j.tileSize;
    j.heightMetres = j.tilesDown * j.tileSize;
    j.widthPixels = j.tilesAcross * kTilePixels;
    j.heightPixels = j.tilesDown * kTilePixels;
    j.bmpName = sheet.name;
    j.resetTiles();
    return j;
}
