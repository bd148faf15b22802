#include "job/SheetCut.h"

#include "job/AreaRecalc.h"
#include "job/NumberFormat.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <utility>

namespace {

// Farther than any place on Earth from zone 30's origin: beyond it a coordinate is no
// place, and the counts below would leave 64 bits.
constexpr double kFarthestMetres = 1e8;

// Sheets along a side of `tiles`: the first holds ten, each next one `step` more, and the
// last holds what is left, so that it ends on the area's edge.
int64_t SheetsAlong(int64_t tiles, int step) {
    return tiles <= kMaxTiles ? 1 : 1 + (tiles - kMaxTiles + step - 1) / step;
}

// The sheets along one side of an area: where each begins, in tiles from the area's edge,
// and how many tiles it holds.
struct Axis {
    int64_t tiles = 0; // tiles the area spans
    int overlap = 0;
    int step = kMaxTiles; // ten-tile sheets: from one sheet's start to the next
    int64_t count = 0;
    // Sheets of equal size as far as the tiles allow: `larger` of them, the first ones,
    // hold base + 1 tiles and the others base.
    bool balanced = false;
    int64_t base = 0;
    int64_t larger = 0;

    int64_t start(int64_t i) const {
        return balanced ? i * (base - overlap) + std::min(i, larger) : i * step;
    }
    int length(int64_t i) const {
        return static_cast<int>(balanced ? base + (i < larger ? 1 : 0)
                                         : std::min<int64_t>(kMaxTiles, tiles - i * step));
    }
};

Axis MakeAxis(int64_t tiles, int overlap, bool balanced) {
    Axis a;
    a.tiles = tiles;
    a.overlap = overlap;
    a.step = kMaxTiles - overlap;
    a.count = SheetsAlong(tiles, a.step);
    a.balanced = balanced;
    if (balanced) {
        // As few sheets as ten-tile ones would take, sharing the tiles out between them.
        const int64_t held = tiles + (a.count - 1) * overlap;
        a.base = held / a.count;
        a.larger = held % a.count;
    }
    return a;
}

// The lattice of sheets over an area: its anchor in whole metres, its size in tiles of the
// coverage and in sheets.
struct Lattice {
    int64_t west = 0;
    int64_t north = 0;
    int32_t size = 0;
    Axis x;
    Axis y;

    int64_t columns() const { return x.count; }
    int64_t rows() const { return y.count; }
    int64_t across() const { return x.tiles; }
    int64_t down() const { return y.tiles; }
    // Of ten-tile sheets only: from one sheet's corner to the next.
    int64_t stepMetres() const { return int64_t{x.step} * size; }
    int64_t sheetWest(int64_t column) const { return west + x.start(column) * size; }
    int64_t sheetNorth(int64_t row) const { return north - y.start(row) * size; }
    int sheetAcross(int64_t column) const { return x.length(column); }
    int sheetDown(int64_t row) const { return y.length(row); }
    GroundRect sheetRect(int64_t row, int64_t column) const {
        const double w = double(sheetWest(column));
        const double n = double(sheetNorth(row));
        return {w, n - double(sheetDown(row)) * size, w + double(sheetAcross(column)) * size, n};
    }
};

// The rectangle's edges outwards to multiples of the coverage; a side that comes to nothing
// keeps one tile east or south of its line.
Lattice MakeLattice(const GroundRect& r, int32_t size, int overlap, bool balanced) {
    Lattice l;
    l.size = size;
    l.west = static_cast<int64_t>(std::floor(r.west / size)) * size;
    l.north = static_cast<int64_t>(std::ceil(r.north / size)) * size;
    const int64_t east = static_cast<int64_t>(std::ceil(r.east / size)) * size;
    const int64_t south = static_cast<int64_t>(std::floor(r.south / size)) * size;
    l.x = MakeAxis(std::max<int64_t>(1, (east - l.west) / size), overlap, balanced);
    l.y = MakeAxis(std::max<int64_t>(1, (l.north - south) / size), overlap, balanced);
    return l;
}

GroundRect LatticeArea(const Lattice& l) {
    return {double(l.west), double(l.north - l.down() * l.size),
            double(l.west + l.across() * l.size), double(l.north)};
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

// `count` past `countedUpTo` says only "más de" that.
QString TooManyMessage(const QString& what, int64_t count, int64_t countedUpTo, int32_t tileSize) {
    const QString counted = count > countedUpTo
                                ? QStringLiteral("más de %1").arg(GroupedNumber(countedUpTo))
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
    set.latticeColumns = static_cast<int>(l.columns());
    set.latticeRows = static_cast<int>(l.rows());

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

// The part of segment ab whose northing lies between `south` and `north`, as the range of
// its eastings; false when no part of it does.
bool EastingsBetween(const GroundPoint& a, const GroundPoint& b, double south, double north,
                     double* west, double* east) {
    const double dx = b.easting - a.easting;
    const double dy = b.northing - a.northing;
    double t0 = 0.0;
    double t1 = 1.0;
    if (dy == 0.0) {
        if (a.northing < south || a.northing > north) {
            return false;
        }
    } else {
        double ts = (south - a.northing) / dy;
        double tn = (north - a.northing) / dy;
        if (ts > tn) {
            std::swap(ts, tn);
        }
        t0 = std::max(t0, ts);
        t1 = std::min(t1, tn);
        if (t0 > t1) {
            return false;
        }
    }
    const double x0 = t0 == 0.0 ? a.easting : a.easting + t0 * dx;
    const double x1 = t1 == 1.0 ? b.easting : a.easting + t1 * dx;
    *west = std::min(x0, x1);
    *east = std::max(x0, x1);
    return true;
}

// The sheets a corridor reaches into, found row by row of the lattice. In each row a
// segment's corridor crosses, the columns the segment itself runs through well inside the
// row are taken whole, with no test; only the few at either end of that run, which the
// margin alone may reach or the segment only graze, get the exact test. So a segment costs
// the rows it crosses, not its length, and the found sheets are kept as runs of columns per
// row, which also spares the test of a sheet found before.
class CorridorSheets {
public:
    CorridorSheets(const Lattice& lattice, double margin) : m_lattice(lattice), m_margin(margin) {}

    // False once more than kMaxSheets were found.
    bool add(const GroundPoint& a, const GroundPoint& b) {
        const Lattice& l = m_lattice;
        const double step = double(l.stepMetres());
        const double full = double(kMaxTiles) * l.size;
        const double reach = m_margin + kSlackMetres;
        const auto index = [](double v, int64_t count) {
            return static_cast<int64_t>(std::clamp(v, 0.0, double(count - 1)));
        };
        const double y0 = std::min(a.northing, b.northing) - reach;
        const double y1 = std::max(a.northing, b.northing) + reach;
        const int64_t r0 = index(std::ceil((double(l.north) - y1 - full) / step), l.rows());
        const int64_t r1 = index(std::floor((double(l.north) - y0) / step), l.rows());
        for (int64_t row = r0; row <= r1; ++row) {
            const double north = double(l.sheetNorth(row));
            const double south = north - double(l.sheetDown(row)) * l.size;
            // The columns whose sheets the corridor of the segment's part near the row may
            // reach.
            double west = 0.0;
            double east = 0.0;
            if (!EastingsBetween(a, b, south - reach, north + reach, &west, &east)) {
                continue;
            }
            const int64_t c0 =
                index(std::ceil((west - reach - double(l.west) - full) / step), l.columns());
            const int64_t c1 =
                index(std::floor((east + reach - double(l.west)) / step), l.columns());
            // Those the segment runs through well inside the row: taken.
            int64_t d0 = c1 + 1;
            int64_t d1 = c1;
            if (EastingsBetween(a, b, south + kEdgeMetres, north - kEdgeMetres, &west, &east)) {
                d0 = c0;
                while (d0 <= c1 && sheetEast(d0) < west + kEdgeMetres) {
                    ++d0;
                }
                // Straight to the end of the run, however long, then exact about it.
                const double last = east - kEdgeMetres;
                d1 = std::min(c1, index(std::floor((last - double(l.west)) / step), l.columns()));
                while (d1 >= d0 && double(l.sheetWest(d1)) > last) {
                    --d1;
                }
                while (d1 < c1 && double(l.sheetWest(d1 + 1)) <= last) {
                    ++d1;
                }
                if (d0 <= d1) {
                    take(row, d0, d1);
                }
            }
            // The rest: the exact test.
            for (int64_t column = c0; column <= c1; ++column) {
                if (column == d0 && d0 <= d1) {
                    column = d1;
                    continue;
                }
                if (taken(row, column)) {
                    continue;
                }
                const double d2 = SegmentRectDistance2(a, b, l.sheetRect(row, column));
                if (d2 == 0.0 || d2 < m_margin * m_margin) {
                    take(row, column, column);
                }
            }
            if (m_count > kMaxSheets) {
                return false;
            }
        }
        return true;
    }

    int64_t count() const { return m_count; }

    // (row, column) in reading order.
    std::vector<std::pair<int64_t, int64_t>> places() const {
        std::vector<std::pair<int64_t, int64_t>> out;
        for (const auto& [row, runs] : m_rows) {
            for (const auto& [first, last] : runs) {
                for (int64_t column = first; column <= last; ++column) {
                    out.emplace_back(row, column);
                }
            }
        }
        return out;
    }

private:
    // Beyond the margin by this much, a sheet is not looked at: rounding is far smaller.
    static constexpr double kSlackMetres = 1.0;
    // A segment this far inside a sheet meets it whatever the rounding: no test needed.
    static constexpr double kEdgeMetres = 1e-3;
    // First and last columns of each run of found sheets, in order, apart from each other.
    using Runs = std::vector<std::pair<int64_t, int64_t>>;

    double sheetEast(int64_t column) const {
        return double(m_lattice.sheetWest(column)) +
               double(m_lattice.sheetAcross(column)) * m_lattice.size;
    }

    bool taken(int64_t row, int64_t column) const {
        const auto found = m_rows.find(row);
        if (found == m_rows.end()) {
            return false;
        }
        const Runs& runs = found->second;
        const auto it = std::upper_bound(
            runs.begin(), runs.end(), column,
            [](int64_t c, const std::pair<int64_t, int64_t>& r) { return c < r.first; });
        return it != runs.begin() && std::prev(it)->second >= column;
    }

    void take(int64_t row, int64_t first, int64_t last) {
        Runs& runs = m_rows[row];
        // The runs that touch or meet first..last become one.
        auto from = std::lower_bound(
            runs.begin(), runs.end(), first,
            [](const std::pair<int64_t, int64_t>& r, int64_t c) { return r.second < c - 1; });
        auto to = from;
        int64_t had = 0;
        while (to != runs.end() && to->first <= last + 1) {
            first = std::min(first, to->first);
            last = std::max(last, to->second);
            had += to->second - to->first + 1;
            ++to;
        }
        m_count += (last - first + 1) - had;
        const auto at = runs.erase(from, to);
        runs.insert(at, {first, last});
    }

    const Lattice& m_lattice;
    double m_margin;
    std::map<int64_t, Runs> m_rows;
    int64_t m_count = 0;
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

void RenameSheets(SheetSet* set, const QString& name) {
    set->name = name;
    const int count = static_cast<int>(set->sheets.size());
    for (Sheet& sheet : set->sheets) {
        sheet.name = SheetName(name, sheet.number, count);
    }
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
    const Lattice l = MakeLattice(r, options.tileSize, options.overlap, true);
    const int64_t count = l.columns() * l.rows();
    if (count > kMaxSheets) {
        return Refused(TooManyMessage(QStringLiteral("El recuadro"), count, kSheetCountLimit,
                                      options.tileSize),
                       std::min(count, kSheetCountLimit + 1));
    }
    std::vector<std::pair<int64_t, int64_t>> places;
    for (int64_t row = 0; row < l.rows(); ++row) {
        for (int64_t column = 0; column < l.columns(); ++column) {
            places.emplace_back(row, column);
        }
    }
    return Number(l, places, options);
}

SheetCut CutCorridor(const std::vector<std::vector<GroundPoint>>& lines,
                     const std::vector<GroundPoint>& points, double margin,
                     const SheetOptions& options, const std::atomic<bool>* stop) {
    if (const auto problem = OptionsProblem(options)) {
        return Refused(*problem);
    }
    if (!(margin >= 0.0) || margin > kFarthestMetres) {
        return Refused(QStringLiteral("El margen de la ruta no es válido."));
    }
    std::optional<GroundRect> extent;
    const auto grow = [&extent](const GroundPoint& p) {
        extent =
            extent
                ? GroundRect{std::min(extent->west, p.easting), std::min(extent->south, p.northing),
                             std::max(extent->east, p.easting), std::max(extent->north, p.northing)}
                : GroundRect{p.easting, p.northing, p.easting, p.northing};
        return Usable(p);
    };
    for (const auto& line : lines) {
        if (!std::all_of(line.begin(), line.end(), grow)) {
            return Refused(AreaMessageText(AreaMessage::InvalidCoordinates));
        }
    }
    if (!std::all_of(points.begin(), points.end(), grow)) {
        return Refused(AreaMessageText(AreaMessage::InvalidCoordinates));
    }
    if (!extent) {
        return Refused(QStringLiteral("La ruta no tiene ningún punto."));
    }
    const Lattice l = MakeLattice(extent->grown(margin), options.tileSize, options.overlap, false);
    CorridorSheets corridor(l, margin);
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    const auto halted = [] {
        SheetCut cut = Refused(QStringLiteral("Corte en hojas detenido."));
        cut.stopped = true;
        return cut;
    };
    // Each segment of each line, and a single point as a segment from itself to itself.
    bool more = true;
    for (size_t i = 0; more && i < lines.size(); ++i) {
        const auto& line = lines[i];
        for (size_t k = line.size() == 1 ? 0 : 1; more && k < line.size(); ++k) {
            if (stopped()) {
                return halted();
            }
            more = corridor.add(line[k == 0 ? 0 : k - 1], line[k]);
        }
    }
    for (size_t i = 0; more && i < points.size(); ++i) {
        if (stopped()) {
            return halted();
        }
        more = corridor.add(points[i], points[i]);
    }
    if (!more) {
        const QString what =
            QStringLiteral("La ruta, con %1 m de margen,").arg(GroupedNumber(std::llround(margin)));
        return Refused(TooManyMessage(what, corridor.count(), kMaxSheets, options.tileSize),
                       std::min<int64_t>(corridor.count(), kMaxSheets + 1));
    }
    return Number(l, corridor.places(), options);
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
