#include "tests/geo/GeoTestTools.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

PlainProj::PlainProj(double lonWest, double latSouth, double lonEast, double latNorth,
                     const char* target)
    : m_context(proj_context_create()) {
    proj_context_set_enable_network(m_context, 0);
    PJ_AREA* area = proj_area_create();
    proj_area_set_bbox(area, lonWest, latSouth, lonEast, latNorth);
    PJ* raw = proj_create_crs_to_crs(m_context, "EPSG:23030", target, area);
    proj_area_destroy(area);
    if (raw != nullptr) {
        m_op = proj_normalize_for_visualization(m_context, raw);
        proj_destroy(raw);
    }
    EXPECT_NE(m_op, nullptr) << "PROJ cannot go to " << target;
}

PlainProj::~PlainProj() {
    proj_destroy(m_op);
    proj_context_destroy(m_context);
}

PJ_XY PlainProj::operator()(double easting, double northing) const {
    return proj_trans(m_op, PJ_FWD, proj_coord(easting, northing, 0, 0)).xy;
}

PJ_XY PlainProj::inverse(double x, double y) const {
    return proj_trans(m_op, PJ_INV, proj_coord(x, y, 0, 0)).xy;
}

bool RunGdalTool(const QString& tool, const QStringList& arguments, QByteArray* output) {
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty()) {
        ADD_FAILURE() << tool.toStdString()
                      << " is missing: install Debian's gdal-bin (./test.sh installs it)";
        return false;
    }
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        ADD_FAILURE() << tool.toStdString() << ' ' << arguments.join(u' ').toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return false;
    }
    *output = process.readAllStandardOutput();
    return true;
}

bool GdalInfo(const QString& path, QJsonObject* report) {
    QByteArray json;
    if (!RunGdalTool(QStringLiteral("gdalinfo"), {QStringLiteral("-json"), path}, &json)) {
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        ADD_FAILURE() << "gdalinfo gave no JSON object: " << parseError.errorString().toStdString();
        return false;
    }
    *report = document.object();
    return true;
}

std::array<QPointF, 4> ReportedCorners(const QJsonObject& report) {
    const QJsonObject corners = report.value(QStringLiteral("cornerCoordinates")).toObject();
    std::array<QPointF, 4> points{};
    const char* const names[] = {"upperLeft", "upperRight", "lowerRight", "lowerLeft"};
    for (std::size_t i = 0; i < points.size(); ++i) {
        const QJsonArray xy = corners.value(QLatin1String(names[i])).toArray();
        EXPECT_EQ(xy.size(), 2) << names[i];
        points[i] = QPointF(xy.at(0).toDouble(), xy.at(1).toDouble());
    }
    return points;
}

bool WriteWhiteBmp(const QString& path, int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(Qt::white);
    if (!image.save(path, "BMP")) {
        ADD_FAILURE() << "cannot write " << path.toStdString();
        return false;
    }
    // The program's own BMP is 24-bit; a reader might treat another depth differently.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return false;
    }
    const QByteArray header = file.read(30);
    EXPECT_EQ(header.size(), 30);
    EXPECT_EQ(header.mid(28, 2), QByteArray("\x18\x00", 2)) << "bits per pixel";
    return header.size() == 30 && header.mid(28, 2) == QByteArray("\x18\x00", 2);
}

bool OgrInfo(const QString& path, QString* layerSrs, std::vector<OgrFeature>* features) {
    QByteArray text;
    if (!RunGdalTool(QStringLiteral("ogrinfo"),
                     {QStringLiteral("-ro"), QStringLiteral("-al"), path}, &text)) {
        return false;
    }
    static const QRegularExpression field(QStringLiteral("^  (\\S+) \\([A-Za-z]+\\) = (.*)$"));
    features->clear();
    layerSrs->clear();
    bool inSrs = false;
    for (const QString& line : QString::fromUtf8(text).split(u'\n')) {
        if (line.startsWith(QLatin1String("Layer SRS WKT:"))) {
            inSrs = true;
        } else if (line.startsWith(QLatin1String("OGRFeature("))) {
            inSrs = false;
            features->emplace_back();
        } else if (inSrs) {
            *layerSrs += line;
        } else if (!features->empty()) {
            const QRegularExpressionMatch m = field.match(line);
            if (m.hasMatch()) {
                features->back().fields.insert(m.captured(1), m.captured(2));
            } else if (line.startsWith(QLatin1String("  POLYGON")) ||
                       line.startsWith(QLatin1String("  MULTIPOLYGON"))) {
                features->back().geometry = line.trimmed();
            }
        }
    }
    return true;
}

std::vector<QPointF> OuterRing(const QString& polygonWkt) {
    std::vector<QPointF> points;
    const int open = polygonWkt.indexOf(QLatin1String("(("));
    const int close = polygonWkt.indexOf(u')', open);
    if (open < 0 || close < 0) {
        ADD_FAILURE() << "no polygon in " << polygonWkt.toStdString();
        return points;
    }
    for (const QString& pair : polygonWkt.mid(open + 2, close - open - 2).split(u',')) {
        const QStringList xy = pair.trimmed().split(u' ');
        EXPECT_GE(xy.size(), 2) << pair.toStdString();
        if (xy.size() >= 2) {
            points.emplace_back(xy.at(0).toDouble(), xy.at(1).toDouble());
        }
    }
    return points;
}
