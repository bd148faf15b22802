#pragma once

// Where a run, or a set of sheets, stands in the whole of its work, for its progress bar
// and the time left: each sheet's tiles, then its outputs, weighed by their estimated
// seconds. The bar counts in tiles as the runs report them, and each output in the tiles
// its estimated time is worth, so that the bar moves while the files are written too.

#include "job/RunEstimate.h"

#include <QString>

#include <vector>

class RunPace {
public:
    // `plan` by sheet, as the estimate gives it; the run begins at `nowMs`.
    explicit RunPace(std::vector<RunPlan> plan = {}, qint64 nowMs = 0);

    int maximum() const;
    int value() const;

    // Tiles reported so far in the whole run or set, as its progress counts them.
    void tilesReported(int count);
    // The sheet at `index` of the plan begins: those before it are done.
    void sheetStarted(int index, qint64 nowMs);
    // An output of the sheet under way: `part` of it done, 0 when it begins, 1 when it ends.
    void outputStep(const QString& key, double part, qint64 nowMs);

    // What is left: the step under way at its own pace once it shows one, what follows
    // it as estimated.
    qint64 secondsLeft(qint64 nowMs) const;

private:
    double unitsOf(double seconds) const { return seconds * m_unitsPerSecond; }
    int tilesBefore(int sheet) const;
    void beginStep(qint64 nowMs);

    std::vector<RunPlan> m_plan;
    double m_unitsPerSecond = 1.0;
    int m_maximum = 0;
    int m_sheet = 0;
    int m_tiles = 0;     // reported in the whole
    int m_output = -1;   // of the sheet under way; -1 while its tiles come
    double m_part = 0.;  // of that output
    qint64 m_stepMs = 0; // when the step under way began
    int m_stepTiles = 0; // the tiles reported then
};
