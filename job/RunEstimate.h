#pragma once

// What a run of the job will take before it starts: its tiles, the bytes it leaves on disk
// and the time, from what was measured of this machine and the server (RunMeasures), and
// from nominal figures, said "aprox.", for what was not measured yet.

#include "job/DownloadJob.h"
#include "job/RunMeasures.h"
#include "job/SheetCut.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// Bytes of the BMP of a width x height image: the header and rows padded to four bytes.
qint64 BmpFileBytes(int64_t width, int64_t height);

// What a tile of the kind and coverage weighs: as measured, else from the sides of the kind
// measured within twice or half of it (re-encoded map images of other scales), else the
// nominal figure; approximate unless measured.
struct TileBytesGuess {
    double bytes = kNominalTileBytes;
    bool approximate = true;
};
TileBytesGuess GuessTileBytes(const RunMeasures& measures, MapKind kind, int32_t side);

struct FileEstimate {
    QString what;
    qint64 bytes = 0;
    bool approximate = false;
};

// One step of a run's end and its seconds.
struct TimedOutput {
    QString key;
    double seconds = 0.0;
};

// The time of one run (of a set: of one sheet) by its parts, for the progress of a run.
struct RunPlan {
    int tiles = 0;
    double tileSeconds = 0.0; // at kNominalAnswerMs while the server is not measured
    std::vector<TimedOutput> outputs;
};

struct RunEstimate {
    int sheets = 0; // a set of sheets: how many; 0 for one run
    int tiles = 0;
    int connections = 1;
    FileEstimate tileFiles;
    // The BMP and each export, when asked for: the BMP exact, the exports from what those
    // written here weighed for the weight of their tiles.
    std::vector<FileEstimate> outputs;
    // The whole time, the closing steps included; nothing until an answer time of the
    // server was measured.
    std::optional<qint64> seconds;
    // Some output's speed was never measured here: its nominal figure counts.
    bool secondsApproximate = false;
    // By sheet (one for a run).
    std::vector<RunPlan> plan;
};

// Requests leave `connections` at a time, each taking the server's measured answer time;
// then each output asked for takes its measured seconds.
RunEstimate EstimateRun(const DownloadJob& job, const RunMeasures& measures, int connections);

// Every sheet of a set run one after another: the tiles, files and time of them all.
RunEstimate EstimateSheets(const DownloadJob& job, const SheetSet& set, const RunMeasures& measures,
                           int connections);

// "25 mosaicos, 0,9 MB aprox.; tiempo 13 s con 2 conexiones; BMP 12,0 MB"; a set begins
// with its sheets: "12 hojas, 1.200 mosaicos, …".
QString EstimateText(const RunEstimate& estimate);
// "850 KB", "12,0 MB".
QString SizeText(qint64 bytes);
// "13 s", "3 min 20 s", "1 h 05 min".
QString RunTimeText(qint64 seconds);
