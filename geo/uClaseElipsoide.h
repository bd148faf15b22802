#pragma once

#include <array>
#include <cstdint>

// A latitude and a longitude in decimal degrees, positive north and east.
struct GeoPoint {
    double latitude = 0.0;
    double longitude = 0.0;
};

// One reference ellipsoid with a transverse Mercator grid set-up, turning grid positions
// into geographic coordinates by Redfearn's inverse series.
class TElipsoide {
public:
    // Working values of the latest conversion, kept so that it can be inspected; every
    // conversion overwrites them. Angles in radians.
    struct WorkingValues {
        double eastingOffset = 0.0;  // E'
        double northingOffset = 0.0; // N'
        double meridianDistance = 0.0;
        double rectifyingLatitude = 0.0; // sigma
        double footpointLatitude = 0.0;  // phi'
        double nu = 0.0;                 // radius of curvature in the prime vertical
        double rho = 0.0;                // radius of curvature in the meridian
        double psi = 0.0;                // nu / rho
        double t = 0.0;                  // tan phi'
        double x = 0.0;
        double secant = 0.0;
        double k = 0.0;
        std::array<double, 4> latitudeTerms{};
        std::array<double, 4> longitudeTerms{};
        double centralMeridian = 0.0;
    };

    TElipsoide(double a, double inverseFlattening, double falseEasting, double falseNorthing,
               double scaleFactor, int32_t zoneWidth, int32_t centralMeridianZone1);

    // Latitude and longitude in decimal degrees of a grid position in metres. Accepts any
    // integers; far from the central meridian or near the poles the series loses accuracy.
    void GeograficasDecimales(int32_t easting, int32_t northing, int32_t zone, double& latitude,
                              double& longitude);

    // Mean length in metres of one degree of meridian arc.
    double G() const { return g_; }
    // Third flattening.
    double N() const { return n_; }
    const WorkingValues& lastConversion() const { return w_; }

private:
    // Set-up.
    double a_;
    double inverseFlattening_;
    double falseEasting_;
    double falseNorthing_;
    double k0_;
    int32_t zoneWidth_;
    int32_t centralMeridianZone1_;
    // Derived once.
    double f_;
    double b_;
    double e2_;
    double n_;
    double n2_;
    double n3_;
    double n4_;
    double g_;
    // Working state of the latest conversion.
    WorkingValues w_;
};
