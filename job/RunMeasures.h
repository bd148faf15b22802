#pragma once

// What this machine and the map servers were measured doing, from which the estimates of a
// run are made: how long a server takes to answer, what a tile file of each kind and
// coverage weighs, and how fast each output of a run (the BMP, each export, the calibration
// and world files) is written here and what it weighs. Runs and the map window's images add
// to it; it is kept between sessions in the user's cache folder (run/MeasureStore).

#include "job/DownloadJob.h"
#include "job/Measure.h"

#include <QByteArray>
#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// The outputs of a run as the measures know them, by a key of their own. An export's key
// is its name, so that a new format slots in with its nominal figures alone.
QString BmpOutputKey();
QString ExportOutputKey(ExportFormat format);
QString OziExplorerOutputKey();
QString CompeGpsOutputKey();
QString WorldFileOutputKey();
// The keys of the outputs the job asks for, in the order a run writes them.
QStringList OutputKeysAsked(const DownloadJob& job);

// What an output costs before it was ever measured here: on a 2-core machine, the BMP and
// the exports per megapixel of the joined image, the small files per file.
struct OutputFigures {
    bool perMegapixel = true;
    double seconds = 0.0; // per megapixel, or per file
    // Bytes of the file per megapixel, when the tiles weigh kNominalTileBytes; none for a
    // file whose size is not estimated (the BMP is known exactly).
    double bytesPerMegapixel = 0.0;
};
OutputFigures NominalOutputFigures(const QString& key);

// A tile file before any was measured: a 400 x 400 JPEG at the tiles' quality of a busy
// picture.
constexpr double kNominalTileBytes = 40000.0;
// An answer of a server before any was measured, only for the share of the tiles in the
// progress of a run: no time is shown from it.
constexpr double kNominalAnswerMs = 300.0;

// One output written by a run.
struct OutputSample {
    QString key;
    double megapixels = 0.0; // of the joined image
    double tileBytes = 0.0;  // of the tile files of the grid it was made from
    double seconds = 0.0;
    double bytes = 0.0; // of the files it wrote
};

class RunMeasures {
public:
    // How much of each figure's history counts, in the units of its weights.
    static constexpr double kAnswerMemory = 100.0; // turns of the transfers
    static constexpr double kTileMemory = 400.0;   // tiles
    static constexpr double kOutputMemory = 64.0;  // megapixels, or files
    // Servers remembered, the latest ones.
    static constexpr int kServers = 16;

    struct OutputMeasure {
        Measure seconds{kOutputMemory};   // per megapixel, or per file
        Measure bytes{kOutputMemory};     // per megapixel of the image
        Measure tileBytes{kOutputMemory}; // per megapixel of the tiles it was made from
    };

    // A turn of the server's transfers: one request answered (a map image), or a run's grid
    // over `turns` turns of its transfers at once.
    void addAnswerTime(const QString& server, double ms, double turns = 1.0);
    std::optional<double> answerMs(const QString& server) const;

    // A tile file, or an image re-encoded as a tile is, of the kind and coverage.
    void addTileBytes(MapKind kind, int32_t side, double bytes);
    // Tiles of exactly this kind and coverage, if any was seen.
    std::optional<double> tileBytes(MapKind kind, int32_t side) const;
    // The sides of the kind whose tiles were seen.
    std::vector<std::pair<int32_t, double>> tileBytesOfKind(MapKind kind) const;

    void addOutput(const OutputSample& sample);
    const OutputMeasure* output(const QString& key) const;

    // The measures of another session or run, taken as later than these.
    void add(const RunMeasures& later);
    bool isEmpty() const;

    // As kept in the cache folder. A file that is not one of these, damaged or of another
    // version gives no measures; a damaged entry of one is left out.
    QByteArray toJson() const;
    static RunMeasures FromJson(const QByteArray& json);

private:
    // The server to the front of the list, the latest first; beyond kServers the oldest
    // are forgotten with what was measured of them.
    void putFirst(const QString& server);
    void forgetOldServers();

    // The terrain model is served as the cartography: their tiles are the same images.
    static int TileKind(MapKind kind);

    QStringList m_servers; // the latest first
    QHash<QString, Measure> m_answers;
    QHash<QPair<int, int32_t>, Measure> m_tiles;
    QHash<QString, OutputMeasure> m_outputs;
};
