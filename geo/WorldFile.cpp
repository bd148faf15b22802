#include "geo/WorldFile.h"

#include "geo/CalibrationFile.h"
#include "geo/CalibrationText.h"

#include <QStringList>

namespace {

// Fifteen significant digits round-trip through a double, so the text never shows noise
// such as 0.10000000000000001, and still resolves far below a millimetre here.
constexpr int kWorldFileDigits = 15;

// What `projinfo -o WKT1_ESRI EPSG:23030` prints.
const char kEsriWkt[] =
    R"(PROJCS["ED_1950_UTM_Zone_30N",GEOGCS["GCS_European_1950",DATUM["D_European_1950",)"
    R"(SPHEROID["International_1924",6378388.0,297.0]],PRIMEM["Greenwich",0.0],)"
    R"(UNIT["Degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],)"
    R"(PARAMETER["False_Easting",500000.0],PARAMETER["False_Northing",0.0],)"
    R"(PARAMETER["Central_Meridian",-3.0],PARAMETER["Scale_Factor",0.9996],)"
    R"(PARAMETER["Latitude_Of_Origin",0.0],UNIT["Meter",1.0]])";

// What `projinfo -o WKT1_GDAL EPSG:23030` prints: the same CRS with its EPSG codes, which
// ESRI's form leaves for the reader to guess.
const char kGdalWkt[] =
    R"(PROJCS["ED50 / UTM zone 30N",GEOGCS["ED50",DATUM["European_Datum_1950",)"
    R"(SPHEROID["International 1924",6378388,297,AUTHORITY["EPSG","7022"]],)"
    R"(AUTHORITY["EPSG","6230"]],PRIMEM["Greenwich",0,AUTHORITY["EPSG","8901"]],)"
    R"(UNIT["degree",0.0174532925199433,AUTHORITY["EPSG","9122"]],AUTHORITY["EPSG","4230"]],)"
    R"(PROJECTION["Transverse_Mercator"],PARAMETER["latitude_of_origin",0],)"
    R"(PARAMETER["central_meridian",-3],PARAMETER["scale_factor",0.9996],)"
    R"(PARAMETER["false_easting",500000],PARAMETER["false_northing",0],)"
    R"(UNIT["metre",1,AUTHORITY["EPSG","9001"]],AXIS["Easting",EAST],AXIS["Northing",NORTH],)"
    R"(AUTHORITY["EPSG","23030"]])";

bool Fail(QString* error, const QString& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

} // namespace

QByteArray WorldFileBytes(const CalibrationCornerList& corners) {
    const CalibrationPoint& upperLeft = corners[0];
    const CalibrationPoint& upperRight = corners[1];
    const CalibrationPoint& lowerLeft = corners[3];
    if (upperRight.x == 0 || lowerLeft.y == 0) {
        return {};
    }
    const double across =
        (static_cast<double>(upperRight.easting) - static_cast<double>(upperLeft.easting)) /
        static_cast<double>(upperRight.x);
    const double down =
        (static_cast<double>(lowerLeft.northing) - static_cast<double>(upperLeft.northing)) /
        static_cast<double>(lowerLeft.y);
    // The world file places pixel centres; the corners are the image's outer edges.
    const double centreEasting = static_cast<double>(upperLeft.easting) + across / 2.0;
    const double centreNorthing = static_cast<double>(upperLeft.northing) + down / 2.0;

    QStringList lines;
    for (const double value : {across, 0.0, 0.0, down, centreEasting, centreNorthing}) {
        lines << ShortestDecimal(value, kWorldFileDigits);
    }
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1();
}

QByteArray Ed50Utm30PrjBytes() {
    return QByteArray(kEsriWkt);
}

QByteArray Ed50Utm30AuxXmlBytes() {
    return QByteArray("<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"1,2\">") + kGdalWkt +
           "</SRS>\n</PAMDataset>\n";
}

bool WriteWorldFiles(const CalibrationCornerList& corners, const QString& folder,
                     const QString& baseName, QString* error, QStringList* replacedLinks) {
    const QByteArray worldFile = WorldFileBytes(corners);
    if (worldFile.isEmpty()) {
        return Fail(error, QStringLiteral("La imagen no tiene tamaño"));
    }
    return ReplaceFile(folder, baseName + QStringLiteral(".bpw"), worldFile, error,
                       replacedLinks) &&
           ReplaceFile(folder, baseName + QStringLiteral(".prj"), Ed50Utm30PrjBytes(), error,
                       replacedLinks) &&
           ReplaceFile(folder, baseName + QStringLiteral(".bmp.aux.xml"), Ed50Utm30AuxXmlBytes(),
                       error, replacedLinks);
}
