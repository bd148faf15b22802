// Tracks read through GDAL's drivers (GPX 1.0 and 1.1, KML, KMZ) and laid on the ED50 /
// UTM zone 30 grid by the calibration's datum change run backwards, against PROJ's own
// transformation; files that are no track; the area fitted to a track.
#include "geo/DatumChange.h"
#include "geo/TrackFile.h"
#include "tests/geo/GeoTestTools.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>

namespace {

QString Fixture(const char* name) {
    return QStringLiteral(MORVEL_TEST_DATA_DIR "/tracks/") + QLatin1String(name);
}

std::unique_ptr<DatumChange> MapChange() {
    const GroundRect reach = MapReach();
    QString error;
    auto change = DatumChange::ForArea(reach.west, reach.south, reach.east, reach.north, &error);
    EXPECT_TRUE(change) << error.toStdString();
    return change;
}

// PROJ's own choice over the map's ground, from ETRS89 degrees to ED50 / UTM 30 metres.
const PlainProj& Reference() {
    static const PlainProj proj(-2.8, 40.7, 0.8, 43.6, "EPSG:4258");
    return proj;
}

size_t PointCount(const TrackData& t) {
    size_t n = t.points.size();
    for (const auto& line : t.lines) {
        n += line.size();
    }
    return n;
}

struct TrackCase {
    const char* file;
    size_t lines;
    size_t linePoints; // in all lines
    size_t points;
};

void PrintTo(const TrackCase& c, std::ostream* os) {
    *os << c.file;
}

// What each fixture holds (see tests/data/tracks/README.md).
const TrackCase kTracks[] = {
    {"loop.gpx", 2, 50, 0},     // GPX 1.1, one track of two segments
    {"zone31.gpx", 1, 11, 0},   // GPX 1.0, a route
    {"waypoints.gpx", 0, 0, 3}, // waypoints only
    {"route.kml", 1, 4, 1},     // a path and a placemark
    {"route.kmz", 1, 4, 1},     // the same in a KMZ
};

class TrackFile : public ::testing::TestWithParam<TrackCase> {};

TEST_P(TrackFile, ReadsEveryLineAndPointAndLaysThemAsPlainProjDoes) {
    const TrackCase& c = GetParam();
    const TrackRead read = ReadTrackFile(Fixture(c.file));
    ASSERT_TRUE(read.track) << read.error.toStdString();
    const TrackData& t = *read.track;
    EXPECT_EQ(t.lines.size(), c.lines);
    size_t linePoints = 0;
    for (const auto& line : t.lines) {
        linePoints += line.size();
    }
    EXPECT_EQ(linePoints, c.linePoints);
    EXPECT_EQ(t.points.size(), c.points);

    const auto change = MapChange();
    ASSERT_TRUE(change);
    const GroundTrack ground = TrackOnGrid(t, *change);
    EXPECT_EQ(ground.dropped, 0);
    std::vector<GeoPoint> all = t.points;
    std::vector<GroundPoint> placed = ground.points;
    for (size_t i = 0; i < t.lines.size(); ++i) {
        all.insert(all.end(), t.lines[i].begin(), t.lines[i].end());
        placed.insert(placed.end(), ground.lines[i].begin(), ground.lines[i].end());
    }
    ASSERT_EQ(placed.size(), PointCount(t));
    double west = 1e9;
    double east = -1e9;
    for (size_t i = 0; i < all.size(); ++i) {
        const PJ_XY expected = Reference().inverse(all[i].longitude, all[i].latitude);
        EXPECT_NEAR(placed[i].easting, expected.x, 0.01) << i;
        EXPECT_NEAR(placed[i].northing, expected.y, 0.01) << i;
        west = std::min(west, expected.x);
        east = std::max(east, expected.x);
    }
    EXPECT_NEAR(ground.extent.west, west, 0.01);
    EXPECT_NEAR(ground.extent.east, east, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TrackFile, ::testing::ValuesIn(kTracks));

TEST(TrackFile, ALineIntoZone31KeepsZone30Metres) {
    const TrackRead read = ReadTrackFile(Fixture("zone31.gpx"));
    ASSERT_TRUE(read.track);
    const auto change = MapChange();
    const GroundTrack ground = TrackOnGrid(*read.track, *change);
    ASSERT_EQ(ground.lines.size(), 1u);
    const auto& line = ground.lines.front();
    // From 0.40° W to 0.30° E: past the meridian 0, zone 30's eastings go on growing
    // (past 740 km) instead of starting again at zone 31's 500 km.
    EXPECT_GT(read.track->lines.front().back().longitude, 0.0);
    for (size_t i = 1; i < line.size(); ++i) {
        EXPECT_GT(line[i].easting - line[i - 1].easting, 5000.0) << i;
    }
    EXPECT_GT(line.back().easting, 740000.0);
    EXPECT_TRUE(MapReach().contains(line.back()));
}

struct Unusable {
    const char* what;
    QByteArray content; // written to a file of the name below; null: the fixture itself
    const char* name;
    const char* reason;
};

void PrintTo(const Unusable& c, std::ostream* os) {
    *os << c.what;
}

QByteArray TruncatedLongTrack() {
    // Far more than GDAL reads to recognise the file, cut in the middle of a point.
    QByteArray gpx = "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"t\" "
                     "xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n";
    for (int i = 0; i < 4000; ++i) {
        gpx += QStringLiteral("<trkpt lat=\"%1\" lon=\"%2\"><ele>500</ele></trkpt>\n")
                   .arg(42.7 + i * 1e-5, 0, 'f', 6)
                   .arg(-1.6 + i * 1e-5, 0, 'f', 6)
                   .toLatin1();
    }
    return gpx + "<trkpt lat=\"42.8\" lo";
}

const Unusable kUnusable[] = {
    {"damaged GPX", {}, "damaged.gpx", "el fichero está dañado (error en la línea 31)"},
    {"cut short after the start", TruncatedLongTrack(), "cortado.gpx", "el fichero está dañado"},
    {"not a track", {}, "notatrack.gpx", "no es un fichero GPX, KML ni KMZ"},
    {"empty", QByteArray(""), "vacio.gpx", "el fichero está vacío"},
    {"no geometry",
     "<?xml version=\"1.0\"?><gpx version=\"1.1\" creator=\"t\" "
     "xmlns=\"http://www.topografix.com/GPX/1/1\"><metadata><name>x</name></metadata></gpx>",
     "nada.gpx", "no contiene ningún track, ruta ni punto"},
    {"latitude out of range",
     "<?xml version=\"1.0\"?><gpx version=\"1.1\" creator=\"t\" "
     "xmlns=\"http://www.topografix.com/GPX/1/1\"><wpt lat=\"142.8\" lon=\"-1.6\"/></gpx>",
     "lejos.gpx", "el fichero tiene coordenadas fuera de límites"},
    {"a KMZ that is no zip", "PK\x03\x04 roto", "roto.kmz", "no es un fichero GPX, KML ni KMZ"},
    {"missing", {}, "no-existe.gpx", "el fichero no existe"},
};

class UnusableTrack : public ::testing::TestWithParam<Unusable> {};

TEST_P(UnusableTrack, IsRefusedWithTheReason) {
    const Unusable& c = GetParam();
    QTemporaryDir dir;
    QString path = Fixture(c.name);
    if (!c.content.isNull()) {
        path = dir.filePath(QLatin1String(c.name));
        WriteAll(path, c.content);
    }
    const TrackRead read = ReadTrackFile(path);
    EXPECT_FALSE(read.track);
    EXPECT_TRUE(read.error.startsWith(QString::fromUtf8(c.reason))) << read.error.toStdString();
    EXPECT_EQ(TrackErrorMessage(path, read.error).toStdString(),
              QStringLiteral("No se puede usar la ruta «%1»: %2.")
                  .arg(QLatin1String(c.name), read.error)
                  .toStdString());
}

INSTANTIATE_TEST_SUITE_P(Files, UnusableTrack, ::testing::ValuesIn(kUnusable));

// A file larger on disk than `bytes`, its first bytes `head` and the rest a hole.
void WriteSparse(const QString& path, const QByteArray& head, qint64 bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(head);
    ASSERT_TRUE(file.resize(bytes));
}

// The zip's directory pointing past the file's end.
QByteArray DirectoryPastTheEnd() {
    QByteArray zip = BlankZip("doc.kml", 1000);
    zip[zip.size() - 4] = '\x7f';
    return zip;
}

struct Limited {
    const char* what;
    QByteArray content; // null: the fixture loop.gpx
    qint64 sparseBytes; // the file made this large with a hole after the content
    TrackLimits limits;
    const char* reason; // null: read
};

void PrintTo(const Limited& c, std::ostream* os) {
    *os << c.what;
}

TrackLimits Points(int64_t points) {
    TrackLimits limits;
    limits.points = points;
    return limits;
}

TrackLimits Unpacked(qint64 member, qint64 all, int members = 1000) {
    TrackLimits limits;
    limits.kmlBytes = member;
    limits.unpackedBytes = all;
    limits.members = members;
    return limits;
}

const QByteArray kGpxHead = "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"t\">";
const QByteArray kKmlHead = "<?xml version=\"1.0\"?>\n<kml><Document>";

// The 1.5 MB that unpack to 1.5 GB took 3.1 GB and 20 s before: now nothing is unpacked.
const Limited kLimited[] = {
    {"a zip bomb",
     BlankZip("doc.kml", 1'500'000'000),
     0,
     {},
     "«doc.kml» ocupa más de 32 MB descomprimido"},
    {"a zip bomb in ZIP64 fields",
     BlankZip("doc.kml", 1'500'000'000, true),
     0,
     {},
     "«doc.kml» ocupa más de 32 MB descomprimido"},
    {"a KMZ whose members unpack past the limit of all", BlankZip("doc.kml", 2'000'000), 0,
     Unpacked(3'000'000, 1'000'000), "el KMZ ocupa más de 1 MB descomprimido"},
    {"a KMZ of more files than the limit", BlankZip("doc.kml", 1000), 0, Unpacked(1000, 1000, 0),
     "el KMZ tiene más de 0 ficheros"},
    {"a zip whose directory lies past its end", DirectoryPastTheEnd(), 0, {}, "el KMZ está dañado"},
    {"a GPX past 128 MB", kGpxHead, 128'000'001, {}, "el fichero ocupa más de 128 MB"},
    {"a KML past 32 MB", kKmlHead, 32'000'001, {}, "el fichero ocupa más de 32 MB"},
    {"a KMZ past 32 MB", "PK\x03\x04", 32'000'001, {}, "el fichero ocupa más de 32 MB"},
    {"a track of more points than the limit", {}, 0, Points(49), "la ruta tiene más de 49 puntos"},
    {"a track of as many points as the limit", {}, 0, Points(50), nullptr},
};

class LimitedTrack : public ::testing::TestWithParam<Limited> {};

TEST_P(LimitedTrack, IsRefusedBeforeItsReadersTakeIt) {
    const Limited& c = GetParam();
    QTemporaryDir dir;
    QString path = Fixture("loop.gpx");
    if (!c.content.isNull()) {
        path = dir.filePath(QStringLiteral("ruta.kmz"));
        if (c.sparseBytes > 0) {
            WriteSparse(path, c.content, c.sparseBytes);
        } else {
            WriteAll(path, c.content);
        }
    }
    const TrackRead read = ReadTrackFile(path, c.limits);
    if (c.reason == nullptr) {
        EXPECT_TRUE(read.track) << read.error.toStdString();
        return;
    }
    EXPECT_FALSE(read.track);
    EXPECT_EQ(read.error.toStdString(), c.reason);
}

INSTANTIATE_TEST_SUITE_P(Files, LimitedTrack, ::testing::ValuesIn(kLimited));

TEST(DatumChange, FromGeographicIsPlainProjsInverseAndUndoesToGeographic) {
    const auto change = MapChange();
    ASSERT_TRUE(change);
    // Pamplona, the Pyrenees, the Ebro, and a point of zone 31 near Lleida.
    const GeoPoint places[] = {{42.8125, -1.6458}, {43.0, -0.9}, {41.65, -0.88}, {41.6, 0.6}};
    for (const GeoPoint& g : places) {
        SCOPED_TRACE(testing::Message() << g.latitude << ", " << g.longitude);
        double e = 0;
        double n = 0;
        ASSERT_TRUE(change->fromGeographic(g, &e, &n));
        const PJ_XY expected = Reference().inverse(g.longitude, g.latitude);
        EXPECT_NEAR(e, expected.x, 0.01);
        EXPECT_NEAR(n, expected.y, 0.01);
        GeoPoint back;
        ASSERT_TRUE(change->toGeographic(e, n, &back));
        // The seven parameters are undone to first order: about a millimetre.
        EXPECT_NEAR(back.latitude, g.latitude, 1e-7);
        EXPECT_NEAR(back.longitude, g.longitude, 1e-7);
    }
}

} // namespace

namespace {

struct FitCase {
    const char* file;
    int32_t tileSize;
    double margin;
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.file << " " << c.tileSize << " m, margin " << c.margin;
}

const FitCase kFits[] = {
    {"loop.gpx", 1000, 500},    {"loop.gpx", 500, 0},         {"loop.gpx", 2000, 1500},
    {"loop.gpx", 250, 500},     {"waypoints.gpx", 5000, 500}, {"route.kmz", 1000, 500},
    {"zone31.gpx", 10000, 500}, {"zone31.gpx", 2000, 500},
};

class TrackFit : public ::testing::TestWithParam<FitCase> {};

// The extent through PROJ's own transformation, grown by the margin, each edge out to the
// next multiple of the coverage.
TEST_P(TrackFit, IsTheSmallestGridHoldingTheTrackAndItsMargin) {
    const FitCase& c = GetParam();
    const TrackRead read = ReadTrackFile(Fixture(c.file));
    ASSERT_TRUE(read.track);
    double west = 1e12;
    double south = 1e12;
    double east = -1e12;
    double north = -1e12;
    const auto add = [&](const GeoPoint& g) {
        const PJ_XY p = Reference().inverse(g.longitude, g.latitude);
        west = std::min(west, p.x);
        east = std::max(east, p.x);
        south = std::min(south, p.y);
        north = std::max(north, p.y);
    };
    std::for_each(read.track->points.begin(), read.track->points.end(), add);
    for (const auto& line : read.track->lines) {
        std::for_each(line.begin(), line.end(), add);
    }
    const double s = c.tileSize;
    const double w = std::floor((west - c.margin) / s) * s;
    const double e = std::ceil((east + c.margin) / s) * s;
    const double so = std::floor((south - c.margin) / s) * s;
    const double n = std::ceil((north + c.margin) / s) * s;
    const int across = static_cast<int>((e - w) / s);
    const int down = static_cast<int>((n - so) / s);

    const auto change = MapChange();
    const GroundTrack ground = TrackOnGrid(*read.track, *change);
    const ::TrackFit fit = FitTrackArea(ground.extent, c.tileSize, c.margin);
    if (across > 10 || down > 10) {
        EXPECT_FALSE(fit.grid);
        EXPECT_TRUE(fit.message.contains(QStringLiteral("necesita %1 × %2").arg(across).arg(down)))
            << fit.message.toStdString();
        return;
    }
    ASSERT_TRUE(fit.grid) << fit.message.toStdString();
    EXPECT_EQ(fit.grid->easting, w);
    EXPECT_EQ(fit.grid->northing, n);
    EXPECT_EQ(fit.grid->across, across);
    EXPECT_EQ(fit.grid->down, down);
}

INSTANTIATE_TEST_SUITE_P(Tracks, TrackFit, ::testing::ValuesIn(kFits));

} // namespace
