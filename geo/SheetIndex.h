#pragma once

// The index of a set of sheets for globe viewers and GIS programs: "<Nombre>_hojas.kml" and
// "<Nombre>_hojas.geojson", one polygon per sheet with its number ("numero"), its name
// ("nombre") and the files it leaves ("ficheros"), in WGS 84 degrees.
//
// The degrees come from the ED50 grid through the change to ETRS89 that the WGS 84
// calibration files use (DatumChange), chosen once over the whole set so that neighbours'
// edges meet. Each polygon runs through every tile corner along the sheet's edges, so that a
// long edge follows the grid's curve in degrees; rings go anticlockwise, as RFC 7946 asks.
// In the KML the name is the placemark's label and the files its description, separated by
// ", "; in the GeoJSON the files are a list.
//
// A set run writes the index once its sheets are cut (the files each sheet will leave are
// known from the job's options), so that the set can be looked at while it is fetched.

#include "job/SheetCut.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

QString SheetIndexKmlName(const QString& name);     // "<Nombre>_hojas.kml"
QString SheetIndexGeoJsonName(const QString& name); // "<Nombre>_hojas.geojson"

struct SheetIndexFiles {
    QByteArray kml;
    QByteArray geoJson;
};

// Both files' bytes, written by GDAL's KML and GeoJSON drivers. `files` holds, sheet by
// sheet in the set's order, the names of the files that sheet leaves (its BMP, calibration
// files, exports). Nothing, with the reason in Spanish in `error`, when the lists do not
// match the sheets, no datum change covers the set, or GDAL cannot write.
std::optional<SheetIndexFiles> MakeSheetIndex(const SheetSet& set,
                                              const std::vector<QStringList>& files,
                                              QString* error = nullptr);

// Writes both files into the folder, each under a temporary name renamed into place when
// complete, replacing earlier ones. False, with the reason in Spanish, as above or when the
// folder is missing or cannot be written. Blocks on GDAL, PROJ and the disk: call it from a
// worker.
bool WriteSheetIndex(const SheetSet& set, const std::vector<QStringList>& files,
                     const QString& folder, QString* error = nullptr);
