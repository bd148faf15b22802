// The inverse UTM conversion of TElipsoide.
#include "geo/uClaseElipsoide.h"

#include <QFile>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = 180.0 / kPi;

// The ED50 set-up the calibration uses.
TElipsoide International1924() {
    return TElipsoide(6378388.0, 297.0, 500000.0, 0.0, 0.9996, 6, -177);
}

GeoPoint Convert(TElipsoide& e, int32_t easting, int32_t northing, int32_t zone) {
    GeoPoint p;
    e.GeograficasDecimales(easting, northing, zone, p.latitude, p.longitude);
    return p;
}

TEST(TElipsoide, MeanDegreeOfMeridianArc) {
    // The figure given for the International 1924 ellipsoid, to its six decimals.
    EXPECT_NEAR(International1924().G(), 111136.536655, 5e-7);
}

// The worked example 585000 E, 4730000 N, zone 30: every working value, to the digits it
// is published with (tolerance half a unit of the last digit).
struct Intermediate {
    const char* name;
    std::function<double(const TElipsoide::WorkingValues&)> value;
    double expected;
    double tolerance;
};

TEST(TElipsoide, WorkedExampleIntermediateValues) {
    TElipsoide e = International1924();
    const GeoPoint p = Convert(e, 585000, 4730000, 30);
    const Intermediate table[] = {
        {"E'", [](const auto& w) { return w.eastingOffset; }, 85000.0, 0.0},
        {"sigma (deg)", [](const auto& w) { return w.rectifyingLatitude * kDeg; }, 42.577292, 5e-7},
        {"phi' (deg)", [](const auto& w) { return w.footpointLatitude * kDeg; }, 42.721740, 5e-7},
        {"nu'", [](const auto& w) { return w.nu; }, 6388279.29, 5e-3},
        {"rho'", [](const auto& w) { return w.rho; }, 6365028.32, 5e-3},
        {"psi'", [](const auto& w) { return w.psi; }, 1.0036529, 5e-8},
        {"t'", [](const auto& w) { return w.t; }, 0.9234762, 5e-8},
        {"x", [](const auto& w) { return w.x; }, 0.01331094, 5e-9},
        {"L1", [](const auto& w) { return w.latitudeTerms[0]; }, -8.2110e-5, 5e-10},
        {"L2", [](const auto& w) { return w.latitudeTerms[1]; }, 9.13e-9, 5e-12},
        {"L3", [](const auto& w) { return w.latitudeTerms[2]; }, -1.2e-12, 5e-14},
        {"L4", [](const auto& w) { return w.latitudeTerms[3]; }, 2e-16, 5e-17},
        {"G1", [](const auto& w) { return w.longitudeTerms[0]; }, 1.8118575e-2, 5e-10},
        {"G2", [](const auto& w) { return w.longitudeTerms[1]; }, -1.4496e-6, 5e-11},
        {"G3", [](const auto& w) { return w.longitudeTerms[2]; }, 2.2e-10, 5e-12},
        {"G4", [](const auto& w) { return w.longitudeTerms[3]; }, -4e-14, 5e-15},
        {"lambda0 (deg)", [](const auto& w) { return w.centralMeridian * kDeg; }, -3.0, 1e-12},
    };
    for (const Intermediate& row : table) {
        EXPECT_NEAR(row.value(e.lastConversion()), row.expected, row.tolerance) << row.name;
    }
    EXPECT_NEAR(p.latitude, 42.717035516, 5e-10);
    EXPECT_NEAR(p.longitude, -1.961965192, 5e-10);
}

// The four corners of the default 25 km area, as the sample calibration file gives them.
struct Corner {
    int32_t easting;
    int32_t northing;
    double latitude;
    double longitude;
};

void PrintTo(const Corner& c, std::ostream* os) {
    *os << c.easting << " E, " << c.northing << " N";
}

class DefaultAreaCorner : public ::testing::TestWithParam<Corner> {};

TEST_P(DefaultAreaCorner, AgreesToSixDecimals) {
    const Corner c = GetParam();
    TElipsoide e = International1924();
    const GeoPoint p = Convert(e, c.easting, c.northing, 30);
    EXPECT_NEAR(p.latitude, c.latitude, 5e-7);
    EXPECT_NEAR(p.longitude, c.longitude, 5e-7);
}

INSTANTIATE_TEST_SUITE_P(TElipsoide, DefaultAreaCorner,
                         ::testing::Values(Corner{585000, 4730000, 42.717036, -1.961965},
                                           Corner{610000, 4730000, 42.713862, -1.656733},
                                           Corner{610000, 4705000, 42.488788, -1.661560},
                                           Corner{585000, 4705000, 42.491936, -1.965696}));

TEST(TElipsoide, CentralMeridianGivesFootpointLatitude) {
    TElipsoide e = International1924();
    const GeoPoint p = Convert(e, 500000, 4730000, 30);
    EXPECT_EQ(e.lastConversion().x, 0.0);
    EXPECT_DOUBLE_EQ(p.latitude, e.lastConversion().footpointLatitude * kDeg);
    EXPECT_NEAR(p.longitude, -3.0, 1e-12);
}

TEST(TElipsoide, EquatorOnCentralMeridian) {
    TElipsoide e = International1924();
    const GeoPoint p = Convert(e, 500000, 0, 30);
    EXPECT_EQ(p.latitude, 0.0);
    EXPECT_NEAR(p.longitude, -3.0, 1e-12);
}

TEST(TElipsoide, EastingsSymmetricAboutFalseEasting) {
    TElipsoide e = International1924();
    for (const int32_t offset : {1000, 85000, 290000}) {
        const GeoPoint west = Convert(e, 500000 - offset, 4650000, 30);
        const GeoPoint east = Convert(e, 500000 + offset, 4650000, 30);
        EXPECT_DOUBLE_EQ(west.latitude, east.latitude) << offset;
        EXPECT_NEAR(west.longitude + 3.0, -(east.longitude + 3.0), 1e-12) << offset;
        EXPECT_LT(west.longitude, -3.0);
    }
}

TEST(TElipsoide, ZoneSetsCentralMeridian) {
    TElipsoide e = International1924();
    const struct {
        int32_t zone;
        double meridian;
    } zones[] = {{30, -3.0}, {31, 3.0}, {1, -177.0}, {60, 177.0}};
    for (const auto& z : zones) {
        EXPECT_NEAR(Convert(e, 500000, 4700000, z.zone).longitude, z.meridian, 1e-12) << z.zone;
    }
    // The same grid position one zone east lies six degrees further east.
    const GeoPoint in30 = Convert(e, 585000, 4730000, 30);
    const GeoPoint in31 = Convert(e, 585000, 4730000, 31);
    EXPECT_DOUBLE_EQ(in31.latitude, in30.latitude);
    EXPECT_NEAR(in31.longitude, in30.longitude + 6.0, 1e-12);
}

TEST(TElipsoide, UsesEveryConstructionParameter) {
    // WGS 84 on the southern grid: PROJ 9.1 (cs2cs +proj=utm +zone=30 +south +ellps=WGS84
    // +to +proj=longlat +ellps=WGS84) gives 1.961904841648 W, 42.717798691489 S.
    TElipsoide south(6378137.0, 298.257223563, 500000.0, 10000000.0, 0.9996, 6, -177);
    const GeoPoint p = Convert(south, 585000, 5270000, 30);
    EXPECT_NEAR(p.latitude, -42.717798691489, 1e-9);
    EXPECT_NEAR(p.longitude, -1.961904841648, 1e-9);

    // Three-degree zones whose zone 1 is centred on 177 W: zone 59 is centred on 3 W.
    TElipsoide narrow(6378388.0, 297.0, 500000.0, 0.0, 0.9996, 3, -177);
    EXPECT_NEAR(Convert(narrow, 500000, 4700000, 59).longitude, -3.0, 1e-12);
}

TEST(TElipsoide, AgreesWithExactInverseOverTheWorkingArea) {
    // Made by tests/data/geo/make_utm30_reference.sh with PROJ (see its header).
    QFile file(QStringLiteral(MORVEL_TEST_DATA_DIR "/geo/utm30_ed50_reference.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QTextStream in(&file);
    TElipsoide e = International1924();
    int rows = 0;
    double worst = 0.0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(u'#') || line.trimmed().isEmpty()) {
            continue;
        }
        const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
        ASSERT_EQ(f.size(), 4) << line.toStdString();
        const GeoPoint p = Convert(e, f[0].toInt(), f[1].toInt(), 30);
        const double latitudeError = std::fabs(p.latitude - f[2].toDouble());
        const double longitudeError = std::fabs(p.longitude - f[3].toDouble());
        EXPECT_LT(latitudeError, 1e-9) << line.toStdString();
        EXPECT_LT(longitudeError, 1e-9) << line.toStdString();
        worst = std::max({worst, latitudeError, longitudeError});
        ++rows;
    }
    // 24 eastings by 27 northings.
    EXPECT_EQ(rows, 648);
    RecordProperty("worst_error_degrees", std::to_string(worst));
}

} // namespace
