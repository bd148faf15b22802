#pragma once

// A place as a person types it to find it on the map: UTM zone 30 metres on ED50
// ("612000 4735000"), on ETRS89 as a GPS shows them ("30T 612000 4735000",
// "ETRS89 612000 4735000"), or latitude and longitude on WGS 84 in decimal degrees
// ("42.81, -1.64"), with hemisphere letters ("42.81N 1.64W"; O for oeste too) or in
// degrees, minutes and seconds ("42°48'36\"N 1°38'24\"W").

#include "job/MapArea.h"

#include <QString>

#include <optional>

struct TypedPlace {
    enum class Kind { Grid, Geographic };
    // The datum of a grid place: ED50, the map's own, unless the text says otherwise.
    enum class Datum { Ed50, Etrs89 };
    Kind kind = Kind::Grid;
    GroundPoint grid; // Kind::Grid: easting and full northing in metres
    Datum datum = Datum::Ed50;
    double latitude = 0.0;  // Kind::Geographic: degrees, south negative
    double longitude = 0.0; // degrees, west negative
};

struct PlaceParse {
    std::optional<TypedPlace> place;
    QString error; // why the text is no place, in a few Spanish words
};

// Reads the text of "Ir a:". Two numbers both above 180 are UTM metres, easting first; a
// northing under 1,000,000 is taken without its leading 4,000,000, as the corner field
// holds it, and the thousands may be grouped with points ("603.466 4.732.636"). They are
// ED50 unless the zone and band come first, as devices write them ("30T", "30 S"; 30N for
// the northern hemisphere), which means ETRS89, or a datum is named first ("ETRS89",
// "WGS84", "ED50"); zones other than 30, and bands outside Spain, are refused. Anything
// else is degrees: latitude first unless hemisphere letters say otherwise; the two may be
// parted by a comma, a semicolon or blanks, and a decimal comma is read as such between
// digits ("42,81; -1,64"). Out-of-range values are refused: latitudes beyond 90°,
// longitudes beyond 180°, minutes or seconds of 60 or more.
PlaceParse ParsePlace(const QString& text);

// The message for a text that is no place.
QString PlaceErrorMessage(const QString& text, const QString& reason);
