// The inverse UTM conversion of TElipsoide.
#include "geo/uClaseElipsoide.h"

#include <QFile>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kDeg = 180.0 / 3.14159265358979323846;

// The ED50 set-up the calibration uses.
TElipsoide International1924() {
    return TElipsoide(6378388.0, 297.0, 500000.0, 0.0, 0.9996, 6, -177);
}

GeoPoint Convert(TElipsoide& e, int32_t easting, int32_t northing, int32_t zone = 30) {
    GeoPoint p;
    e.GeograficasDecimales(easting, northing, zone, p.latitude, p.longitude);
    return p;
}

// The worked example 585000 E, 4730000 N, zone 30: every working value to the digits it is
// published with (tolerance half a unit of the last digit). The other corners of the default
// area are checked to six decimals on the MMPLL lines of the sample .map file.
TEST(TElipsoide, WorkedExampleIntermediateValues) {
    TElipsoide e = International1924();
    const GeoPoint p = Convert(e, 585000, 4730000);
    const TElipsoide::WorkingValues& w = e.lastConversion();
    const struct {
        const char* name;
        double value, expected, tolerance;
    } table[] = {{"E'", w.eastingOffset, 85000.0, 0.0},
                 {"sigma (deg)", w.rectifyingLatitude * kDeg, 42.577292, 5e-7},
                 {"phi' (deg)", w.footpointLatitude * kDeg, 42.721740, 5e-7},
                 {"nu'", w.nu, 6388279.29, 5e-3},
                 {"rho'", w.rho, 6365028.32, 5e-3},
                 {"psi'", w.psi, 1.0036529, 5e-8},
                 {"t'", w.t, 0.9234762, 5e-8},
                 {"x", w.x, 0.01331094, 5e-9},
                 {"L1", w.latitudeTerms[0], -8.2110e-5, 5e-10},
                 {"L2", w.latitudeTerms[1], 9.13e-9, 5e-12},
                 {"L3", w.latitudeTerms[2], -1.2e-12, 5e-14},
                 {"L4", w.latitudeTerms[3], 2e-16, 5e-17},
                 {"G1", w.longitudeTerms[0], 1.8118575e-2, 5e-10},
                 {"G2", w.longitudeTerms[1], -1.4496e-6, 5e-11},
                 {"G3", w.longitudeTerms[2], 2.2e-10, 5e-12},
                 {"G4", w.longitudeTerms[3], -4e-14, 5e-15},
                 {"lambda0 (deg)", w.centralMeridian * kDeg, -3.0, 1e-12},
                 {"latitude", p.latitude, 42.717035516, 5e-10},
                 {"longitude", p.longitude, -1.961965192, 5e-10}};
    for (const auto& row : table) {
        EXPECT_NEAR(row.value, row.expected, row.tolerance) << row.name;
    }
}

TEST(TElipsoide, CentralMeridianSymmetryAndZones) {
    TElipsoide e = International1924();
    // On the central meridian the latitude is the footpoint latitude; at the equator, zero.
    const double onAxis = Convert(e, 500000, 4730000).latitude;
    EXPECT_DOUBLE_EQ(onAxis, e.lastConversion().footpointLatitude * kDeg);
    EXPECT_EQ(Convert(e, 500000, 0).latitude, 0.0);

    for (const int32_t offset : {1000, 85000, 290000}) {
        const GeoPoint west = Convert(e, 500000 - offset, 4650000);
        const GeoPoint east = Convert(e, 500000 + offset, 4650000);
        EXPECT_DOUBLE_EQ(west.latitude, east.latitude) << offset;
        EXPECT_NEAR(west.longitude + 3.0, -(east.longitude + 3.0), 1e-12) << offset;
        EXPECT_LT(west.longitude, -3.0) << offset;
    }

    // Zone n is centred on 6n - 183 degrees: the same grid position one zone east lies six
    // degrees further east.
    for (const int32_t zone : {1, 30, 31, 60}) {
        EXPECT_NEAR(Convert(e, 500000, 4700000, zone).longitude, 6.0 * zone - 183.0, 1e-12);
        EXPECT_NEAR(Convert(e, 585000, 4730000, zone).longitude, 6.0 * zone - 181.961965192, 5e-10);
    }
}

TEST(TElipsoide, UsesEveryConstructionParameter) {
    // WGS 84 on the southern grid: PROJ 9.1 (cs2cs +proj=utm +zone=30 +south +ellps=WGS84
    // +to +proj=longlat +ellps=WGS84) gives 1.961904841648 W, 42.717798691489 S.
    TElipsoide south(6378137.0, 298.257223563, 500000.0, 10000000.0, 0.9996, 6, -177);
    const GeoPoint p = Convert(south, 585000, 5270000);
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
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(u'#') || line.trimmed().isEmpty()) {
            continue;
        }
        const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
        ASSERT_EQ(f.size(), 4) << line.toStdString();
        const GeoPoint p = Convert(e, f[0].toInt(), f[1].toInt());
        EXPECT_NEAR(p.latitude, f[2].toDouble(), 1e-9) << line.toStdString();
        EXPECT_NEAR(p.longitude, f[3].toDouble(), 1e-9) << line.toStdString();
        ++rows;
    }
    EXPECT_EQ(rows, 24 * 27); // eastings by northings
}

} // namespace
