#pragma once

// Tracks and routes as GPS programs save them (GPX 1.0 and 1.1, KML and KMZ), read through
// GDAL's vector drivers into plain lines and points, and laid on the job's grid.

#include "geo/uClaseElipsoide.h"
#include "job/MapArea.h"
#include "job/SheetSource.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class DatumChange;

// WGS 84 degrees: the lines of tracks, routes and paths, and the single points (waypoints,
// placemarks).
struct TrackData {
    std::vector<std::vector<GeoPoint>> lines;
    std::vector<GeoPoint> points;

    bool empty() const { return lines.empty() && points.empty(); }
};

struct TrackRead {
    std::optional<TrackData> track;
    QString error; // why there is no track, in a few Spanish words
};

// How much a track may make its readers take, checked before GDAL parses a byte of it:
// GPX is read as a stream, but KML (and the KML inside a KMZ) is read whole into memory,
// several times its size, and a KMZ of a megabyte may unpack to gigabytes.
struct TrackLimits {
    qint64 fileBytes = 128'000'000;    // a GPX file
    qint64 kmlBytes = 32'000'000;      // a KML file, a KMZ file, and each member unpacked
    qint64 unpackedBytes = 64'000'000; // all the members of a KMZ unpacked
    int members = 1000;                // in a KMZ
    int64_t points = 2'000'000;        // in all the lines and single points
};

// Reads a GPX, KML or KMZ file; any other kind of file, a damaged one, one without a line
// or a point, and one past the limits are refused with the reason. An exception in the
// readers (no memory left) is a refusal too. Blocks on the file: call it from a worker.
TrackRead ReadTrackFile(const QString& path, const TrackLimits& limits = {});

// "No se puede usar la ruta «vuelta.gpx»: <reason>."
QString TrackErrorMessage(const QString& path, const QString& reason);

// A track on the ED50 / UTM zone 30 grid, in metres. Points beyond zone 30 keep zone 30
// metres: the job's grid is on zone 30, and there a track must be drawn and fitted.
struct GroundTrack {
    std::vector<std::vector<GroundPoint>> lines;
    std::vector<GroundPoint> points;
    GroundRect extent;
    int dropped = 0; // points the operation cannot transform (left out)

    bool empty() const { return lines.empty() && points.empty(); }
};

GroundTrack TrackOnGrid(const TrackData& track, const DatumChange& change);

// A track file read and laid on the grid, or why it cannot be: the file refused, no change
// from WGS 84 to ED50, or no point that can be placed. Blocks on the file and PROJ: call it
// from a worker; it never throws.
struct GroundTrackRead {
    GroundTrack track;
    QString error; // a few Spanish words, empty when read
};
GroundTrackRead ReadTrackOnGrid(const QString& path);

// The track at the source's path read onto the grid into its lines and points; false, and
// the message to show ("No se puede usar la ruta…"), when it cannot be read.
bool ReadSourceTrack(SheetSource* source, QString* error);
// A track's cut that failed on its worker, as the user is told.
QString TrackCutFailure(const QString& reason);
