#pragma once

#include "geo/uClaseElipsoide.h"

#include <QString>

#include <memory>

// The change from the map server's ED50 / UTM zone 30N grid (EPSG:23030) to ETRS89, the
// European frame that the WGS 84 of GPS receivers matches to about a metre, closer than a
// hand-held receiver can tell. PROJ picks the operation once for a whole area, so every
// coordinate of one image moves alike. Not to be used from two threads at once.
class DatumChange {
public:
    // The most accurate operation PROJ can use over the rectangle (ED50 UTM 30 metres):
    // the IGN grid when it is installed where PROJ finds grids, otherwise EPSG's
    // parameters for the region. No rough shift is ever taken and nothing is fetched from
    // the network. Null, with a short reason in `error`, when no operation covers the whole
    // rectangle or PROJ cannot be used.
    static std::unique_ptr<DatumChange> ForArea(double west, double south, double east,
                                                double north, QString* error = nullptr);

    ~DatumChange();
    DatumChange(const DatumChange&) = delete;
    DatumChange& operator=(const DatumChange&) = delete;

    // PROJ's name of the operation, e.g. "ED50 to ETRS89 (7)".
    QString operationName() const;
    // The operation's accuracy in metres; -1 when unknown.
    double accuracyMetres() const;
    // The same route as toGeographic() as one PROJ pipeline, from ED50 / UTM 30N easting and
    // northing in metres to ETRS89 longitude and latitude in degrees, for a program that
    // takes a pipeline (GDAL's warp) and must move the image exactly as the calibration does.
    QString pipeline() const;

    // ETRS89 latitude and longitude (EPSG:4258), in degrees. False for a point outside the
    // rectangle the operation was chosen for, or one PROJ cannot transform.
    bool toGeographic(double easting, double northing, GeoPoint* out) const;
    // ETRS89 / UTM zone 30N (EPSG:25830), in metres; false as above.
    bool toGrid(double easting, double northing, double* gridEasting, double* gridNorthing) const;
    // ED50 / UTM zone 30N metres of an ETRS89 latitude and longitude (what a GPS gives as
    // WGS 84), through the same operation run backwards. Not held to the rectangle: a
    // place or a track may lie beyond it, and the operation is the same wherever PROJ can
    // apply it; a point of zone 31 gets zone 30 metres. False where PROJ cannot transform it.
    bool fromGeographic(const GeoPoint& point, double* easting, double* northing) const;
    // ED50 / UTM zone 30N metres of ETRS89 / UTM zone 30N ones (what a GPS shows as UTM),
    // through the same operation; not held to the rectangle, as fromGeographic().
    bool fromGrid(double gridEasting, double gridNorthing, double* easting, double* northing) const;

private:
    struct Proj;
    explicit DatumChange(std::unique_ptr<Proj> proj);

    std::unique_ptr<Proj> m_proj;
};
