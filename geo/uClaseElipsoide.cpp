#include "geo/uClaseElipsoide.h"

#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979323846;
} // namespace

TElipsoide::TElipsoide(double a, double inverseFlattening, double falseEasting,
                       double falseNorthing, double scaleFactor, int32_t zoneWidth,
                       int32_t centralMeridianZone1)
    : a_(a), inverseFlattening_(inverseFlattening), falseEasting_(falseEasting),
      falseNorthing_(falseNorthing), k0_(scaleFactor), zoneWidth_(zoneWidth),
      centralMeridianZone1_(centralMeridianZone1) {
    f_ = 1.0 / inverseFlattening_;
    b_ = a_ * (1.0 - f_);
    e2_ = 2.0 * f_ - f_ * f_;
    n_ = (a_ - b_) / (a_ + b_);
    n2_ = n_ * n_;
    n3_ = n2_ * n_;
    n4_ = n3_ * n_;
    g_ = a_ * (1.0 - n_) * (1.0 - n2_) * (1.0 + 9.0 * n2_ / 4.0 + 225.0 * n4_ / 64.0) * kPi / 180.0;
}

void TElipsoide::GeograficasDecimales(int32_t easting, int32_t northing, int32_t zone,
                                      double& latitude, double& longitude) {
    WorkingValues& w = w_;
    w.eastingOffset = static_cast<double>(easting) - falseEasting_;
    w.northingOffset = static_cast<double>(northing) - falseNorthing_;
    const double ep = w.eastingOffset;

    // Footpoint latitude from the meridian distance.
    w.meridianDistance = w.northingOffset / k0_;
    const double sigma = w.meridianDistance * kPi / (180.0 * g_);
    w.rectifyingLatitude = sigma;
    const double phi1 = sigma + (3.0 * n_ / 2.0 - 27.0 * n3_ / 32.0) * std::sin(2.0 * sigma) +
                        (21.0 * n2_ / 16.0 - 55.0 * n4_ / 32.0) * std::sin(4.0 * sigma) +
                        (151.0 * n3_ / 96.0) * std::sin(6.0 * sigma) +
                        (1097.0 * n4_ / 512.0) * std::sin(8.0 * sigma);
    w.footpointLatitude = phi1;

    const double s = std::sin(phi1);
    const double den = 1.0 - e2_ * s * s;
    w.nu = a_ / std::sqrt(den);
    w.rho = a_ * (1.0 - e2_) / std::pow(den, 1.5);
    w.psi = w.nu / w.rho;
    w.t = std::tan(phi1);
    w.x = (ep / k0_) / w.nu;
    w.secant = 1.0 / std::cos(phi1);
    w.k = w.t / (k0_ * w.rho);

    const double psi = w.psi;
    const double psi2 = psi * psi;
    const double psi3 = psi2 * psi;
    const double psi4 = psi3 * psi;
    const double t2 = w.t * w.t;
    const double t4 = t2 * t2;
    const double t6 = t4 * t2;
    const double x = w.x;
    const double x3 = x * x * x;
    const double x5 = x3 * x * x;
    const double x7 = x5 * x * x;
    const double k = w.k;

    w.latitudeTerms[0] = -k * ep * x / 2.0;
    w.latitudeTerms[1] = k * (ep * x3 / 24.0) * (-4.0 * psi2 + 9.0 * psi * (1.0 - t2) + 12.0 * t2);
    w.latitudeTerms[2] = -k * (ep * x5 / 720.0) *
                         (8.0 * psi4 * (11.0 - 24.0 * t2) - 12.0 * psi3 * (21.0 - 71.0 * t2) +
                          15.0 * psi2 * (15.0 - 98.0 * t2 + 15.0 * t4) +
                          180.0 * psi * (5.0 * t2 - 3.0 * t4) + 360.0 * t4);
    w.latitudeTerms[3] =
        k * (ep * x7 / 40320.0) * (1385.0 + 3633.0 * t2 + 4095.0 * t4 + 1575.0 * t6);
    const double phi =
        (w.latitudeTerms[0] + w.latitudeTerms[1] + w.latitudeTerms[2] + w.latitudeTerms[3]) + phi1;

    // Whole degrees first, as the grid defines it, then radians.
    const int64_t lambda0 = static_cast<int64_t>(zone) * zoneWidth_ + centralMeridianZone1_ -
                            static_cast<int64_t>(zoneWidth_);
    w.centralMeridian = static_cast<double>(lambda0) / 180.0 * kPi;

    const double sec = w.secant;
    w.longitudeTerms[0] = x * sec;
    w.longitudeTerms[1] = -(x3 / 6.0) * sec * (psi + 2.0 * t2);
    w.longitudeTerms[2] =
        (x5 / 120.0) * sec *
        (-4.0 * psi3 * (1.0 - 6.0 * t2) + psi2 * (9.0 - 68.0 * t2) + 72.0 * psi * t2 + 24.0 * t4);
    w.longitudeTerms[3] = -(x7 / 5040.0) * sec * (61.0 + 662.0 * t2 + 1320.0 * t4 + 720.0 * t6);
    const double lambda =
        (w.longitudeTerms[0] + w.longitudeTerms[1] + w.longitudeTerms[2] + w.longitudeTerms[3]) +
        w.centralMeridian;

    latitude = phi * 180.0 / kPi;
    longitude = lambda * 180.0 / kPi;
}
