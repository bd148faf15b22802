// The places typed into "Ir a:": UTM metres on ED50 or, with a zone or a datum before them,
// on ETRS89, decimal degrees with signs, hemisphere letters, degrees-minutes-seconds, and
// what is refused with which reason.
#include "job/PlaceText.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

constexpr auto kEd50 = TypedPlace::Datum::Ed50;
constexpr auto kEtrs89 = TypedPlace::Datum::Etrs89;

struct Accepted {
    const char* text;
    bool grid;
    double a, b; // easting and northing, or latitude and longitude
    TypedPlace::Datum datum = kEd50;
};

void PrintTo(const Accepted& c, std::ostream* os) {
    *os << c.text;
}

// 42°48'36" = 42.81, 1°38'24" = 1.64, 42°48.6' = 42.81.
const Accepted kAccepted[] = {
    {"612000 4735000", true, 612000, 4735000},
    {"  612000, 4735000 ", true, 612000, 4735000},
    {"612000;4735000", true, 612000, 4735000},
    {"612000 735000", true, 612000, 4735000}, // the northing as the corner field holds it
    {"612000.5 4735000.25", true, 612000.5, 4735000.25},
    // As a GPS shows UTM: zone and band, on its datum.
    {"30T 603466 4732636", true, 603466, 4732636, kEtrs89},
    {"30t 603466, 4732636", true, 603466, 4732636, kEtrs89},
    {" 30 T 603466 4732636", true, 603466, 4732636, kEtrs89},
    {"30S 450000 4150000", true, 450000, 4150000, kEtrs89},
    {"30N 603466 4732636", true, 603466, 4732636, kEtrs89}, // N: the northern hemisphere
    {"ETRS89 603466 4732636", true, 603466, 4732636, kEtrs89},
    {"etrs 89: 603466 4732636", true, 603466, 4732636, kEtrs89},
    {"WGS84 603466 4732636", true, 603466, 4732636, kEtrs89},
    {"ED50 603466 4732636", true, 603466, 4732636, kEd50},
    {"ED50 30T 603466 4732636", true, 603466, 4732636, kEd50},
    // Thousands grouped the Spanish way.
    {"603.466 4.732.636", true, 603466, 4732636},
    {"603.466 732.636", true, 603466, 4732636},
    {"30T 603.466 4.732.636", true, 603466, 4732636, kEtrs89},
    {"42.81, -1.64", false, 42.81, -1.64},
    {"42.810, -1.640", false, 42.81, -1.64}, // three decimals are no thousands
    {"42.810N 1.640W", false, 42.81, -1.64},
    {"WGS84 42.81, -1.64", false, 42.81, -1.64},
    {"42 N 1 W", false, 42, -1}, // no zone 42 with band N
    {"42.81 -1.64", false, 42.81, -1.64},
    {"42.81,-1.64", false, 42.81, -1.64},
    {"+42.81; -1.64", false, 42.81, -1.64},
    {"42,81; -1,64", false, 42.81, -1.64},
    {"42,81 -1,64", false, 42.81, -1.64},
    {"-33.9, 151.2", false, -33.9, 151.2},
    {"42.81N 1.64W", false, 42.81, -1.64},
    {"42.81 N, 1.64 W", false, 42.81, -1.64},
    {"N42.81 W1.64", false, 42.81, -1.64},
    {"1.64W 42.81N", false, 42.81, -1.64},
    {"42.81n 1.64o", false, 42.81, -1.64}, // O for oeste
    {"33.9S 151.2E", false, -33.9, 151.2},
    {"42°48'36\"N 1°38'24\"W", false, 42.81, -1.64},
    {"42º48'36''N, 1º38'24''O", false, 42.81, -1.64},
    {"42°48′36″ N 1°38′24″ W", false, 42.81, -1.64},
    {"42°48'36\" -1°38'24\"", false, 42.81, -1.64},
    {"42 48 36 N 1 38 24 W", false, 42.81, -1.64},
    {"42°48.6'N 1°38.4'W", false, 42.81, -1.64},
    {"N 42 48.6 W 1 38.4", false, 42.81, -1.64},
    {"90, 180", false, 90, 180},
    {"-90 -180", false, -90, -180},
};

class PlaceAccepted : public ::testing::TestWithParam<Accepted> {};

TEST_P(PlaceAccepted, GivesTheCoordinates) {
    const Accepted& c = GetParam();
    const PlaceParse p = ParsePlace(QString::fromUtf8(c.text));
    ASSERT_TRUE(p.place) << p.error.toStdString();
    EXPECT_EQ(p.place->kind == TypedPlace::Kind::Grid, c.grid);
    if (c.grid) {
        EXPECT_DOUBLE_EQ(p.place->grid.easting, c.a);
        EXPECT_DOUBLE_EQ(p.place->grid.northing, c.b);
        EXPECT_EQ(p.place->datum, c.datum);
    } else {
        EXPECT_NEAR(p.place->latitude, c.a, 1e-9);
        EXPECT_NEAR(p.place->longitude, c.b, 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, PlaceAccepted, ::testing::ValuesIn(kAccepted));

struct Refused {
    const char* text;
    const char* reason; // a part of the reason given
};

void PrintTo(const Refused& c, std::ostream* os) {
    *os << c.text;
}

const Refused kRefused[] = {
    {"", "nada escrito"},
    {"   ", "nada escrito"},
    {"Pamplona", "no se entiende"},
    {"42.81", "dos coordenadas"},
    {"42.81 -1.64 7", "dos coordenadas"},
    {"1, 2, 3", "dos coordenadas"},
    {"42.81N", "dos coordenadas"},
    {"91, -1.64", "latitud fuera de límites"},
    {"-90.5 0", "latitud fuera de límites"},
    {"42, 180.01", "longitud fuera de límites"},
    {"1.64W 181E", "mismo eje"},
    {"42.81N 1.64S", "mismo eje"},
    {"91N 1W", "latitud fuera de límites"},
    {"1W 181E", "mismo eje"},
    {"42 60 0 N 1 0 0 W", "minutos fuera de límites"},
    {"42°48'60\"N 1°W", "segundos fuera de límites"},
    {"42.5°48'N 1°W", "decimales antes"},
    {"42°-48'N 1°W", "signo en los minutos"},
    {"-42.81N 1.64W", "signo y letra"},
    {"42'48°N 1°W", "desordenados"},
    {"NN42 W1", "dos coordenadas"},
    {"42 N N 1", "dos coordenadas"},
    {"612000 42.8", "mezcla"},
    {"42.8 4735000", "mezcla"},
    {"4735000 612000", "X UTM fuera de límites"},
    {"50000 4735000", "X UTM fuera de límites"},
    {"612000 12000000", "Y UTM fuera de límites"},
    {"-612000 4735000", "X UTM fuera de límites"},
    {"42.81, -", "número incompleto"},
    {"42..81 1", "número incompleto"},
    {"42.81 ; ; -1.64", "dos coordenadas"},
    {"31T 300000 4600000", "huso 31: el mapa está en el huso 30"},
    {"29 T 700000 4700000", "huso 29"},
    {"30U 603466 5400000", "banda U: en el huso 30 España está en las bandas S y T"},
    {"ED50 42.81, -1.64", "los grados se leen en WGS 84"},
    {"ETRS89 612000", "dos coordenadas"},
    {"ETRS89", "nada escrito"},
    {"-603.466 -4.732.636", "X UTM fuera de límites"},
    {"42.81 4.732.636", "mezcla"},
};

class PlaceRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(PlaceRefused, SaysWhy) {
    const Refused& c = GetParam();
    const PlaceParse p = ParsePlace(QString::fromUtf8(c.text));
    ASSERT_FALSE(p.place) << p.place->latitude << " " << p.place->longitude;
    EXPECT_TRUE(p.error.contains(QString::fromUtf8(c.reason)))
        << "reason: " << p.error.toStdString();
    const QString message = PlaceErrorMessage(QString::fromUtf8(c.text), p.error);
    EXPECT_TRUE(message.contains(p.error));
}

INSTANTIATE_TEST_SUITE_P(Nonsense, PlaceRefused, ::testing::ValuesIn(kRefused));

} // namespace
