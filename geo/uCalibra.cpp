#include "geo/uCalibra.h"

#include "geo/CalibrationFile.h"
#include "geo/CalibrationText.h"
#include "geo/DatumChange.h"
#include "geo/uClaseElipsoide.h"
#include "job/DownloadJob.h"

#include <QDir>

#include <algorithm>

namespace {

const QString kEol = QStringLiteral("\r\n");

// The last of the 30 point lines a .map file always has.
constexpr int kOziPointLines = 30;

// Decimals of the reals of the .imp file.
constexpr int kImpDecimals = 8;

// The corner coordinates always come from zone 30, the only zone the program works in; so
// does every value moved to WGS 84.
constexpr int32_t kCornerZone = 30;

// Width of a grid value in a .map point line.
constexpr int kOziGridWidth = 11;

// ED50 as the grid gives it: whole metres, and corners to six decimals of a degree.
constexpr int kEd50GridDecimals = 0;
constexpr int kEd50DegreeDecimals = 6;
// Moved to WGS 84 the values are no longer whole: centimetres, and 1e-7 degree needs eight.
constexpr int kWgs84GridDecimals = 2;
constexpr int kWgs84DegreeDecimals = 8;

const QString kWgs84 = QStringLiteral("WGS 84");

struct GridPosition {
    double easting = 0.0;
    double northing = 0.0;
};

// The ground side of a file: every coordinate it states, in the datum it names, and the
// decimals the .map writes them with. The pixels and the scale come from the lists as
// they are.
struct Ground {
    QString datumName;
    std::array<GridPosition, kCalibrationPointCount> points{};
    std::array<GeoPoint, kCalibrationCornerCount> corners{};
    int gridDecimals = kEd50GridDecimals;
    int degreeDecimals = kEd50DegreeDecimals;
};

Ground Ed50Ground(const CalibrationPointList& points, const CalibrationCornerList& corners,
                  const QString& datumName) {
    Ground g;
    g.datumName = datumName;
    for (std::size_t i = 0; i < points.size(); ++i) {
        g.points[i] = {static_cast<double>(points[i].easting),
                       static_cast<double>(points[i].northing)};
    }
    // The International 1924 ellipsoid on the northern UTM grid. It keeps working state per
    // conversion, so it lives only for these four corners.
    TElipsoide converter(6378388.0, 297.0, 500000.0, 0.0, 0.9996, 6, -177);
    for (std::size_t i = 0; i < corners.size(); ++i) {
        converter.GeograficasDecimales(corners[i].easting, corners[i].northing, kCornerZone,
                                       g.corners[i].latitude, g.corners[i].longitude);
    }
    return g;
}

bool Wgs84Ground(const CalibrationPointList& points, const CalibrationCornerList& corners,
                 const DatumChange& change, Ground* g, QString* error) {
    const auto fail = [error](const CalibrationPoint& p) {
        if (error != nullptr) {
            *error = QStringLiteral("No se puede pasar a ETRS89 el punto %1 E, %2 N")
                         .arg(DecimalInteger(p.easting), DecimalInteger(p.northing));
        }
        return false;
    };
    g->datumName = kWgs84;
    g->gridDecimals = kWgs84GridDecimals;
    g->degreeDecimals = kWgs84DegreeDecimals;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const CalibrationPoint& p = points[i];
        if (!p.empty() &&
            !change.toGrid(p.easting, p.northing, &g->points[i].easting, &g->points[i].northing)) {
            return fail(p);
        }
    }
    for (std::size_t i = 0; i < corners.size(); ++i) {
        if (!change.toGeographic(corners[i].easting, corners[i].northing, &g->corners[i])) {
            return fail(corners[i]);
        }
    }
    return true;
}

// The points of a WGS 84 .map: the ED50 rectangle lies a little turned and bent on the
// ETRS89 grid, which two points cannot tell a reader (a metre off at the far corners of a
// large area), so every corner of the image is a point too, in the first free entries.
CalibrationPointList WithEveryCorner(const CalibrationPointList& points,
                                     const CalibrationCornerList& corners) {
    CalibrationPointList out = points;
    for (const CalibrationPoint& corner : corners) {
        if (std::find(out.begin(), out.end(), corner) != out.end()) {
            continue;
        }
        const auto free = std::find_if(out.begin(), out.end(),
                                       [](const CalibrationPoint& p) { return p.empty(); });
        if (free == out.end()) {
            break;
        }
        *free = corner;
    }
    return out;
}

QString LeftPadded(const QString& text, int width) {
    return text.size() >= width ? text : QString(width - text.size(), u' ') + text;
}

QString OziGridValue(double value, int decimals) {
    return LeftPadded(FixedDecimals(value, decimals), kOziGridWidth);
}

QString OziPointLine(int k, const CalibrationPoint& p, const GridPosition& ground, int decimals,
                     int32_t zone) {
    return QStringLiteral("Point0") + DecimalInteger(k) + QStringLiteral(",xy,") +
           RightAligned(p.x, 5) + u',' + RightAligned(p.y, 5) +
           QStringLiteral(",in, deg,    ,        ,N,    ,        ,W, grid, ") +
           RightAligned(zone, 2) + u',' + OziGridValue(ground.easting, decimals) + u',' +
           OziGridValue(ground.northing, decimals) + QStringLiteral(",N");
}

QString OziEmptyPointLine(int k) {
    const QString number = k < 10 ? QStringLiteral("0") + DecimalInteger(k) : DecimalInteger(k);
    return QStringLiteral("Point") + number +
           QStringLiteral(",xy,     ,     ,in, deg,    ,        ,") +
           QStringLiteral(",    ,        ,, grid,   ,           ,           ,");
}

// Ground metres per pixel across the image. A zero-wide image has no scale; it is
// written as 0 rather than as an infinity no reader understands.
QString OziScale(const CalibrationCornerList& corners) {
    if (corners[1].x == 0) {
        return QStringLiteral("0");
    }
    const double metres =
        static_cast<double>(corners[1].easting) - static_cast<double>(corners[0].easting);
    return ShortestDecimal(metres / static_cast<double>(corners[1].x));
}

QString ImpReal(double value) {
    return FixedDecimals(value, kImpDecimals);
}

QByteArray MapBytes(const CalibrationPointList& points, const CalibrationCornerList& corners,
                    const Ground& ground, const QString& projectionName, const QString& title,
                    const QString& folder, const QString& imageFileName, int32_t zone) {
    QStringList lines;
    lines << QStringLiteral("OziExplorer Map Data File Version 2.2") << title
          << QDir::toNativeSeparators(PathPrefix(folder) + imageFileName)
          << QStringLiteral("1 ,Map Code,")
          << ground.datumName + QStringLiteral(",WGS 84,   0.0000,   0.0000,WGS 84")
          << QStringLiteral("Reserved 1") << QStringLiteral("Reserved 2")
          << QStringLiteral("Magnetic Variation,,,E")
          << QStringLiteral("Map Projection,") + projectionName +
                 QStringLiteral(",PolyCal,No,AutoCalOnly,No,BSBUseWPX,No");

    // Numbering follows the entry, so an empty entry keeps its place.
    for (int k = 1; k <= kCalibrationPointCount; ++k) {
        const CalibrationPoint& p = points[static_cast<std::size_t>(k - 1)];
        lines << (p.empty() ? OziEmptyPointLine(k)
                            : OziPointLine(k, p, ground.points[static_cast<std::size_t>(k - 1)],
                                           ground.gridDecimals, zone));
    }
    for (int k = kCalibrationPointCount + 1; k <= kOziPointLines; ++k) {
        lines << OziEmptyPointLine(k);
    }

    lines << QStringLiteral("Projection Setup,,,,,,,,,,")
          << QStringLiteral("Map Feature = MF ; Map Comment = MC     These follow if they exist")
          << QStringLiteral("Track File = TF      These follow if they exist")
          << QStringLiteral("Moving Map Parameters = MM?    These follow if they exist")
          << QStringLiteral("MM0,Yes") << QStringLiteral("MMPNUM,4");
    for (int k = 1; k <= kCalibrationCornerCount; ++k) {
        const CalibrationPoint& c = corners[static_cast<std::size_t>(k - 1)];
        lines << QStringLiteral("MMPXY,") + DecimalInteger(k) + u',' + DecimalInteger(c.x) + u',' +
                     DecimalInteger(c.y);
    }
    for (int k = 1; k <= kCalibrationCornerCount; ++k) {
        const GeoPoint& c = ground.corners[static_cast<std::size_t>(k - 1)];
        lines << QStringLiteral("MMPLL,") + DecimalInteger(k) + u',' +
                     FixedDecimals(c.longitude, ground.degreeDecimals) + u',' +
                     FixedDecimals(c.latitude, ground.degreeDecimals);
    }
    lines << QStringLiteral("MM1B,") + OziScale(corners) << QStringLiteral("LL Grid Setup")
          << QStringLiteral("LLGRID,No,No Grid,Yes,255,16711680,0,No Labels,0,16777215,7,1,Yes,x")
          << QStringLiteral("Other Grid Setup")
          << QStringLiteral(
                 "GRGRID,No,No Grid,Yes,255,16711680,No Labels,0,16777215,8,1,Yes,No,No,x")
          << QStringLiteral("MOP,Map Open Position,0,0")
          << QStringLiteral("IWH,Map Image Width/Height,") + DecimalInteger(corners[2].x) + u',' +
                 DecimalInteger(corners[2].y);

    return ToWindows1252(lines.join(kEol) + kEol);
}

QByteArray ImpBytes(const CalibrationPointList& points, const CalibrationCornerList& corners,
                    const Ground& ground, const QString& projectionName, const QString& zoneLetter,
                    const QString& imageFileName, int32_t zone) {
    QStringList lines;
    lines << QStringLiteral("CompeGPS MAP File") << QStringLiteral("<Header>")
          << QStringLiteral("Version=2")
          << QStringLiteral("Projection=0,") + projectionName + u',' + DecimalInteger(zone) + u','
          << QStringLiteral("Coordinates=0") << QStringLiteral("Datum=") + ground.datumName
          << QStringLiteral("</Header>") << QStringLiteral("<Map>")
          << QStringLiteral("Bitmap=") + imageFileName
          << QStringLiteral("BitmapWidth=") + DecimalInteger(corners[2].x)
          << QStringLiteral("BitmapHeight=") + DecimalInteger(corners[2].y)
          << QStringLiteral("BitsPerPixel=0") << QStringLiteral("</Map>")
          << QStringLiteral("<Calibration>");
    // The number follows the entry's position, not the count of lines written.
    for (int i = 1; i <= kCalibrationPointCount; ++i) {
        const CalibrationPoint& p = points[static_cast<std::size_t>(i - 1)];
        if (p.empty()) {
            continue;
        }
        const GridPosition& g = ground.points[static_cast<std::size_t>(i - 1)];
        lines << u'P' + DecimalInteger(i - 1) + u'=' + ImpReal(p.x) + u',' + ImpReal(p.y) + u',' +
                     DecimalInteger(zone) + zoneLetter + u',' + ImpReal(g.easting) + u',' +
                     ImpReal(g.northing);
    }
    lines << QStringLiteral("</Calibration>");

    return ToWindows1252(lines.join(kEol) + kEol);
}

OverwritePrompt PromptFor(const QString& program) {
    return {QStringLiteral("Generar fichero de calibración para %1").arg(program),
            QStringLiteral("El fichero de calibración para %1 ya existe. ¿ Sobreescribir ?")
                .arg(program)};
}

bool SaveMap(const CalibrationPointList& points, const CalibrationCornerList& corners,
             const Ground& ground, const QString& projectionName, const QString& title,
             const QString& folder, const QString& fileName, const QString& imageFileName,
             int32_t zone, OverwriteQuestion& question, QString* error,
             QStringList* replacedLinks) {
    return SaveCalibrationFile(
        folder, fileName, PromptFor(QStringLiteral("OziExplorer")), question,
        [&] {
            return MapBytes(points, corners, ground, projectionName, title, folder, imageFileName,
                            zone);
        },
        error, replacedLinks);
}

bool SaveImp(const CalibrationPointList& points, const CalibrationCornerList& corners,
             const Ground& ground, const QString& projectionName, const QString& zoneLetter,
             const QString& folder, const QString& fileName, const QString& imageFileName,
             int32_t zone, OverwriteQuestion& question, QString* error,
             QStringList* replacedLinks) {
    return SaveCalibrationFile(
        folder, fileName, PromptFor(QStringLiteral("CompeGPS")), question,
        [&] {
            return ImpBytes(points, corners, ground, projectionName, zoneLetter, imageFileName,
                            zone);
        },
        error, replacedLinks);
}

} // namespace

QByteArray OziExplorerMapBytes(const CalibrationPointList& points,
                               const CalibrationCornerList& corners, const QString& projectionName,
                               const QString& datumName, const QString& title,
                               const QString& folder, const QString& /*fileName*/,
                               const QString& imageFileName, int32_t zone) {
    return MapBytes(points, corners, Ed50Ground(points, corners, datumName), projectionName, title,
                    folder, imageFileName, zone);
}

QByteArray CompeGpsImpBytes(const CalibrationPointList& points,
                            const CalibrationCornerList& corners, const QString& projectionName,
                            const QString& datumName, const QString& zoneLetter,
                            const QString& /*folder*/, const QString& /*fileName*/,
                            const QString& imageFileName, int32_t zone) {
    return ImpBytes(points, corners, Ed50Ground(points, corners, datumName), projectionName,
                    zoneLetter, imageFileName, zone);
}

bool WriteOziExplorerMap(const CalibrationPointList& points, const CalibrationCornerList& corners,
                         const QString& projectionName, const FileDatum& datum,
                         const QString& title, const QString& folder, const QString& fileName,
                         const QString& imageFileName, int32_t zone, OverwriteQuestion& question,
                         QString* error, QStringList* replacedLinks) {
    if (datum.change == nullptr) {
        return SaveMap(points, corners, Ed50Ground(points, corners, datum.ed50Name), projectionName,
                       title, folder, fileName, imageFileName, zone, question, error,
                       replacedLinks);
    }
    const CalibrationPointList all = WithEveryCorner(points, corners);
    Ground ground;
    return Wgs84Ground(all, corners, *datum.change, &ground, error) &&
           SaveMap(all, corners, ground, projectionName, title, folder, fileName, imageFileName,
                   kCornerZone, question, error, replacedLinks);
}

bool WriteCompeGpsImp(const CalibrationPointList& points, const CalibrationCornerList& corners,
                      const QString& projectionName, const FileDatum& datum,
                      const QString& zoneLetter, const QString& folder, const QString& fileName,
                      const QString& imageFileName, int32_t zone, OverwriteQuestion& question,
                      QString* error, QStringList* replacedLinks) {
    Ground ground;
    if (datum.change == nullptr) {
        ground = Ed50Ground(points, corners, datum.ed50Name);
    } else if (!Wgs84Ground(points, corners, *datum.change, &ground, error)) {
        return false;
    }
    return SaveImp(points, corners, ground, projectionName, zoneLetter, folder, fileName,
                   imageFileName, datum.change == nullptr ? zone : kCornerZone, question, error,
                   replacedLinks);
}
