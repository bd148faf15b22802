#pragma once

// Where a set of sheets comes from, as the user gave it: a box (two corners) or a track with
// a margin, and how many tiles neighbouring sheets share. Kept beside the set so that the
// set is cut again when the coverage or the name changes, and so that it can be told in
// words and written back to the settings file.

#include "job/SheetCut.h"

#include <QString>

#include <vector>

struct SheetSource {
    enum class Kind { Box, Track };
    Kind kind = Kind::Box;
    GroundRect box;    // Box: the two corners, full metres, in either order
    QString trackPath; // Track: the file it was read from
    // Track: its lines and single points on the grid, as TrackOnGrid gives them.
    std::vector<std::vector<GroundPoint>> lines;
    std::vector<GroundPoint> points;
    double margin = 0.0; // Track: metres around it
    int overlap = 0;     // 0..kMaxSheetOverlap

    // The source as the user gave it, without the track's points: what the words and the
    // settings file keep of it, cheap to copy.
    SheetSource withoutTrack() const;

    // The sheets of the source for a coverage and a name. A track's cut ends at once when
    // `stop` becomes true (see CutCorridor); a box's is quick and takes no flag.
    SheetCut cut(int32_t tileSize, const QString& name,
                 const std::atomic<bool>* stop = nullptr) const;
};

// "Hojas: 12 (Ruta_01 … Ruta_12)", "Hojas: 1 (Ruta_01)".
QString SheetSetLine(const SheetSet& set);
// What the sheets cover, for the main window: "recuadro de X 585.000, Y 4.730.000 a
// X 620.000, Y 4.700.000" or "ruta «vuelta.gpx» con 500 m de margen", and the overlap
// when there is one (", solape de 1 mosaico").
QString SheetSourceText(const SheetSource& source);
