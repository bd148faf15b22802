#include "geo/uCalibra.h"

#include "geo/CalibrationFile.h"
#include "geo/CalibrationText.h"
#include "geo/uClaseElipsoide.h"
#include "job/DownloadJob.h"

#include <QDir>

namespace {

const QString kEol = QStringLiteral("\r\n");

// The last of the 30 point lines a .map file always has.
constexpr int kOziPointLines = 30;

// Decimals of the corner coordinates in the .map file and of the reals of the .imp file.
constexpr int kDegreeDecimals = 6;
constexpr int kImpDecimals = 8;

// The corner coordinates always come from zone 30, the only zone the program works in.
constexpr int32_t kCornerZone = 30;

QString OziPointLine(int k, const CalibrationPoint& p, int32_t zone) {
    return QStringLiteral("Point0") + DecimalInteger(k) + QStringLiteral(",xy,") +
           RightAligned(p.x, 5) + u',' + RightAligned(p.y, 5) +
           QStringLiteral(",in, deg,    ,        ,N,    ,        ,W, grid, ") +
           RightAligned(zone, 2) + u',' + RightAligned(p.easting, 11) + u',' +
           RightAligned(p.northing, 11) + QStringLiteral(",N");
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

QString ImpReal(int32_t value) {
    return FixedDecimals(static_cast<double>(value), kImpDecimals);
}

} // namespace

QByteArray OziExplorerMapBytes(const CalibrationPointList& points,
                               const CalibrationCornerList& corners, const QString& projectionName,
                               const QString& datumName, const QString& title,
                               const QString& folder, const QString& /*fileName*/,
                               const QString& imageFileName, int32_t zone) {
    QStringList lines;
    lines << QStringLiteral("OziExplorer Map Data File Version 2.2") << title
          << QDir::toNativeSeparators(PathPrefix(folder) + imageFileName)
          << QStringLiteral("1 ,Map Code,")
          << datumName + QStringLiteral(",WGS 84,   0.0000,   0.0000,WGS 84")
          << QStringLiteral("Reserved 1") << QStringLiteral("Reserved 2")
          << QStringLiteral("Magnetic Variation,,,E")
          << QStringLiteral("Map Projection,") + projectionName +
                 QStringLiteral(",PolyCal,No,AutoCalOnly,No,BSBUseWPX,No");

    // Numbering follows the entry, so an empty entry keeps its place.
    for (int k = 1; k <= kCalibrationPointCount; ++k) {
        const CalibrationPoint& p = points[static_cast<std::size_t>(k - 1)];
        lines << (p.empty() ? OziEmptyPointLine(k) : OziPointLine(k, p, zone));
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
    {
        // The International 1924 ellipsoid on the northern UTM grid. It keeps working state
        // per conversion, so it lives only for these four lines.
        TElipsoide converter(6378388.0, 297.0, 500000.0, 0.0, 0.9996, 6, -177);
        for (int k = 1; k <= kCalibrationCornerCount; ++k) {
            const CalibrationPoint& c = corners[static_cast<std::size_t>(k - 1)];
            double latitude = 0.0;
            double longitude = 0.0;
            converter.GeograficasDecimales(c.easting, c.northing, kCornerZone, latitude, longitude);
            lines << QStringLiteral("MMPLL,") + DecimalInteger(k) + u',' +
                         FixedDecimals(longitude, kDegreeDecimals) + u',' +
                         FixedDecimals(latitude, kDegreeDecimals);
        }
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

QByteArray CompeGpsImpBytes(const CalibrationPointList& points,
                            const CalibrationCornerList& corners, const QString& projectionName,
                            const QString& datumName, const QString& zoneLetter,
                            const QString& /*folder*/, const QString& /*fileName*/,
                            const QString& imageFileName, int32_t zone) {
    QStringList lines;
    lines << QStringLiteral("CompeGPS MAP File") << QStringLiteral("<Header>")
          << QStringLiteral("Version=2")
          << QStringLiteral("Projection=0,") + projectionName + u',' + DecimalInteger(zone) + u','
          << QStringLiteral("Coordinates=0") << QStringLiteral("Datum=") + datumName
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
        lines << u'P' + DecimalInteger(i - 1) + u'=' + ImpReal(p.x) + u',' + ImpReal(p.y) + u',' +
                     DecimalInteger(zone) + zoneLetter + u',' + ImpReal(p.easting) + u',' +
                     ImpReal(p.northing);
    }
    lines << QStringLiteral("</Calibration>");

    return ToWindows1252(lines.join(kEol) + kEol);
}

bool WriteOziExplorerMap(const CalibrationPointList& points, const CalibrationCornerList& corners,
                         const QString& projectionName, const QString& datumName,
                         const QString& title, const QString& folder, const QString& fileName,
                         const QString& imageFileName, int32_t zone, OverwriteQuestion& question,
                         QString* error) {
    const OverwritePrompt prompt{
        QStringLiteral("Generar fichero de calibración para OziExplorer"),
        QStringLiteral("El fichero de calibración para OziExplorer ya existe. ¿ Sobreescribir ?")};
    return SaveCalibrationFile(
        folder, fileName, prompt, question,
        [&] {
            return OziExplorerMapBytes(points, corners, projectionName, datumName, title, folder,
                                       fileName, imageFileName, zone);
        },
        error);
}

bool WriteCompeGpsImp(const CalibrationPointList& points, const CalibrationCornerList& corners,
                      const QString& projectionName, const QString& datumName,
                      const QString& zoneLetter, const QString& folder, const QString& fileName,
                      const QString& imageFileName, int32_t zone, OverwriteQuestion& question,
                      QString* error) {
    const OverwritePrompt prompt{
        QStringLiteral("Generar fichero de calibración para CompeGPS"),
        QStringLiteral("El fichero de calibración para CompeGPS ya existe. ¿ Sobreescribir ?")};
    return SaveCalibrationFile(
        folder, fileName, prompt, question,
        [&] {
            return CompeGpsImpBytes(points, corners, projectionName, datumName, zoneLetter, folder,
                                    fileName, imageFileName, zone);
        },
        error);
}
