#pragma once

// An area larger than one run cut into sheets. Each sheet is an ordinary grid of the job's
// coverage (upper-left corner on multiples of it in full metres, 1 to 10 tiles across and
// down), fetched as a run of its own and named "<Nombre>_01", "<Nombre>_02", ... in reading
// order: rows of sheets from the north, and within a row from the west.
//
// The sheets of a set lie on one lattice anchored at the upper-left corner of the area, so
// that neighbours touch edge to edge or share `overlap` tiles; no sheet reaches past the
// area's edge, and every tile of the area is in a sheet. A box is cut into as few sheets a
// side as hold it, of equal size where the tiles divide evenly and otherwise one tile apart
// (12 tiles: 6 + 6; 13: 7 + 6), so that no sliver of a sheet is left at its edge. A track's
// corridor takes sheets of ten tiles, (10 - overlap) tiles apart, the last column and row
// narrower where the area ends.
//
// How a set run uses it: cut once when the job starts (the box or the track and its margin
// as the user gave them), keep the sheets in the job's record, and turn each sheet into the
// job of its run with SheetJob. The cut holds no state and may run on any thread; a
// corridor's cut takes a flag that stops it at once.

#include "job/DownloadJob.h"
#include "job/MapArea.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

// Most sheets one job may hold: some 40,000 tiles, several days of fetching.
constexpr int kMaxSheets = 400;
// Most tiles two neighbouring sheets may share.
constexpr int kMaxSheetOverlap = 2;

struct Sheet {
    int number = 0; // 1.. in reading order
    int row = 0;    // place in the lattice: 0 is the northernmost row,
    int column = 0; // and 0 the westernmost column
    int32_t easting = 0;
    int32_t northing = 0; // upper-left corner, full metres
    int32_t tileSize = 0;
    int across = 0; // tiles, 1..10
    int down = 0;
    QString name; // "<Nombre>_01"

    GroundRect rect() const;
    int tiles() const { return across * down; }
    bool operator==(const Sheet& o) const;
    bool operator!=(const Sheet& o) const { return !(*this == o); }
};

struct SheetSet {
    QString name; // the "Nombre" the sheets are named after
    int32_t tileSize = 0;
    int overlap = 0;
    // The area the lattice spans, on multiples of the coverage: the box, or the bounding box
    // of a track's corridor. Its upper-left corner is the lattice's anchor.
    GroundRect area;
    int latticeColumns = 0;
    int latticeRows = 0;
    std::vector<Sheet> sheets; // in reading order, numbered 1..n

    // Tiles over all sheets; a tile two overlapping sheets share counts twice, as it is
    // fetched twice.
    int tiles() const;
    // The smallest rectangle holding every sheet: what the index and the overview show.
    GroundRect extent() const;
};

// Beyond this many sheets a box's count is not given: the message only says "more".
constexpr int64_t kSheetCountLimit = 100000;

// A set, or the message saying why the area cannot be cut.
struct SheetCut {
    std::optional<SheetSet> set;
    QString message;
    // How many sheets the area takes, also when refused for taking too many. A box is
    // counted up to kSheetCountLimit + 1, a corridor only until it passes kMaxSheets; past
    // the count the message says "más de".
    int64_t sheetCount = 0;
    // The cut was stopped by its flag before it ended: no set, and nothing to tell.
    bool stopped = false;
};

struct SheetOptions {
    int32_t tileSize = 0;
    int overlap = 0; // 0..kMaxSheetOverlap
    QString name;    // the "Nombre" of the job
};

// A box (two corners in either order, or a box drawn on the map) snapped outwards to
// multiples of the coverage and covered entirely, by sheets of equal size as far as the
// tiles allow. A box of up to ten tiles a side is one sheet. A side that comes to nothing
// keeps one tile east or south of its line.
SheetCut CutBox(const GroundRect& box, const SheetOptions& options);

// Only the sheets, of the lattice anchored at the corridor's bounding box snapped
// outwards, that the corridor reaches into: every point within `margin` metres of a line
// segment or a single point of the track (zone 30 metres, as TrackOnGrid gives them).
// A sheet is taken when some part of the corridor lies inside it, or, with no margin, when
// the track touches it (a track along a sheet's edge takes the sheets on both sides).
//
// A corridor's sheets keep the lattice's size instead of being trimmed to the corridor
// within them: a set of sheets of one size prints at one scale on one paper, lines up in
// the index like a map series, and each sheet still shows the ground around the track; the
// tiles this adds are at most those of the sheets the corridor touches anyway, and the
// estimates count them before the first request.
//
// The work follows the track's points, not its length: each segment costs the rows of
// sheets it crosses, and the cut gives up as soon as more than kMaxSheets are found. When
// `stop` becomes true the cut ends at once with `stopped` set.
SheetCut CutCorridor(const std::vector<std::vector<GroundPoint>>& lines,
                     const std::vector<GroundPoint>& points, double margin,
                     const SheetOptions& options, const std::atomic<bool>* stop = nullptr);

// "<base>_07": the number in two digits, three when the set has more than 99 sheets.
QString SheetName(const QString& base, int number, int count);

// The same sheets named after another "Nombre", as a cut for that name names them.
void RenameSheets(SheetSet* set, const QString& name);

// The job of one sheet's run: the job as the user set it (map kind, folder, options,
// coverage) with the sheet's corner and tile counts, the lower-right corner and the sizes
// as the area recompute derives them, the sheet's name as its BMP name and a clean tile
// table.
DownloadJob SheetJob(const DownloadJob& job, const Sheet& sheet);
