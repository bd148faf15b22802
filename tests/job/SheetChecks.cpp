#include "tests/job/SheetChecks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

bool InSomeSheet(const SheetSet& set, double x, double y) {
    return std::any_of(set.sheets.begin(), set.sheets.end(), [&](const Sheet& s) {
        const double west = s.easting;
        const double north = s.northing;
        return x >= west && x <= west + double(s.across) * s.tileSize && y <= north &&
               y >= north - double(s.down) * s.tileSize;
    });
}

double DistanceToSheet(const Sheet& s, double x, double y) {
    const double west = s.easting;
    const double east = west + double(s.across) * s.tileSize;
    const double north = s.northing;
    const double south = north - double(s.down) * s.tileSize;
    const double dx = x < west ? west - x : (x > east ? x - east : 0.0);
    const double dy = y < south ? south - y : (y > north ? y - north : 0.0);
    return std::hypot(dx, dy);
}

// Each line's segments and each point (as a segment from itself to itself).
std::vector<std::pair<GroundPoint, GroundPoint>> Segments(const TrackLines& lines,
                                                          const std::vector<GroundPoint>& points) {
    std::vector<std::pair<GroundPoint, GroundPoint>> out;
    for (const auto& line : lines) {
        for (size_t i = 0; i < line.size(); ++i) {
            out.emplace_back(line[i > 0 ? i - 1 : 0], line[i]);
        }
    }
    for (const GroundPoint& p : points) {
        out.emplace_back(p, p);
    }
    return out;
}

std::string Padded(int number, size_t digits) {
    std::string s = std::to_string(number);
    while (s.size() < digits) {
        s.insert(0, "0");
    }
    return s;
}

} // namespace

void ExpectLatticeSheets(const SheetSet& set, const QString& base) {
    ASSERT_FALSE(set.sheets.empty());
    const int s = set.tileSize;
    const int step = 10 - set.overlap;
    const auto areaAcross = std::llround(set.area.width() / s);
    const auto areaDown = std::llround(set.area.height() / s);
    EXPECT_EQ(std::fmod(set.area.west, s), 0.0);
    EXPECT_EQ(std::fmod(set.area.north, s), 0.0);
    EXPECT_EQ(areaAcross * s, set.area.width());
    EXPECT_EQ(areaDown * s, set.area.height());
    const size_t digits = set.sheets.size() > 99 ? 3 : 2;
    for (size_t i = 0; i < set.sheets.size(); ++i) {
        const Sheet& sheet = set.sheets[i];
        SCOPED_TRACE(testing::Message() << "sheet " << i + 1 << " at row " << sheet.row
                                        << ", column " << sheet.column);
        EXPECT_EQ(sheet.number, int(i) + 1);
        EXPECT_EQ(sheet.name.toStdString(), base.toStdString() + "_" + Padded(int(i) + 1, digits));
        EXPECT_EQ(sheet.tileSize, s);
        EXPECT_EQ(sheet.easting % s, 0);
        EXPECT_EQ(sheet.northing % s, 0);
        EXPECT_EQ(sheet.easting, set.area.west + double(sheet.column) * step * s);
        EXPECT_EQ(sheet.northing, set.area.north - double(sheet.row) * step * s);
        EXPECT_LT(sheet.column, set.latticeColumns);
        EXPECT_LT(sheet.row, set.latticeRows);
        EXPECT_GE(sheet.across, 1);
        EXPECT_GE(sheet.down, 1);
        EXPECT_EQ(sheet.across, std::min<long long>(10, areaAcross - sheet.column * step));
        EXPECT_EQ(sheet.down, std::min<long long>(10, areaDown - sheet.row * step));
        EXPECT_TRUE(
            AcceptedCornerRange().contains({double(sheet.easting), double(sheet.northing)}));
        if (i > 0) {
            // Reading order: rows from the north, and within a row from the west.
            const Sheet& before = set.sheets[i - 1];
            EXPECT_TRUE(before.northing > sheet.northing ||
                        (before.northing == sheet.northing && before.easting < sheet.easting));
        }
    }
}

void ExpectAreaCovered(const SheetSet& set) {
    const double s = set.tileSize;
    int missing = 0;
    for (double x = set.area.west + s / 2; x < set.area.east; x += s) {
        for (double y = set.area.north - s / 2; y > set.area.south; y -= s) {
            if (!InSomeSheet(set, x, y) && missing++ < 5) {
                ADD_FAILURE() << "the tile around " << x << ", " << y << " is in no sheet";
            }
        }
    }
    EXPECT_EQ(missing, 0);
}

void ExpectCorridorCovered(const SheetSet& set, const TrackLines& lines,
                           const std::vector<GroundPoint>& points, double margin) {
    // Just inside the margin: a point exactly on it may lie on a sheet's edge either way.
    const double r = margin * 0.999;
    int missing = 0;
    const auto expectIn = [&](double x, double y) {
        if (!InSomeSheet(set, x, y) && missing++ < 5) {
            ADD_FAILURE() << "the corridor's point " << x << ", " << y << " is in no sheet";
        }
    };
    constexpr double kPi = 3.14159265358979323846;
    for (const auto& [a, b] : Segments(lines, points)) {
        const double dx = b.easting - a.easting;
        const double dy = b.northing - a.northing;
        const double length = std::hypot(dx, dy);
        const int steps = std::max(20, int(std::ceil(length / (set.tileSize / 2.0))));
        for (int k = 0; k <= steps; ++k) {
            const double x = a.easting + dx * k / steps;
            const double y = a.northing + dy * k / steps;
            expectIn(x, y);
            if (length > 0) {
                expectIn(x - dy / length * r, y + dx / length * r);
                expectIn(x + dy / length * r, y - dx / length * r);
            }
        }
        for (int k = 0; k < 24 && r > 0; ++k) {
            expectIn(b.easting + r * std::cos(k * kPi / 12),
                     b.northing + r * std::sin(k * kPi / 12));
        }
    }
    EXPECT_EQ(missing, 0);
}

void ExpectOnlySheetsTheCorridorReaches(const SheetSet& set, const TrackLines& lines,
                                        const std::vector<GroundPoint>& points, double margin) {
    // Every sheet of the lattice, taken or not, from the set's area: each (10 - overlap)
    // tiles after the one before, until one reaches the area's edge.
    const double s = set.tileSize;
    const double step = (10 - set.overlap) * s;
    std::vector<Sheet> lattice;
    for (double north = set.area.north;; north -= step) {
        for (double west = set.area.west;; west += step) {
            Sheet sheet;
            sheet.easting = int32_t(west);
            sheet.northing = int32_t(north);
            sheet.tileSize = set.tileSize;
            sheet.across = int(std::min(10.0, std::round((set.area.east - west) / s)));
            sheet.down = int(std::min(10.0, std::round((north - set.area.south) / s)));
            lattice.push_back(sheet);
            if (west + 10 * s >= set.area.east) {
                break;
            }
        }
        if (north - 10 * s <= set.area.south) {
            break;
        }
    }
    constexpr double kSpacing = 5.0;
    std::vector<double> nearest(lattice.size(), 1e300);
    for (const auto& [a, b] : Segments(lines, points)) {
        const double dx = b.easting - a.easting;
        const double dy = b.northing - a.northing;
        const int steps = std::max(1, int(std::ceil(std::hypot(dx, dy) / kSpacing)));
        for (int k = 0; k <= steps; ++k) {
            for (size_t i = 0; i < lattice.size(); ++i) {
                nearest[i] =
                    std::min(nearest[i], DistanceToSheet(lattice[i], a.easting + dx * k / steps,
                                                         a.northing + dy * k / steps));
            }
        }
    }
    size_t taken = 0;
    for (size_t i = 0; i < lattice.size(); ++i) {
        const Sheet& place = lattice[i];
        const bool isTaken =
            std::any_of(set.sheets.begin(), set.sheets.end(), [&](const Sheet& sheet) {
                return sheet.easting == place.easting && sheet.northing == place.northing &&
                       sheet.across == place.across && sheet.down == place.down;
            });
        taken += isTaken ? 1 : 0;
        if (isTaken) {
            EXPECT_LE(nearest[i], margin + kSpacing)
                << "the sheet at " << place.easting << ", " << place.northing
                << " lies outside the corridor";
        } else if (margin > 0) {
            EXPECT_GE(nearest[i], margin - 1e-6)
                << "the corridor reaches into the sheet left out at " << place.easting << ", "
                << place.northing;
        } else {
            EXPECT_GT(nearest[i], 0.0) << "the track touches the sheet left out at "
                                       << place.easting << ", " << place.northing;
        }
    }
    EXPECT_EQ(taken, set.sheets.size()) << "sheets off the lattice";
    EXPECT_EQ(lattice.size(), size_t(set.latticeColumns) * size_t(set.latticeRows));
}
