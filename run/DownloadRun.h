#pragma once

#include "download/TransferGate.h"
#include "download/UGatorade.h"
#include "job/DownloadJob.h"
#include "job/RunMeasures.h"
#include "run/BmpOutput.h"
#include "run/CalibrationRun.h"
#include "run/FolderLock.h"
#include "run/JobRecord.h"
#include "run/RunRecordStore.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class MosaicBitmap;
class QNetworkAccessManager;
class RunOutputs;
class RunQuestions;

// How a run ended.
struct RunOutcome {
    bool anyFailed = false;  // some tile of the grid failed
    bool anyFetched = false; // some tile of the grid was fetched (or taken from before)
    bool bmpSaved = false;
    // Ended before its grid was walked: stopped by the user, or by a folder that takes
    // no file. Its record stays for a later run to resume.
    bool stopped = false;
    // A tile, the BMP, an export or a calibration file could not be written.
    bool writeFailed = false;
    // The record is left in the folder: something is still to be done.
    bool recordKept = false;
    // The files written beside the BMP, in the order written.
    QList<CalibrationFormat> calibrationsWritten;
    // The exports written, in the order written.
    QList<ExportFormat> exportsWritten;
};
Q_DECLARE_METATYPE(RunOutcome)

// What a run does with the record of an unfinished run of the same job in its folder.
enum class ResumePolicy {
    Ask,    // asks the user (the window)
    Always, // goes on with it (the window-less entry)
    Never,  // starts afresh
};

// One download run over the grid of a job: requests the tiles in grid order (rows from the
// top, columns from the left), several at once when allowed, and reports each tile in grid
// order whatever order the answers come in, exactly as a plain loop would. It joins them
// into one image when the BMP or an export is asked for, and ends with the summary and the
// closing steps (RunOutputs): the BMP saved first, then the exports, the tile clean-up and
// the calibration files. It works on a copy of the job
// taken when it is made, so nothing the user changes meanwhile reaches it, and keeps the
// job's record in the folder up to date. Control is back in the event loop between all
// steps; the image work and the BMP's writing run on worker threads.
class DownloadRun : public QObject {
    Q_OBJECT
public:
    enum class StartResult {
        Started,
        NoTiles,    // the grid has no tile; nothing was done
        Cancelled,  // the user wanted no run for a missing folder, or refused to replace the
                    // BMP; the run ended before any tile
        Aborted,    // abort() came while a question was open
        FolderBusy, // another run has the destination folder; the message said so
    };
    // Where the BMP's save stands when the hook of setBmpCommitHook() is called.
    using BmpCommitStep = ::BmpCommitStep;

    // Transfers in flight at once: the default and the range of the setting.
    static constexpr int kDefaultConnections = 2;
    static constexpr int kMaxConnections = 6;
    DownloadRun(const DownloadJob& job, QNetworkAccessManager* manager, RunQuestions& questions,
                QObject* parent = nullptr);
    ~DownloadRun() override;

    // Before start(): transfers in flight at once (1 to kMaxConnections).
    void setConnections(int connections);
    void setFetchLimits(const FetchLimits& limits);
    // Before start(): the gate of the map server, shared with other requesters (which must
    // keep it alive while the run lives); without one the run makes its own with
    // setConnections()'s transfers.
    void setGate(TransferGate* gate) { m_gate = gate; }
    void setResumePolicy(ResumePolicy policy) { m_resumePolicy = policy; }
    // Before start(): where the record is read from and kept instead of its own file
    // (which must outlive the run); the resume policy still decides whether it is read.
    void setRecordStore(RunRecordStore* store) { m_recordStore = store; }
    // Tiles (column, row) fetched by an earlier run of this job, to take as they are when
    // the record in the folder vouches for their files as they still are; the others are
    // requested. No question is asked.
    void takeTiles(const QSet<QPoint>& tiles);
    // Called on the thread that saves the BMP at each step of its commit; tests hold the
    // save there.
    void setBmpCommitHook(std::function<void(BmpCommitStep)> hook) {
        m_bmpCommitHook = std::move(hook);
    }

    // The run's steps up to the first tile's request. The grid must have been
    // recomputed; the folder is checked (and replaced by the current directory when it
    // is missing), the log emptied, the BMP question and the resume question asked, the
    // grid marked.
    StartResult start();
    // Stops at the user's request: the transfers in flight are aborted, nothing
    // half-written is left, the record stays, and the run finishes at once. A BMP being
    // written or synced is abandoned and the old one stays; one already being renamed into
    // place is kept, and so is one saved before the stop came (an export under way is given
    // up): the run then finishes with the clean-up and calibration files that go with it.
    void stop();
    // The same, with what stopped it for the log (". Descarga detenida por " + `cause`).
    void stopBecause(const QString& cause);
    // Stops for good without a word: the transfers in flight are aborted, a BMP being
    // written is discarded, the record stays; nothing is half-written and no signal follows.
    // A BMP already being renamed into place gets its files beside it, unasked.
    void abort();
    bool isRunning() const { return m_phase != Phase::Idle && m_phase != Phase::Done; }

    // The run's own copy of the job, with the tile table as the run filled it.
    const DownloadJob& job() const { return m_job; }
    QString pathPrefix() const { return m_prefix; }
    QString bmpPath() const;
    QString recordPath() const;
    // The tiles of the grid that were fetched or taken, as (column, row).
    QSet<QPoint> fetchedTiles() const;

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
    // The tile scaled down (kThumbnailPixels square), for the preview and the cell's
    // thumbnail.
    void tileShown(int column, int row, const QImage& thumbnail, const QString& fileName);
    // The tile failed: red marker again; the reason is for the marker's hint.
    void tileFailed(int column, int row, const QString& reason);
    // End of the grid: the marker of a fetched tile is hidden.
    void markerHidden(int column, int row);
    // An output the estimates know (RunMeasures) is `part` written: 0 when it begins, 1
    // when it is over.
    void outputStep(const QString& key, double part);
    // Just before `finished`: what the run measured of the server, its tiles and its outputs,
    // for the estimates of the runs to come.
    void measured(const RunMeasures& samples);
    void finished(const RunOutcome& outcome);

private:
    enum class Phase { Idle, Fetching, Saving, Done };
    // Where each cell of the grid stands, by its index in grid order. A tile that comes in
    // is written and laid into the joined image at once, whatever its turn; what waits for
    // its turn is what the user is told, and the small picture shown with it.
    struct Cell {
        enum class Stage { Waiting, Checking, Fetching, Ready, Reported };
        Stage stage = Stage::Waiting;
        bool takeFromBefore = false; // a tile of an earlier run, to check before fetching
        bool taken = false;          // its result came from the earlier run's file
        bool announced = false;
        QString notTaken; // why the earlier run's file was not taken
        // With Ready: how the tile came in.
        bool ok = false;
        bool localWriteFailed = false;
        QString reason; // why it failed
        QImage thumbnail;
        QImage undrawn;      // the tile, until the joined image is ready to take it
        QString notInMosaic; // why the joined image did not take it
    };
    int tileCount() const { return m_job.tilesAcross * m_job.tilesDown; }
    int columnOf(int index) const { return index % m_job.tilesAcross + 1; }
    int rowOf(int index) const { return index / m_job.tilesAcross + 1; }
    bool alive() const { return m_phase == Phase::Fetching; }

    // The record of an unfinished run of this job to go on with, if there is one and the
    // policy (or the user) says so.
    std::optional<JobRecord> resumeFrom();
    void schedule();
    void startCheck(int index);
    // The slot of a fetcher with no tile, made when all are busy (at most one per tile of
    // the grid).
    size_t freeFetcher();
    void startFetch(int index, size_t slot);
    void onResult(int index, const TileFetchResult& result);
    // Lays the tile that came in into the joined image, once that is ready for it.
    void layIn(Cell& cell, int index);
    void onWaitingToRetry(size_t slot, int serverSeconds, int nextAttempt, const QString& reason);
    void announceHead();
    void drain();
    void report(int index);
    void failTile(int column, int row, const QString& reason, bool counted);
    void stopForFolder(const QString& reason);
    void endOfGrid();
    // The closing steps, walked by m_outputs.
    void startOutputs();
    // Gives up the joined image and any output under way.
    void releaseImage();
    void finish();
    void haltWork();
    void recordChanged();
    void saveRecord();

    DownloadJob m_job;
    QNetworkAccessManager* m_manager;
    RunQuestions& m_questions;
    RunQuestions* m_asking; // m_questions, unless nobody is there to answer
    int m_connections = kDefaultConnections;
    FetchLimits m_limits;
    ResumePolicy m_resumePolicy = ResumePolicy::Ask;
    QSet<QPoint> m_given; // takeTiles()

    FolderLock m_lock;
    std::unique_ptr<TransferGate> m_ownGate; // when no gate is given
    TransferGate* m_gate = nullptr;          // the transfers in flight to the server at once
    std::vector<std::unique_ptr<TileFetcher>> m_fetchers;
    std::vector<int> m_fetching; // per fetcher, the index of its tile, -1 when free
    std::vector<Cell> m_cells;
    int m_head = 0;          // the first tile not yet reported
    int m_counter = 0;       // tiles that advanced the progress bar
    int m_folderStopAt = -1; // the tile whose local failure stops the run
    // The tile whose wait for a retry the status bar shows, -1 for none.
    int m_waitShown = -1;
    quint64 m_generation = 0; // tells late worker answers of an abandoned run apart

    std::unique_ptr<MosaicBitmap> m_mosaic;
    QFuture<void> m_mosaicWork; // laying out the joined image's white
    std::function<void(BmpCommitStep)> m_bmpCommitHook;
    std::unique_ptr<RunOutputs> m_outputs;

    JobRecord m_record;
    RunRecordStore* m_recordStore = nullptr; // setRecordStore()
    bool m_recordActive = false;
    QThreadPool m_recordWriter; // one thread: the record's writes in order
    QTimer m_recordTimer;       // the record is rewritten at most this often while tiles arrive
    QTimer m_drainTimer;        // the next tile ready to be shown, on the next turn

    Phase m_phase = Phase::Idle;
    QString m_prefix;
    RunOutcome m_outcome;

    // What the run measures: the tiles' bytes, and the time from the first request to the
    // last tile fetched.
    RunMeasures m_measured;
    QElapsedTimer m_fetchClock;
    int m_tilesFetched = 0;
    qint64 m_lastFetchMs = 0;
};
