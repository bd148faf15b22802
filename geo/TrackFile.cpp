#include "geo/TrackFile.h"

#include "gdalbase/GdalBase.h"
#include "geo/DatumChange.h"
#include "geo/ZipDirectory.h"
#include "job/NumberFormat.h"
#include "job/WorkerGuard.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_api.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace {

// The drivers of the files GPS programs write; nothing else is tried on a file.
const char* const kDrivers[] = {"GPX", "KML", "LIBKML", nullptr};
// Layers of GPX's driver that repeat the points of routes and tracks one by one.
const char* const kRepeatedLayers[] = {"route_points", "track_points"};

GdalDataset Open(const QByteArray& path) {
    return GdalDataset(GDALOpenEx(path.constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY, kDrivers,
                                  nullptr, nullptr));
}

// A KMZ is a zip with the KML inside; GDAL's KML driver reads that KML when the LIBKML one,
// which opens the zip itself, is not built in.
GdalDataset OpenKmlInside(const QString& path) {
    const QByteArray zip = "/vsizip/" + path.toUtf8();
    char** names = VSIReadDir(zip.constData());
    GdalDataset found;
    for (int i = 0; names && names[i] && !found; ++i) {
        if (QString::fromUtf8(names[i]).endsWith(QLatin1String(".kml"), Qt::CaseInsensitive)) {
            found = Open(zip + '/' + names[i]);
        }
    }
    CSLDestroy(names);
    return found;
}

bool Usable(double lon, double lat) {
    return std::isfinite(lon) && std::isfinite(lat) && std::abs(lat) <= 90.0 &&
           std::abs(lon) <= 180.0;
}

// The points and lines of the geometries of a file, up to a number of points.
class Collector {
public:
    enum class Fault { None, OutOfRange, TooManyPoints };

    Collector(TrackData* out, int64_t maxPoints) : m_out(out), m_maxPoints(maxPoints) {}
    Fault fault() const { return m_fault; }

    // False when a coordinate is out of range or the points are too many.
    bool collect(OGRGeometryH g) {
        if (g == nullptr) {
            return true;
        }
        const OGRwkbGeometryType type = wkbFlatten(OGR_G_GetGeometryType(g));
        if (type == wkbPoint) {
            if (OGR_G_IsEmpty(g)) {
                return true;
            }
            if (!count(1)) {
                return false;
            }
            const double lon = OGR_G_GetX(g, 0);
            const double lat = OGR_G_GetY(g, 0);
            if (!Usable(lon, lat)) {
                return outOfRange();
            }
            m_out->points.push_back({lat, lon});
            return true;
        }
        if (type == wkbLineString || type == wkbLinearRing) {
            const int n = OGR_G_GetPointCount(g);
            if (!count(std::max(0, n))) {
                return false;
            }
            std::vector<GeoPoint> line;
            line.reserve(static_cast<size_t>(std::max(0, n)));
            for (int i = 0; i < n; ++i) {
                const double lon = OGR_G_GetX(g, i);
                const double lat = OGR_G_GetY(g, i);
                if (!Usable(lon, lat)) {
                    return outOfRange();
                }
                line.push_back({lat, lon});
            }
            if (line.size() == 1) {
                m_out->points.push_back(line.front());
            } else if (!line.empty()) {
                m_out->lines.push_back(std::move(line));
            }
            return true;
        }
        // Polygons (their rings), multi-geometries and collections.
        for (int i = 0; i < OGR_G_GetGeometryCount(g); ++i) {
            if (!collect(OGR_G_GetGeometryRef(g, i))) {
                return false;
            }
        }
        return true;
    }

private:
    bool count(int64_t more) {
        m_points += more;
        if (m_points > m_maxPoints) {
            m_fault = Fault::TooManyPoints;
            return false;
        }
        return true;
    }
    bool outOfRange() {
        m_fault = Fault::OutOfRange;
        return false;
    }

    TrackData* m_out;
    int64_t m_maxPoints;
    int64_t m_points = 0;
    Fault m_fault = Fault::None;
};

QString Megabytes(qint64 bytes) {
    return GroupedNumber((bytes + 500'000) / 1'000'000) + QStringLiteral(" MB");
}

// What the readers would take past the limits, seen from the file's size and, for a zip,
// the sizes its directory declares for its members unpacked; empty when within them.
// GDAL reads no zip without that directory, so one without it is left to GDAL to refuse.
QString SizeProblem(const QString& path, qint64 fileBytes, const TrackLimits& limits) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("no se puede leer el fichero");
    }
    const QByteArray head = file.read(4096);
    if (!head.startsWith("PK")) {
        // Only GPX is read as a stream; its driver knows it by this word near the start.
        const qint64 limit = head.contains("<gpx") ? limits.fileBytes : limits.kmlBytes;
        return fileBytes > limit ? QStringLiteral("el fichero ocupa más de ") + Megabytes(limit)
                                 : QString();
    }
    if (fileBytes > limits.kmlBytes) {
        return QStringLiteral("el fichero ocupa más de ") + Megabytes(limits.kmlBytes);
    }
    const ZipDirectory zip = ReadZipDirectory(file, limits.members);
    if (!zip.error.isEmpty()) {
        return zip.error;
    }
    uint64_t total = 0;
    for (const ZipMember& member : zip.members) {
        if (member.unpackedBytes > uint64_t(limits.kmlBytes)) {
            return QStringLiteral("«%1» ocupa más de %2 descomprimido")
                .arg(member.name, Megabytes(limits.kmlBytes));
        }
        total += member.unpackedBytes;
    }
    if (total > uint64_t(limits.unpackedBytes)) {
        return QStringLiteral("el KMZ ocupa más de %1 descomprimido")
            .arg(Megabytes(limits.unpackedBytes));
    }
    return {};
}

bool RepeatsPoints(OGRLayerH layer) {
    const char* name = OGR_L_GetName(layer);
    return std::any_of(std::begin(kRepeatedLayers), std::end(kRepeatedLayers),
                       [name](const char* r) { return qstrcmp(name, r) == 0; });
}

// "... at line 12, column 3" in GDAL's message for a file that is not well formed.
QString DamageReason(const QString& message) {
    static const QRegularExpression line(QStringLiteral("line (\\d+)"));
    const QRegularExpressionMatch m = line.match(message);
    if (m.hasMatch()) {
        return QStringLiteral("el fichero está dañado (error en la línea %1)").arg(m.captured(1));
    }
    return QStringLiteral("el fichero está dañado");
}

TrackRead Refused(const QString& reason) {
    TrackRead r;
    r.error = reason;
    return r;
}

// The file through GDAL's drivers, once its sizes are known to be within the limits.
TrackRead ReadWithGdal(const QString& path, const QFileInfo& info, const TrackLimits& limits) {
    const GdalErrorCapture errors;
    GdalDataset dataset = Open(path.toUtf8());
    if (!dataset && info.suffix().compare(QLatin1String("kmz"), Qt::CaseInsensitive) == 0) {
        dataset = OpenKmlInside(path);
    }
    if (!dataset) {
        return Refused(errors.failed() ? DamageReason(errors.message())
                                       : QStringLiteral("no es un fichero GPX, KML ni KMZ"));
    }

    TrackData track;
    Collector collector(&track, limits.points);
    for (int i = 0; i < GDALDatasetGetLayerCount(dataset.get()); ++i) {
        OGRLayerH layer = GDALDatasetGetLayer(dataset.get(), i);
        if (layer == nullptr || RepeatsPoints(layer)) {
            continue;
        }
        OGR_L_ResetReading(layer);
        while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
            const bool ok = collector.collect(OGR_F_GetGeometryRef(feature));
            OGR_F_Destroy(feature);
            if (collector.fault() == Collector::Fault::TooManyPoints) {
                return Refused(QStringLiteral("la ruta tiene más de %1 puntos")
                                   .arg(GroupedNumber(limits.points)));
            }
            if (!ok) {
                return Refused(QStringLiteral("el fichero tiene coordenadas fuera de límites"));
            }
        }
        // A reader that stops on a fault ends the layer early: what came before is not
        // the whole track.
        if (errors.failed()) {
            return Refused(DamageReason(errors.message()));
        }
    }
    if (track.empty()) {
        return Refused(QStringLiteral("no contiene ningún track, ruta ni punto"));
    }
    TrackRead r;
    r.track = std::move(track);
    return r;
}

} // namespace

TrackRead ReadTrackFile(const QString& path, const TrackLimits& limits) {
    EnsureGdal();

    const QFileInfo info(path);
    if (!info.exists()) {
        return Refused(QStringLiteral("el fichero no existe"));
    }
    if (!info.isFile() || !info.isReadable()) {
        return Refused(QStringLiteral("no se puede leer el fichero"));
    }
    if (info.size() == 0) {
        return Refused(QStringLiteral("el fichero está vacío"));
    }
    if (const QString problem = SizeProblem(path, info.size(), limits); !problem.isEmpty()) {
        return Refused(problem);
    }
    return Guarded([&] { return ReadWithGdal(path, info, limits); },
                   [](const QString& reason) { return Refused(reason); });
}

QString TrackErrorMessage(const QString& path, const QString& reason) {
    return QStringLiteral("No se puede usar la ruta «%1»: %2.")
        .arg(QFileInfo(path).fileName(), reason);
}

GroundTrack TrackOnGrid(const TrackData& track, const DatumChange& change) {
    GroundTrack out;
    bool first = true;
    const auto place = [&](const GeoPoint& p, GroundPoint* g) {
        if (!change.fromGeographic(p, &g->easting, &g->northing)) {
            ++out.dropped;
            return false;
        }
        if (first) {
            out.extent = {g->easting, g->northing, g->easting, g->northing};
            first = false;
        }
        out.extent.west = std::min(out.extent.west, g->easting);
        out.extent.east = std::max(out.extent.east, g->easting);
        out.extent.south = std::min(out.extent.south, g->northing);
        out.extent.north = std::max(out.extent.north, g->northing);
        return true;
    };
    for (const std::vector<GeoPoint>& line : track.lines) {
        std::vector<GroundPoint> ground;
        ground.reserve(line.size());
        for (const GeoPoint& p : line) {
            GroundPoint g;
            if (place(p, &g)) {
                ground.push_back(g);
            }
        }
        if (!ground.empty()) {
            out.lines.push_back(std::move(ground));
        }
    }
    for (const GeoPoint& p : track.points) {
        GroundPoint g;
        if (place(p, &g)) {
            out.points.push_back(g);
        }
    }
    return out;
}

namespace {

GroundTrackRead ReadOnGrid(const QString& path) {
    GroundTrackRead out;
    TrackRead read = ReadTrackFile(path);
    if (!read.track) {
        out.error = read.error;
        return out;
    }
    // A change of its own: the caller's thread is any.
    const GroundRect reach = MapReach();
    QString reason;
    const auto change =
        DatumChange::ForArea(reach.west, reach.south, reach.east, reach.north, &reason);
    if (!change) {
        out.error = QStringLiteral("no se puede pasar de WGS 84 a ED50 (%1)").arg(reason);
        return out;
    }
    out.track = TrackOnGrid(*read.track, *change);
    if (out.track.empty()) {
        out.error = QStringLiteral("ningún punto se puede situar en la cuadrícula UTM");
    }
    return out;
}

} // namespace

GroundTrackRead ReadTrackOnGrid(const QString& path) {
    return Guarded([&path] { return ReadOnGrid(path); },
                   [](const QString& reason) {
                       GroundTrackRead failed;
                       failed.error = reason;
                       return failed;
                   });
}

bool ReadSourceTrack(SheetSource* source, QString* error) {
    GroundTrackRead read = ReadTrackOnGrid(source->trackPath);
    if (!read.error.isEmpty()) {
        *error = TrackErrorMessage(source->trackPath, read.error);
        return false;
    }
    source->lines = std::move(read.track.lines);
    source->points = std::move(read.track.points);
    return true;
}

QString TrackCutFailure(const QString& reason) {
    return QStringLiteral("No se pueden calcular las hojas de la ruta: %1.").arg(reason);
}
