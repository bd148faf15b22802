#pragma once

// A set of sheets run as one job: the sheets one after another, each an ordinary download
// run of its own job (SheetJob) in a folder of its own inside the destination folder, with
// the same transfers, waits and closing steps as a single run. A sheet whose tiles all came
// is finished, its files written, before the next one starts. The set holds the
// destination folder for the whole job, keeps one record of every sheet and tile in it
// (`<Nombre>.morvel`), and writes the index of the sheets (`<Nombre>_hojas.kml`,
// `.geojson`) and their overview (`<Nombre>_hojas.png`) beside their folders.
//
// Its signals are those of DownloadRun, with the same meaning for the sheet being fetched
// (its cells, tiles and files), the progress counted over the whole set and the status
// texts led by "Hoja 3 de 12: "; so the window and the window-less entry bind either.

#include "download/TransferGate.h"
#include "download/UGatorade.h"
#include "job/BoundedRead.h"
#include "job/SheetSource.h"
#include "mosaic/SheetOverview.h"
#include "run/DownloadRun.h"
#include "run/FolderLock.h"
#include "run/RunQuestions.h"
#include "run/RunRecordStore.h"
#include "run/SheetSetRecord.h"

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class QNetworkAccessManager;

// What a set needs to begin, read and made on a worker (see SheetSetRun::start).
struct SetStart {
    SheetSetRecord fresh;
    std::vector<QByteArray> freshBytes;
    // The earlier record of the same sheets, when something of it was done; a sheet whose
    // BMP is not the one written is no longer finished in it.
    std::optional<SheetSetRecord> earlier;
    std::vector<QByteArray> earlierBytes;
    QString refused; // why a record that is there was not read
    // The record there is of other sheets under the same name (or of a single run): what
    // they were, for the user; it is not gone on with.
    QString otherSheets;
    // By sheet: why its folder is not the set's to write into (a link, a file), empty when
    // it is or is not made yet.
    std::vector<QString> folderProblems;
    // By sheet finished before: the log's line when its BMP is not the one written.
    std::vector<QString> bmpChanged;
    std::vector<bool> filesThere; // by sheet: some file it leaves is there
};

class SheetSetRun : public QObject, private RunRecordStore {
    Q_OBJECT
public:
    using StartResult = DownloadRun::StartResult;

    // How far the set got, for a summary.
    struct Totals {
        int sheets = 0;
        int finished = 0; // sheets with every file written, in this session or before
        int tiles = 0;
        int fetched = 0;        // fetched, or taken from before, in the sheets' grids
        int failed = 0;         // reported as failed
        int unreported = 0;     // never reached: the set was stopped first
        QStringList unfinished; // the names of the sheets not finished
        // The index and the overview as the set's end wrote them, or found them written.
        bool indexWritten = false;
        bool overviewWritten = false;
    };

    // `job` gives the map kind, coverage, destination folder and options; the sheets
    // their corners and grids.
    SheetSetRun(const DownloadJob& job, const SheetSet& set, const SheetSource& source,
                QNetworkAccessManager* manager, RunQuestions& questions, QObject* parent = nullptr);
    ~SheetSetRun() override;

    // As DownloadRun's, before start(); without a gate the set makes one for all its sheets.
    void setConnections(int connections);
    void setFetchLimits(const FetchLimits& limits) { m_limits = limits; }
    void setGate(TransferGate* gate) { m_gate = gate; }
    // Whether an unfinished set of the same sheets in the folder is gone on with: asked
    // (the window), always (the window-less entry, and a retry of the failed tiles), or
    // never.
    void setResumePolicy(ResumePolicy policy) { m_resumePolicy = policy; }

    // The folder is checked (the current directory when it is missing) and held; then,
    // once the records are read on a worker, the resume question and a question about
    // replacing the sheets' files are asked (refused, the set ends with `cancelled`), the
    // record and the index written, and the first sheet not yet finished started.
    StartResult start();
    // As DownloadRun's: the sheet being fetched stops, the record stays, and the set
    // finishes as soon as a write of its index or overview under way is over, so that its
    // totals say what is there.
    void stop();
    void stopBecause(const QString& cause);
    // Stops for good without a word; the record stays.
    void abort();
    bool isRunning() const { return m_phase == Phase::Running || m_phase == Phase::Closing; }

    const SheetSet& set() const { return m_set; }
    // The run of the sheet being fetched, or of the latest one: its job and folder.
    const DownloadJob& job() const;
    QString pathPrefix() const;
    QSet<QPoint> fetchedTiles() const;
    QString recordPath() const;
    // The folder of a sheet's files: the destination folder and the sheet's name.
    QString sheetFolder(const Sheet& sheet) const;
    Totals totals() const;

signals:
    void folderReplaced(const QString& folder);
    void controlsLocked();
    void cancelled();
    void logCleared();
    void logEvent(const QString& message);
    void statusText(const QString& text);
    void progressRange(int maximum);
    void progress(int value);
    void tileWaiting(int column, int row, const QString& label);
    void tileRecorded(int column, int row, const TileRequest& record);
    void tileDownloaded(int column, int row);
    void tileShown(int column, int row, const QImage& image, const QString& fileName);
    void tileFailed(int column, int row, const QString& reason);
    void markerHidden(int column, int row);
    void outputStep(const QString& key, double part);
    // What each sheet's run measured, as it finishes.
    void measured(const RunMeasures& samples);
    void finished(const RunOutcome& outcome);
    // A sheet's run begins: the viewer's cells are to be made again for its grid.
    void sheetStarted(int number, int count, const QString& name);

private:
    enum class Phase { Idle, Running, Closing, Done };
    // A file of the set written on a worker: at most one write at a time, and a request
    // that comes meanwhile makes one more write of what is then latest.
    struct Writer {
        bool busy = false;
        bool again = false;
        bool failed = false; // the latest write
        bool told = false;   // a failure was logged
        bool done = false;   // some write succeeded: the file is there
    };
    // What each sheet came to in this session.
    struct Tally {
        bool ran = false;
        int fetched = 0;
        int reported = 0;
        QList<CalibrationFormat> calibrations;
    };

    bool alive() const { return m_phase == Phase::Running; }
    // Once the records are read: the questions, the record written, the first sheet.
    void begin(const SetStart& prepared);
    // Whether to go on with an earlier record of the same sheets, as the policy or the
    // user says.
    bool resumeAsked(const SheetSetRecord& earlier);
    // Whether the files of the sheets to fetch may be replaced, asked once for all.
    bool confirmReplace(const std::vector<bool>& filesThere);
    void nextSheet();
    void connectSheet(DownloadRun* run);
    void sheetFinished(const RunOutcome& outcome);
    // The BMP of a sheet whose run did everything is read back for its size and SHA-256;
    // only then is the sheet finished in the record.
    void stampSheetBmp();
    void sheetStamped(const BoundedDigest& bmp);
    // The sheet being fetched is finished with its BMP as read back; false when it could
    // not be read.
    bool markFinished(const BoundedDigest& bmp);
    void afterSheet();
    void stopForFolder(const QString& folder, const QString& reason);
    void endOfSet();
    // The set ends once the index, the overview and a BMP being read back are done, so
    // that what it then says of them is so.
    void finishSet();
    void finishWhenIdle();

    // The index of the sheets and their files, and the overview, each on a worker.
    std::vector<QStringList> indexFiles(bool lookInFolders) const;
    void writeIndex();
    void writeOverview();
    // One write is over: a failure is logged once; true when another is to follow,
    // otherwise the set's end goes on if it waited for it.
    bool written(Writer& writer, bool ok, const QString& failure);
    void closingWritten();
    int piecePixels(const Sheet& sheet) const;

    // RunRecordStore, for the sheet being fetched.
    std::optional<JobRecord> loadRecord(QString* refused) override;
    void saveRecord(const JobRecord& record) override;
    void recordDone(const JobRecord& record) override;
    void sheetRecordChanged(const JobRecord& record, bool done);
    void scheduleRecordWrite();
    void writeRecord();

    DownloadJob m_job;
    SheetSet m_set;
    SheetSource m_source;
    QNetworkAccessManager* m_manager;
    RunQuestions& m_questions;
    int m_connections = DownloadRun::kDefaultConnections;
    FetchLimits m_limits;
    TransferGate* m_gate = nullptr;
    std::unique_ptr<TransferGate> m_ownGate;
    ResumePolicy m_resumePolicy = ResumePolicy::Ask;

    FolderLock m_lock;
    Phase m_phase = Phase::Idle;
    bool m_resumed = false;
    bool m_stopAsked = false;
    bool m_finishing = false; // finishSet() came: no more work begins
    // The sheet being fetched did everything and its BMP is to be, or is being, read back.
    bool m_bmpToStamp = false;
    QFuture<BoundedDigest> m_stampWork;
    bool m_stampStarted = false;
    quint64 m_generation = 0; // tells late worker answers of an abandoned set apart
    int m_current = -1;       // index of the sheet being fetched, or of the latest
    int m_progressBase = 0;   // tiles of the sheets done or finished before, for the bar
    std::vector<Tally> m_tally;
    RunOutcome m_outcome;

    SheetSetRecord m_record;
    std::vector<QByteArray> m_entryBytes; // each sheet's part of the record, as last made
    QThreadPool m_recordWriter;           // one thread: the record's writes in order
    // The index and the overview: threads of the set's own, so that a set gone waits for
    // what they write and nothing of theirs (a font's caches) outlives the application.
    QThreadPool m_fileWriter;
    QTimer m_recordTimer;
    QTimer m_nextTimer; // the next sheet starts once the latest run has returned

    // The overview's pieces by sheet, once finished; the piece of the sheet being fetched.
    std::vector<QImage> m_pieces;
    QImage m_piece;
    std::vector<bool> m_readBack; // sheets whose BMP was read back, or tried
    Writer m_indexWriter;
    Writer m_overviewWriter;

    class SheetQuestions;
    std::unique_ptr<SheetQuestions> m_sheetQuestions;
    // Last, so that the sheet's run goes before the record store and the questions it uses.
    std::unique_ptr<DownloadRun> m_run;
};
