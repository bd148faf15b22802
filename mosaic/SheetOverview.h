#pragma once

// The overview of a set of sheets, "<Nombre>_hojas.png": the sheets' images side by side
// at a small scale, with each sheet's outline and its number over them, to find a sheet at
// a glance.
//
// The sheets' images exist only while a set runs: the run keeps each finished sheet's
// image scaled down to the overview's scale (a few hundred pixels instead of thousands)
// as a piece, reads back the BMP of a sheet finished in an earlier session, and paints the
// overview with the pieces it has when the set ends. Painting needs the application object
// (for the fonts) but no window, and may run on a worker thread.

#include "job/SheetCut.h"

#include <QImage>
#include <QString>

#include <vector>

// The overview's longer side, in pixels, unless asked otherwise.
constexpr int kSheetOverviewSide = 2000;
// Most pixels painted at all (128 MB): beyond it the scale is a mistake.
constexpr double kSheetOverviewPixels = 32e6;

// A picture of a rectangle of ground: a sheet's image, or a part of it.
struct OverviewPiece {
    GroundRect ground;
    QImage image;
};

// "<Nombre>_hojas.png"
QString SheetOverviewName(const QString& name);

// Metres per pixel that make the longer side of `area` `longSide` pixels.
double SheetOverviewScale(const GroundRect& area, int longSide = kSheetOverviewSide);

// The overview of `area` (usually the set's extent) at `metresPerPixel`: white where no
// piece lies, each piece stretched over its ground, then each sheet's outline and, in the
// middle of the sheet and never past its edges, its number on a pale label. A null image
// when the scale is not positive or would make more than kSheetOverviewPixels.
QImage PaintSheetOverview(const GroundRect& area, double metresPerPixel,
                          const std::vector<Sheet>& sheets,
                          const std::vector<OverviewPiece>& pieces);
