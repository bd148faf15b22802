#include "tests/exports/ExportTestSupport.h"

#include "geo/DatumChange.h"
#include "job/AreaRecalc.h"
#include "tests/geo/GeoTestTools.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// Points along each edge; the program takes 21, so its box may only be smaller, by far less
// than the tests' tolerance.
constexpr int kEdgePoints = 201;

} // namespace

void PrintTo(const ExportCase& c, std::ostream* os) {
    *os << c.name.toStdString();
}

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
    return AreaProj(r).moved(easting, northing);
}

AreaProj::AreaProj(const Ed50Rect& r) {
    const LonLatBox rough = RoughBox(r);
    m_proj =
        std::make_unique<PlainProj>(rough.west, rough.south, rough.east, rough.north, "EPSG:4258");
}

AreaProj::~AreaProj() = default;

QPointF AreaProj::moved(double easting, double northing) const {
    const PJ_XY p = (*m_proj)(easting, northing);
    return {p.x, p.y};
}

QPointF AreaProj::back(double longitude, double latitude) const {
    const PJ_XY p = m_proj->inverse(longitude, latitude);
    return {p.x, p.y};
}

QPointF WebMercator(double longitude, double latitude) {
    const double a = 6378137.0;
    const double rad = 3.14159265358979323846 / 180.0;
    return {a * longitude * rad,
            a * std::log(std::tan(3.14159265358979323846 / 4 + latitude * rad / 2))};
}

bool RunProgram(const QString& program, const QStringList& arguments, QByteArray* output,
                const char* package) {
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty()) {
        ADD_FAILURE() << program.toStdString() << " is missing: install Debian's " << package;
        return false;
    }
    QProcess process;
    process.start(found, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << ' ' << arguments.join(u' ').toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return false;
    }
    *output = process.readAllStandardOutput();
    return true;
}

std::vector<QColor> LocationColours(const QString& path, const std::vector<QPointF>& points,
                                    bool georeferenced, int overview) {
    QStringList arguments{QStringLiteral("-valonly"), QStringLiteral("-b"), QStringLiteral("1"),
                          QStringLiteral("-b"),       QStringLiteral("2"),  QStringLiteral("-b"),
                          QStringLiteral("3")};
    if (georeferenced) {
        arguments << QStringLiteral("-geoloc");
    }
    if (overview > 0) {
        arguments << QStringLiteral("-overview") << QString::number(overview);
    }
    arguments << path;
    QByteArray input;
    for (const QPointF& p : points) {
        input += QByteArray::number(p.x(), 'f', 6) + ' ' + QByteArray::number(p.y(), 'f', 6) + '\n';
    }
    QProcess process;
    process.start(QStandardPaths::findExecutable(QStringLiteral("gdallocationinfo")), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << "gdallocationinfo failed on " << path.toStdString() << ": "
                      << process.readAllStandardError().toStdString();
        return {};
    }
    const QList<QByteArray> values = process.readAllStandardOutput().split('\n');
    std::vector<QColor> colours;
    for (size_t i = 0; i < points.size(); ++i) {
        const qsizetype at = static_cast<qsizetype>(3 * i);
        if (at + 2 >= values.size() || values[at].trimmed().isEmpty()) {
            ADD_FAILURE() << "gdallocationinfo gave no value at " << points[i].x() << ' '
                          << points[i].y() << " in " << path.toStdString();
            return {};
        }
        colours.emplace_back(values[at].trimmed().toInt(), values[at + 1].trimmed().toInt(),
                             values[at + 2].trimmed().toInt());
    }
    return colours;
}

int ProjectedCsTypeKey(const QString& path) {
    const QByteArray d = ReadAll(path);
    const auto u16 = [&d](qsizetype at) {
        return at + 2 <= d.size() ? static_cast<uchar>(d[at]) | (static_cast<uchar>(d[at + 1]) << 8)
                                  : -1;
    };
    const auto u32 = [&](qsizetype at) {
        return at + 4 <= d.size()
                   ? static_cast<qsizetype>(static_cast<quint32>(u16(at)) |
                                            (static_cast<quint32>(u16(at + 2)) << 16))
                   : -1;
    };
    // A classic little-endian TIFF, as GDAL writes one this small.
    if (!d.startsWith(QByteArray("II*\0", 4))) {
        return 0;
    }
    const qsizetype ifd = u32(4);
    const int entries = u16(ifd);
    for (int i = 0; i < entries; ++i) {
        const qsizetype entry = ifd + 2 + 12 * i;
        constexpr int kGeoKeyDirectoryTag = 34735;
        if (u16(entry) != kGeoKeyDirectoryTag) {
            continue;
        }
        // Version, revision, minor revision and key count, then four shorts per key: the
        // key, where its value lies (0: in the entry itself), a count and the value.
        const qsizetype keys = u32(entry + 8);
        const int count = u16(keys + 6);
        for (int k = 0; k < count; ++k) {
            const qsizetype key = keys + 8 + 8 * k;
            constexpr int kProjectedCsTypeGeoKey = 3072;
            if (u16(key) == kProjectedCsTypeGeoKey && u16(key + 2) == 0) {
                return u16(key + 6);
            }
        }
    }
    return 0;
}

double Luma(const QColor& c) {
    return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue();
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
