#include "tests/exports/ExportTestSupport.h"

#include "geo/DatumChange.h"
#include "job/AreaRecalc.h"
#include "tests/geo/GeoTestTools.h"

#include <QDir>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// Points along each edge; the program takes 21, so its box may only be smaller, by far less
// than the tests' tolerance.
constexpr int kEdgePoints = 201;

} // namespace

QColor TileColour(int column, int row) {
    // Neighbours differ by 90 in red or green: no blur or compression makes one the other.
    return QColor(20 + 90 * ((column - 1) % 3), 20 + 90 * ((row - 1) % 3),
                  column % 2 == row % 2 ? 60 : 200);
}

ExportInput MakeExportInput(const ExportCase& c, const QString& folder) {
    DownloadJob job;
    job.kind = c.kind;
    AreaInputs in;
    in.eastingText = c.eastingText;
    in.northingText = c.northingText;
    in.acrossPosition = c.across - 1;
    in.downPosition = c.down - 1;
    in.coveragePosition = c.coveragePosition;
    in.serverBase = QStringLiteral("http://maps.test");
    const AreaResult area = RecalcArea(job, in);
    EXPECT_TRUE(area.complete());

    ExportInput input;
    input.job = area.job;
    input.job.bmpName = QStringLiteral("Prueba");
    input.job.folder = folder;
    input.image = QImage(input.job.widthPixels, input.job.heightPixels, c.format);
    QPainter painter(&input.image);
    for (int row = 1; row <= c.down; ++row) {
        for (int column = 1; column <= c.across; ++column) {
            painter.fillRect((column - 1) * kTilePixels, (row - 1) * kTilePixels, kTilePixels,
                             kTilePixels, TileColour(column, row));
        }
    }
    painter.end();

    const Ed50Rect r = RectOf(input.job);
    QString error;
    const auto change = DatumChange::ForArea(r.west, r.south, r.east, r.north, &error);
    EXPECT_TRUE(change) << error.toStdString();
    if (change) {
        input.datum = {change->operationName(), change->pipeline()};
    }
    return input;
}

Ed50Rect RectOf(const DownloadJob& job) {
    return {static_cast<double>(job.easting),
            static_cast<double>(job.cornerNorthingField) + kNorthingOffset,
            static_cast<double>(job.cornerEasting),
            static_cast<double>(job.northingField) + kNorthingOffset};
}

namespace {

// A rough box in degrees, for PROJ's choice of operation among those of the area.
LonLatBox RoughBox(const Ed50Rect& r) {
    const double lon = -3.0 + ((r.west + r.east) / 2 - 500000) / 80000.0;
    const double lat = (r.south + r.north) / 2 / 111000.0;
    const double half = std::max(r.east - r.west, r.north - r.south) / 70000.0 + 0.1;
    return {lon - half, lat - half, lon + half, lat + half};
}

} // namespace

LonLatBox MovedBox(const Ed50Rect& r) {
    const LonLatBox rough = RoughBox(r);
    const PlainProj proj(rough.west, rough.south, rough.east, rough.north, "EPSG:4258");
    LonLatBox box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (int i = 0; i <= kEdgePoints; ++i) {
        const double t = static_cast<double>(i) / kEdgePoints;
        const double e = r.west + t * (r.east - r.west);
        const double n = r.south + t * (r.north - r.south);
        for (const PJ_XY p :
             {proj(e, r.south), proj(e, r.north), proj(r.west, n), proj(r.east, n)}) {
            box.west = std::min(box.west, p.x);
            box.east = std::max(box.east, p.x);
            box.south = std::min(box.south, p.y);
            box.north = std::max(box.north, p.y);
        }
    }
    return box;
}

QPointF MovedPoint(const Ed50Rect& r, double easting, double northing) {
    const LonLatBox rough = RoughBox(r);
    const PlainProj proj(rough.west, rough.south, rough.east, rough.north, "EPSG:4258");
    const PJ_XY p = proj(easting, northing);
    return {p.x, p.y};
}

QPointF WebMercator(double longitude, double latitude) {
    const double a = 6378137.0;
    const double rad = 3.14159265358979323846 / 180.0;
    return {a * longitude * rad,
            a * std::log(std::tan(3.14159265358979323846 / 4 + latitude * rad / 2))};
}

bool LocationColour(const QString& path, double x, double y, bool georeferenced, QColor* colour) {
    QStringList arguments{QStringLiteral("-valonly")};
    if (georeferenced) {
        arguments << QStringLiteral("-geoloc");
    }
    arguments << path << QString::number(x, 'f', 6) << QString::number(y, 'f', 6);
    QByteArray output;
    if (!RunGdalTool(QStringLiteral("gdallocationinfo"), arguments, &output)) {
        return false;
    }
    const QList<QByteArray> values = output.trimmed().split('\n');
    if (values.size() < 3) {
        ADD_FAILURE() << "gdallocationinfo gave " << output.toStdString() << " at " << x << ' '
                      << y;
        return false;
    }
    *colour = QColor(values[0].trimmed().toInt(), values[1].trimmed().toInt(),
                     values[2].trimmed().toInt());
    return true;
}

bool NearColour(const QColor& a, const QColor& b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QStringList FolderEntries(const QString& folder) {
    QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                 QDir::NoDotAndDotDot);
    entries.sort();
    return entries;
}

ExportResult ExportNow(ExportFormat format, const ExportInput& input) {
    const std::atomic<bool> stop{false};
    return WriteExport(format, input, stop);
}
