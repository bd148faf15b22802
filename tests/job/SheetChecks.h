#pragma once

// What every cut into sheets must hold, checked with plain geometry of the tests' own:
// points sampled along a track and around it, and distances by clamping to rectangles.

#include "job/SheetCut.h"

#include <vector>

using TrackLines = std::vector<std::vector<GroundPoint>>;

// Sheets numbered 1..n in reading order and named "<base>_NN" (three digits past 99); each
// an ordinary grid (1 to 10 tiles a side, corner on multiples of the coverage) at its place
// in the lattice anchored at the set's area, (10 - overlap) tiles from its neighbours, and
// as wide as the lattice allows without passing the area's edge: a corridor's sheets, and a
// box's when its tiles divide into sheets of ten.
void ExpectLatticeSheets(const SheetSet& set, const QString& base);

// Every tile of the set's area lies in some sheet.
void ExpectAreaCovered(const SheetSet& set);

// Every point within the margin of the track lies in some sheet: the track's points, points
// along each segment and just inside the margin on both sides of it, and a ring around
// each point.
void ExpectCorridorCovered(const SheetSet& set, const TrackLines& lines,
                           const std::vector<GroundPoint>& points, double margin);

// The sheets are those the corridor reaches into: no sheet lies wholly outside it (some
// point of the track, sampled every five metres, is within the margin and the sampling's
// five metres of it), and every place of the lattice left out lies at least the margin
// away from every sampled point.
void ExpectOnlySheetsTheCorridorReaches(const SheetSet& set, const TrackLines& lines,
                                        const std::vector<GroundPoint>& points, double margin);
