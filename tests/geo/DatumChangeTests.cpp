// The change from ED50 / UTM zone 30N to ETRS89 that PROJ picks for an area.
#include "geo/DatumChange.h"
#include "tests/geo/GeoTestTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

namespace {

// The IGN grid PROJ uses for Spain when it is installed; it is not on a plain Debian system.
bool SpanishGridInstalled() {
    return proj_grid_info("es_ign_SPED2ETV2.tif").filename[0] != '\0';
}

struct Area {
    const char* name;
    // ED50 / UTM 30N metres.
    double west, south, east, north;
    // Roughly the same in degrees, for PROJ's own choice.
    double lonWest, latSouth, lonEast, latNorth;
    // EPSG's parameters PROJ should choose without the grid; on the grid's ground with it.
    const char* operation;
    double accuracy;
    bool onSpanishGrid;
};

void PrintTo(const Area& a, std::ostream* os) {
    *os << a.name;
}

const Area kSample{"Navarre", 585000, 4705000, 610000, 4730000,
                   -1.97,     42.48,  -1.65,   42.72,  "ED50 to ETRS89 (7)",
                   1.5,       true};

class OperationForArea : public ::testing::TestWithParam<Area> {};

TEST_P(OperationForArea, IsTheMostAccurateOneAndMovesPointsAsPlainProj) {
    const Area& a = GetParam();
    QString error;
    const auto change = DatumChange::ForArea(a.west, a.south, a.east, a.north, &error);
    ASSERT_TRUE(change) << error.toStdString();
    if (a.onSpanishGrid && SpanishGridInstalled()) {
        EXPECT_TRUE(change->operationName() == QStringLiteral("ED50 to ETRS89 (12)") ||
                    change->operationName() == QStringLiteral("ED50 to ETRS89 (16)"))
            << change->operationName().toStdString();
        EXPECT_DOUBLE_EQ(change->accuracyMetres(), 0.2);
    } else {
        EXPECT_EQ(change->operationName().toStdString(), a.operation);
        EXPECT_DOUBLE_EQ(change->accuracyMetres(), a.accuracy);
    }

    // The pipeline handed to other programs is the route the calibration takes, not
    // just one PROJ could also have picked.
    PJ_CONTEXT* context = proj_context_create();
    proj_context_set_enable_network(context, 0);
    PJ* pipeline = proj_create(context, change->pipeline().toUtf8().constData());
    ASSERT_NE(pipeline, nullptr) << change->pipeline().toStdString();
    EXPECT_TRUE(
        change->pipeline().startsWith(QStringLiteral("+proj=pipeline +step +inv +proj=utm")))
        << change->pipeline().toStdString();

    // The corners and the centre of the area, both ways, against PROJ's plain route.
    const PlainProj geographic(a.lonWest, a.latSouth, a.lonEast, a.latNorth, "EPSG:4258");
    const PlainProj grid(a.lonWest, a.latSouth, a.lonEast, a.latNorth, "EPSG:25830");
    const double points[][2] = {{a.west, a.north},
                                {a.east, a.north},
                                {a.east, a.south},
                                {a.west, a.south},
                                {(a.west + a.east) / 2, (a.south + a.north) / 2}};
    for (const auto& p : points) {
        SCOPED_TRACE(testing::Message() << p[0] << " E, " << p[1] << " N");
        GeoPoint g;
        ASSERT_TRUE(change->toGeographic(p[0], p[1], &g));
        const PJ_XY expectedGeographic = geographic(p[0], p[1]);
        EXPECT_NEAR(g.longitude, expectedGeographic.x, 1e-10);
        EXPECT_NEAR(g.latitude, expectedGeographic.y, 1e-10);
        const PJ_XY piped = proj_trans(pipeline, PJ_FWD, proj_coord(p[0], p[1], 0, 0)).xy;
        EXPECT_NEAR(piped.x, g.longitude, 1e-11);
        EXPECT_NEAR(piped.y, g.latitude, 1e-11);
        double e = 0.0;
        double n = 0.0;
        ASSERT_TRUE(change->toGrid(p[0], p[1], &e, &n));
        const PJ_XY expectedGrid = grid(p[0], p[1]);
        EXPECT_NEAR(e, expectedGrid.x, 1e-5);
        EXPECT_NEAR(n, expectedGrid.y, 1e-5);
        // ED50 and ETRS89 lie some 100 to 250 m apart here: a change that moved nothing
        // would pass the comparisons only if PROJ did the same.
        EXPECT_GT(std::hypot(e - p[0], n - p[1]), 50.0);
        // What a GPS shows comes back to the ED50 metres through the same operation (PROJ
        // runs the seven parameters backwards to about a millimetre).
        double backE = 0.0;
        double backN = 0.0;
        ASSERT_TRUE(change->fromGrid(e, n, &backE, &backN));
        EXPECT_NEAR(backE, p[0], 0.01);
        EXPECT_NEAR(backN, p[1], 0.01);
    }
    proj_destroy(pipeline);
    proj_context_destroy(context);
}

INSTANTIATE_TEST_SUITE_P(
    ZoneThirty, OperationForArea,
    ::testing::Values(kSample,
                      // North-west Spain has its own parameters, as good as the rest of Spain's.
                      Area{"Asturias", 293000, 4792000, 301000, 4802000, -5.55, 43.25, -5.45, 43.35,
                           "ED50 to ETRS89 (8)", 1.5, true},
                      // Gibraltar's own (1 m) beats Spain's (1.5 m), which also covers it.
                      Area{"Gibraltar", 288000, 4000500, 289000, 4001500, -5.36, 36.12, -5.34,
                           36.14, "ED50 to ETRS89 (5)", 1.0, true},
                      Area{"Gironde", 686000, 4958000, 693000, 4969000, -0.65, 44.75, -0.55, 44.85,
                           "ED50 to ETRS89 (10)", 2.0, false}),
    [](const ::testing::TestParamInfo<Area>& info) { return std::string(info.param.name); });

TEST(DatumChange, NoOperationForAreasNoneCoversWhole) {
    const struct {
        const char* name;
        double west, south, east, north;
    } areas[] = {
        // Near 9 degrees north: ED50 was never used there, and the only way PROJ knows is a
        // ballpark shift.
        {"West Africa", 490000, 984000, 510000, 1005000},
        // From the Alboran Sea into Andalusia: Spain's parameters cover only the northern part.
        {"Alboran Sea to Andalusia", 450000, 3900000, 550000, 4100000}};
    for (const auto& a : areas) {
        QString error;
        EXPECT_FALSE(DatumChange::ForArea(a.west, a.south, a.east, a.north, &error)) << a.name;
        EXPECT_EQ(error, QStringLiteral("ninguna transformación de ED50 a ETRS89 cubre la zona"))
            << a.name;
    }
}

TEST(DatumChange, RefusesWhatIsNoRectangle) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double west, south, east, north;
    } areas[] = {{610000, 4705000, 585000, 4730000},
                 {585000, 4730000, 610000, 4705000},
                 {nan, 4705000, 610000, 4730000},
                 {585000, 4705000, 610000, nan},
                 {-inf, 4705000, inf, 4730000}};
    for (const auto& r : areas) {
        QString error;
        EXPECT_FALSE(DatumChange::ForArea(r.west, r.south, r.east, r.north, &error))
            << r.west << ' ' << r.south << ' ' << r.east << ' ' << r.north;
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(DatumChange, MovesOnlyPointsOfItsArea) {
    const auto change =
        DatumChange::ForArea(kSample.west, kSample.south, kSample.east, kSample.north);
    ASSERT_TRUE(change);
    GeoPoint g;
    double e = 0.0;
    double n = 0.0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double easting, northing;
        bool inside;
    } points[] = {{585000, 4705000, true},  {610000, 4730000, true},  {584999, 4720000, false},
                  {610001, 4720000, false}, {600000, 4704999, false}, {600000, 4730001, false},
                  {nan, 4720000, false},    {600000, nan, false}};
    for (const auto& p : points) {
        SCOPED_TRACE(testing::Message() << p.easting << " E, " << p.northing << " N");
        EXPECT_EQ(change->toGeographic(p.easting, p.northing, &g), p.inside);
        EXPECT_EQ(change->toGrid(p.easting, p.northing, &e, &n), p.inside);
    }
}

} // namespace
