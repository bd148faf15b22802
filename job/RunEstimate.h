#pragma once

// What a run of the job will take before it starts: its tiles, the bytes it leaves on
// disk and the time, from what this session has seen of the server.

#include "job/DownloadJob.h"
#include "job/MapKinds.h"
#include "job/SheetCut.h"

#include <QHash>
#include <QPair>
#include <QString>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// What the server's answers measured in this session: the bytes of a tile file per kind
// and coverage (from the tiles of runs, and from map images of a tile's size re-encoded
// as a tile is), and how long an answer takes.
class ServerMeasures {
public:
    // Answer times kept: the latest ones tell how the server does now.
    static constexpr size_t kRecentAnswers = 32;

    void addTileBytes(MapKind kind, int32_t tileSize, qint64 bytes);
    void addAnswerTime(qint64 ms);

    // The mean bytes of a tile of the kind and coverage, if any was seen.
    std::optional<double> tileBytes(MapKind kind, int32_t tileSize) const;
    // The nearest in scale to it: a coverage of the same kind, else any.
    std::optional<double> nearestTileBytes(MapKind kind, int32_t tileSize) const;
    // The mean of the latest answer times, in milliseconds.
    std::optional<double> answerMs() const;

private:
    struct Sum {
        qint64 bytes = 0;
        qint64 count = 0;
    };
    QHash<QPair<int, int32_t>, Sum> m_bytes;
    std::deque<qint64> m_answers;
};

// A tile file before any was measured: a 400 x 400 JPEG at the tiles' quality of a busy
// picture.
constexpr qint64 kNominalTileBytes = 40000;

// Bytes of the BMP of a width x height image: the header and rows padded to four bytes.
qint64 BmpFileBytes(int64_t width, int64_t height);

struct FileEstimate {
    QString what;
    qint64 bytes = 0;
    bool approximate = false;
};

struct RunEstimate {
    int sheets = 0; // a set of sheets: how many; 0 for one run
    int tiles = 0;
    int connections = 1;
    FileEstimate tileFiles;
    // The BMP and each export, when asked for: the BMP exact, the exports from their
    // usual share of its bytes ("aprox.").
    std::vector<FileEstimate> outputs;
    std::optional<qint64> seconds; // nothing until an answer time was measured
};

// Requests leave `connections` at a time, each taking the measured answer time.
RunEstimate EstimateRun(const DownloadJob& job, const ServerMeasures& measures, int connections);

// Every sheet of a set run one after another: the tiles, files and time of them all.
RunEstimate EstimateSheets(const DownloadJob& job, const SheetSet& set,
                           const ServerMeasures& measures, int connections);

// "25 mosaicos, 0,9 MB aprox.; BMP 12,0 MB; tiempo 13 s con 2 conexiones"; a set begins
// with its sheets: "12 hojas, 1.200 mosaicos, …".
QString EstimateText(const RunEstimate& estimate);
// "850 KB", "12,0 MB".
QString SizeText(qint64 bytes);
// "13 s", "3 min 20 s", "1 h 05 min".
QString RunTimeText(qint64 seconds);
