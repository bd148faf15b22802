// The Garmin KMZ, read as a handheld reads it: one doc.kml at the root of the zip, whose
// ground overlays name baseline JPEG images of at most 1024 x 1024 pixels and 3 MB, their
// boxes inside the area moved to WGS 84 through the calibration's datum change (a device
// takes no transparency: nothing outside the map may be drawn over its own) and covering at
// least 97 % of it.
#include "tests/download/JpegStructure.h"
#include "tests/exports/ExportTestSupport.h"

#include <QDate>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

struct Overlay {
    QString name;
    int drawOrder = -1;
    QString href;
    double north = NAN, south = NAN, east = NAN, west = NAN;
};

QStringList ZipEntries(const QString& kmz) {
    QByteArray listing;
    if (!RunProgram(QStringLiteral("unzip"), {QStringLiteral("-Z1"), kmz}, &listing, "unzip")) {
        return {};
    }
    return QString::fromUtf8(listing).split(u'\n', Qt::SkipEmptyParts);
}

QByteArray ZipEntry(const QString& kmz, const QString& entry) {
    QByteArray bytes;
    EXPECT_TRUE(
        RunProgram(QStringLiteral("unzip"), {QStringLiteral("-p"), kmz, entry}, &bytes, "unzip"));
    return bytes;
}

// The ground overlays of the document, in the order written.
std::vector<Overlay> Overlays(const QByteArray& kml, QString* documentName) {
    std::vector<Overlay> overlays;
    QXmlStreamReader xml(kml);
    QStringList path;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            path << xml.name().toString();
            if (path.join(u'/') == QStringLiteral("kml/Document/GroundOverlay")) {
                overlays.emplace_back();
            }
        } else if (xml.isEndElement()) {
            path.removeLast();
        } else if (xml.isCharacters() && !xml.isWhitespace()) {
            const QString where = path.join(u'/');
            const QString text = xml.text().toString();
            if (where == QStringLiteral("kml/Document/name")) {
                *documentName = text;
            }
            if (overlays.empty() ||
                !where.startsWith(QStringLiteral("kml/Document/GroundOverlay/"))) {
                continue;
            }
            Overlay& o = overlays.back();
            const QString field = where.mid(QStringLiteral("kml/Document/GroundOverlay/").size());
            if (field == QStringLiteral("name"))
                o.name = text;
            if (field == QStringLiteral("drawOrder"))
                o.drawOrder = text.toInt();
            if (field == QStringLiteral("Icon/href"))
                o.href = text;
            if (field == QStringLiteral("LatLonBox/north"))
                o.north = text.toDouble();
            if (field == QStringLiteral("LatLonBox/south"))
                o.south = text.toDouble();
            if (field == QStringLiteral("LatLonBox/east"))
                o.east = text.toDouble();
            if (field == QStringLiteral("LatLonBox/west"))
                o.west = text.toDouble();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return overlays;
}

struct KmzCase {
    ExportCase area;
    int overlays;
};

void PrintTo(const KmzCase& c, std::ostream* os) {
    *os << c.area.name.toStdString();
}

const KmzCase kCases[] = {
    // 1200 x 800 pixels moved: two overlays side by side.
    {{QStringLiteral("3 x 2 tiles of 1000 m"), QStringLiteral("585000"), QStringLiteral("730000"),
      MapKind::Orto, 1, 3, 2},
     2},
    // 30 km of terrain, 1200 x 1200 pixels: four.
    {{QStringLiteral("3 x 3 tiles of 10000 m"), QStringLiteral("560000"), QStringLiteral("760000"),
      MapKind::MDT, 0, 3, 3},
     4},
    // Within one overlay near the central meridian.
    {{QStringLiteral("2 x 2 tiles of 250 m"), QStringLiteral("540000"), QStringLiteral("690000"),
      MapKind::Orto, 3, 2, 2},
     1},
    // Turned 1.1 degrees on the degrees' grid, one overlay would cover 96 % of the area:
    // four smaller ones follow its edges closer.
    {{QStringLiteral("2 x 2 tiles of 250 m far east"), QStringLiteral("640000"),
      QStringLiteral("690000"), MapKind::Orto, 3, 2, 2},
     4},
};

class GarminKmz : public ::testing::TestWithParam<KmzCase> {
protected:
    void SetUp() override {
        input = MakeExportInput(GetParam().area, dir.path());
        result = ExportNow(ExportFormat::GarminKmz, input);
        ASSERT_TRUE(result.ok) << result.error.toStdString();
        kmz = dir.filePath(QStringLiteral("Prueba.kmz"));
    }
    QTemporaryDir dir;
    ExportInput input;
    ExportResult result;
    QString kmz;
};

TEST_P(GarminKmz, HasOneDocKmlAtTheRootListingEveryImageWithADrawOrder) {
    const QStringList entries = ZipEntries(kmz);
    EXPECT_EQ(entries.filter(QRegularExpression(QStringLiteral("\\.kml$"),
                                                QRegularExpression::CaseInsensitiveOption)),
              QStringList{QStringLiteral("doc.kml")});
    EXPECT_EQ(entries.value(0), QStringLiteral("doc.kml")) << "readers take the first KML";
    QString title;
    const std::vector<Overlay> overlays =
        Overlays(ZipEntry(kmz, QStringLiteral("doc.kml")), &title);
    EXPECT_EQ(title, QStringLiteral("Prueba"));
    ASSERT_EQ(overlays.size(), static_cast<size_t>(GetParam().overlays));
    QStringList named;
    for (const Overlay& o : overlays) {
        EXPECT_GE(o.drawOrder, 0) << o.name.toStdString();
        EXPECT_TRUE(entries.contains(o.href)) << o.href.toStdString();
        named << o.href;
    }
    named.removeDuplicates();
    EXPECT_EQ(named.size(), GetParam().overlays);
    EXPECT_EQ(entries.size(), 1 + GetParam().overlays) << entries.join(u' ').toStdString();
    const QString line = result.logLines.value(0);
    const QRegularExpressionMatch logged =
        QRegularExpression(QStringLiteral("con (.+), (\\d+) (imagen|imágenes), bordes sin "
                                          "cubrir: hasta (\\d+) m\\)$"))
            .match(line);
    ASSERT_TRUE(logged.hasMatch()) << line.toStdString();
    EXPECT_EQ(logged.captured(1), input.datum.name);
    EXPECT_EQ(logged.captured(2).toInt(), GetParam().overlays);
    EXPECT_EQ(logged.captured(3),
              GetParam().overlays == 1 ? QStringLiteral("imagen") : QStringLiteral("imágenes"));

    // Every entry dated today, as zip tools show it (not 1980-00-00).
    QByteArray listing;
    ASSERT_TRUE(
        RunProgram(QStringLiteral("zipinfo"), {QStringLiteral("-T"), kmz}, &listing, "unzip"));
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    const QString yesterday = QDate::currentDate().addDays(-1).toString(QStringLiteral("yyyyMMdd"));
    int dated = 0;
    for (const QString& entry : QString::fromUtf8(listing).split(u'\n')) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral(" (\\d{8})\\.\\d{6} (\\S+)$")).match(entry);
        if (m.hasMatch()) {
            ++dated;
            EXPECT_TRUE(m.captured(1) == today || m.captured(1) == yesterday)
                << entry.toStdString();
        }
    }
    EXPECT_EQ(dated, entries.size());
}

TEST_P(GarminKmz, ImagesAreBaselineJpegsWithinTheHandheldsLimits) {
    QString title;
    for (const Overlay& o : Overlays(ZipEntry(kmz, QStringLiteral("doc.kml")), &title)) {
        SCOPED_TRACE(o.href.toStdString());
        const QByteArray jpeg = ZipEntry(kmz, o.href);
        const JpegStructure s = ReadJpegStructure(jpeg);
        EXPECT_TRUE(s.valid);
        EXPECT_EQ(s.frameMarker, 0xC0) << "not baseline";
        EXPECT_EQ(s.frameCount, 1);
        EXPECT_EQ(s.components, 3);
        EXPECT_GT(s.width, 0);
        EXPECT_LE(s.width, 1024);
        EXPECT_GT(s.height, 0);
        EXPECT_LE(s.height, 1024);
        EXPECT_LT(jpeg.size(), 3 * 1024 * 1024);
    }
}

TEST_P(GarminKmz, BoxesLieInsideTheAreaMovedToWgs84AndCoverAtLeast97PerCentOfIt) {
    QString title;
    const std::vector<Overlay> overlays =
        Overlays(ZipEntry(kmz, QStringLiteral("doc.kml")), &title);
    ASSERT_FALSE(overlays.empty());
    // The area's outline moved by PROJ, in degrees, for its size.
    const Ed50Rect r = RectOf(input.job);
    const AreaProj proj(r);
    constexpr int kPerEdge = 50;
    std::vector<QPointF> outline;
    const double corners[][2] = {{r.west, r.north},
                                 {r.east, r.north},
                                 {r.east, r.south},
                                 {r.west, r.south},
                                 {r.west, r.north}};
    for (int edge = 0; edge < 4; ++edge) {
        for (int i = 0; i < kPerEdge; ++i) {
            const double t = static_cast<double>(i) / kPerEdge;
            outline.push_back(
                proj.moved(corners[edge][0] + t * (corners[edge + 1][0] - corners[edge][0]),
                           corners[edge][1] + t * (corners[edge + 1][1] - corners[edge][1])));
        }
    }
    double whole = 0;
    for (size_t i = 0; i < outline.size(); ++i) {
        const QPointF& p = outline[i];
        const QPointF& q = outline[(i + 1) % outline.size()];
        whole += (p.x() * q.y() - q.x() * p.y()) / 2;
    }
    whole = std::fabs(whole);
    // Inside: every point of a box's edges, moved back by PROJ, lies on the image's grid
    // rectangle, to a centimetre. (The area's edges along the grid's rows bend on the
    // degrees' grid: corners alone would not tell.)
    const auto inside = [&](double lon, double lat) {
        const QPointF e = proj.back(lon, lat);
        return e.x() >= r.west - 0.01 && e.x() <= r.east + 0.01 && e.y() >= r.south - 0.01 &&
               e.y() <= r.north + 0.01;
    };
    double covered = 0, degreesAcross = 0, degreesDown = 0;
    for (size_t i = 0; i < overlays.size(); ++i) {
        const Overlay& o = overlays[i];
        SCOPED_TRACE(o.href.toStdString());
        ASSERT_LT(o.west, o.east);
        ASSERT_LT(o.south, o.north);
        constexpr int kSteps = 32;
        for (int k = 0; k <= kSteps; ++k) {
            const double lon = o.west + (o.east - o.west) * k / kSteps;
            const double lat = o.south + (o.north - o.south) * k / kSteps;
            for (const auto& [x, y] :
                 {std::pair{lon, o.north}, {lon, o.south}, {o.west, lat}, {o.east, lat}}) {
                EXPECT_TRUE(inside(x, y)) << x << ", " << y;
            }
        }
        // No two overlap.
        for (size_t k = 0; k < i; ++k) {
            const Overlay& b = overlays[k];
            EXPECT_TRUE(o.west >= b.east - 1e-12 || o.east <= b.west + 1e-12 ||
                        o.south >= b.north - 1e-12 || o.north <= b.south + 1e-12)
                << "overlaps " << b.href.toStdString();
        }
        covered += (o.east - o.west) * (o.north - o.south);
        // Every image's pixels span the same degrees: the boxes are windows of one grid.
        const JpegStructure s = ReadJpegStructure(ZipEntry(kmz, o.href));
        const double across = (o.east - o.west) / s.width;
        const double down = (o.north - o.south) / s.height;
        if (degreesAcross == 0) {
            degreesAcross = across;
            degreesDown = down;
        }
        EXPECT_NEAR(across, degreesAcross, degreesAcross * 1e-6);
        EXPECT_NEAR(down, degreesDown, degreesDown * 1e-6);
    }
    EXPECT_GE(covered / whole, 0.97);
    EXPECT_LE(covered / whole, 1.0);
}

TEST_P(GarminKmz, ShowsEachTileWhereTheDatumChangeMovesIt) {
    QString title;
    const std::vector<Overlay> overlays =
        Overlays(ZipEntry(kmz, QStringLiteral("doc.kml")), &title);
    // Points 16 pixels inside two corners of each tile, as for the MBTiles, found in the
    // image whose box holds them once moved.
    const Ed50Rect r = RectOf(input.job);
    const ExportCase& c = GetParam().area;
    const double tile = (r.east - r.west) / c.across;
    const double inside = 16 * (r.east - r.west) / input.image.width();
    std::vector<std::vector<QPointF>> pixels(overlays.size());
    std::vector<std::vector<QColor>> meant(overlays.size());
    std::vector<JpegStructure> images;
    for (const Overlay& o : overlays) {
        images.push_back(ReadJpegStructure(ZipEntry(kmz, o.href)));
    }
    for (int row = 1; row <= c.down; ++row) {
        for (int column = 1; column <= c.across; ++column) {
            const double west = r.west + (column - 1) * tile;
            const double north = r.north - (row - 1) * tile;
            for (const QPointF& p : {QPointF(west + inside, north - inside),
                                     QPointF(west + tile - inside, north - tile + inside)}) {
                const QPointF g = MovedPoint(r, p.x(), p.y());
                const auto holder =
                    std::find_if(overlays.begin(), overlays.end(), [&](const Overlay& o) {
                        return g.x() >= o.west && g.x() < o.east && g.y() > o.south &&
                               g.y() <= o.north;
                    });
                ASSERT_NE(holder, overlays.end()) << p.x() << " E " << p.y() << " N";
                const size_t i = static_cast<size_t>(holder - overlays.begin());
                pixels[i].emplace_back(
                    (g.x() - holder->west) / (holder->east - holder->west) * images[i].width,
                    (holder->north - g.y()) / (holder->north - holder->south) * images[i].height);
                meant[i].push_back(TileColour(column, row));
            }
        }
    }
    for (size_t i = 0; i < overlays.size(); ++i) {
        if (pixels[i].empty()) {
            continue;
        }
        const QString image = QStringLiteral("/vsizip/") + kmz + u'/' + overlays[i].href;
        const std::vector<QColor> read = LocationColours(image, pixels[i], false);
        ASSERT_EQ(read.size(), pixels[i].size());
        for (size_t k = 0; k < read.size(); ++k) {
            EXPECT_TRUE(NearColour(read[k], meant[i][k], 16))
                << overlays[i].href.toStdString() << " at " << pixels[i][k].x() << ", "
                << pixels[i][k].y() << ": " << read[k].name().toStdString() << " instead of "
                << meant[i][k].name().toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Areas, GarminKmz, ::testing::ValuesIn(kCases),
    [](const ::testing::TestParamInfo<KmzCase>& info) {
        return QString(info.param.area.name).remove(u' ').replace(u'x', u'_').toStdString();
    });

} // namespace
