#pragma once

#include "job/DownloadJob.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class BmpFileSaver;
class JpegEncoder;
class MosaicBitmap;
class QNetworkAccessManager;
class RunQuestions;
class TileFetcher;

// How a run ended.
struct RunOutcome {
    bool anyFailed = false;  // some tile of the grid failed
    bool anyFetched = false; // some tile of the grid was fetched
    bool bmpSaved = false;
    // Set when a closing step failed outside the per-tile guards (saving the BMP); the
    // reason is then to be shown to the user.
    QString error;
    // No tile failed and nothing went wrong: the calibration files are due.
    bool calibrationDue() const { return !anyFailed && error.isEmpty(); }
};
Q_DECLARE_METATYPE(RunOutcome)

// One download run over the grid of a job: fetches the tiles one after the other in grid
// order (rows from the top, columns from the left), joins them into the BMP when asked,
// and ends with the summary and the closing steps (tile clean-up, BMP). It works on a
// copy of the job taken when it is made, so nothing the user changes meanwhile reaches
// it, and reports every step through its signals. Between tiles, and while a tile is
// being fetched, control is back in the event loop.
class DownloadRun : public QObject {
    Q_OBJECT
public:
    enum class StartResult {
        Started,
        NoTiles,   // the grid has no tile; nothing was done
        Cancelled, // the user refused to replace the BMP; the run ended before any tile
        Aborted,   // abort() came while a question was open
    };

    // Rows of the BMP written per turn of the event loop while it is saved.
    static constexpr int kBmpRowsPerTurn = 500;

    DownloadRun(const DownloadJob& job, QNetworkAccessManager* manager, RunQuestions& questions,
                QObject* parent = nullptr);
    ~DownloadRun() override;

    // Time limit of every attempt without progress; tests shorten it.
    void setTransferTimeout(int ms);

    // The run's steps up to the first tile's request. The grid must have been
    // recomputed; the folder is checked (and replaced by the current directory when it
    // is missing), the log emptied, the grid marked, the BMP question asked.
    StartResult start();
    // Stops for good: the attempt in flight is aborted and its temporary file removed,
    // a BMP being written is discarded; nothing is half-written and no signal follows.
    void abort();
    bool isRunning() const { return m_phase != Phase::Idle && m_phase != Phase::Done; }

    // The run's own copy of the job, with the tile table as the run filled it.
    const DownloadJob& job() const { return m_job; }
    QString pathPrefix() const { return m_prefix; }
    QString bmpPath() const;

signals:
    // The destination folder was missing; the current directory is used instead.
    void folderReplaced(const QString& folder);
    // The run's controls are to be disabled (and, after a refused BMP question,
    // enabled again through `cancelled`).
    void controlsLocked();
    void cancelled();
    void logCleared();
    // A message for the event log, without its stamp.
    void logEvent(const QString& message);
    void statusText(const QString& text);
    void progressRange(int maximum);
    void progress(int value);
    // A cell of the grid is waiting: red marker with its label.
    void tileWaiting(int column, int row, const QString& label);
    // The cell's record (URL, file name, fetched mark) changed.
    void tileRecorded(int column, int row, const TileRequest& record);
    // The tile's file was written: green marker, then hidden.
    void tileDownloaded(int column, int row);
    // The decoded tile, for the preview and the cell's thumbnail.
    void tileShown(int column, int row, const QImage& image, const QString& fileName);
    // The tile's file was written but does not decode: the preview shows nothing.
    void previewCleared();
    // The tile failed: red marker again; the reason is for the marker's hint.
    void tileFailed(int column, int row, const QString& reason);
    // End of the grid: the marker of a fetched tile is hidden.
    void markerHidden(int column, int row);
    void finished(const RunOutcome& outcome);

private:
    enum class Phase { Idle, Fetching, Saving, Done };

    void nextTile();
    void onFetchFinished(bool ok, const QString& reason);
    void completeTile(int column, int row);
    void failTile(int column, int row, const QString& reason, bool counted);
    void endOfGrid();
    void deleteTiles();
    void saveBmpSlice();
    void finish();
    int tileCount() const { return m_job.tilesAcross * m_job.tilesDown; }

    DownloadJob m_job;
    RunQuestions& m_questions;
    TileFetcher* m_fetcher = nullptr;
    std::unique_ptr<JpegEncoder> m_encoder;
    std::unique_ptr<MosaicBitmap> m_mosaic;
    std::unique_ptr<BmpFileSaver> m_saver;
    QTimer m_step; // the next step after a return to the event loop
    Phase m_phase = Phase::Idle;
    QString m_prefix;
    int m_index = 0;   // position in grid order of the tile in hand
    int m_counter = 0; // tiles that advanced the progress bar
    RunOutcome m_outcome;
};
