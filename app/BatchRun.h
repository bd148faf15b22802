#pragma once

#include "download/UGatorade.h"
#include "job/DownloadJob.h"
#include "job/RunMeasures.h"
#include "run/RunQuestions.h"
#include "ui/Settings.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

class BatchConsole;
class DownloadRun;
class SheetSetRun;
struct RunEstimate;
struct RunOutcome;
struct SheetCut;
struct SheetSettings;
struct SheetSource;

// Exit statuses of `Morvel --batch`.
enum BatchStatus : int {
    kBatchDone = 0,        // every tile fetched and every file asked for written
    kBatchTilesFailed = 1, // some tile failed; the job's record stays for the next run
    kBatchInvalid = 2,     // the command line, the settings or the area are invalid
    kBatchWriteFailed = 3, // a file could not be written
};

// The exit status of a run stopped by a signal: 128 and the signal's number.
constexpr int InterruptedStatus(int signal) {
    return 128 + signal;
}

// The job a settings file describes, built as the main window builds it when it opens.
struct BatchJob {
    DownloadJob job;
    int connections = 0;
    // The message that refuses the job, as the window shows it; empty when it can run.
    QString problem;
};

// The corners go through the fields' mask, the area is recomputed, and the grid and the
// BMP name are checked as the window's "Descargar" does. The folder is not looked at.
BatchJob BatchJobFromSettings(const StoredSettings& settings);

// One run without windows: the job of a settings file, with fixed answers to the run's
// questions (an existing BMP or calibration file is replaced, a record of the same job is
// gone on with) and everything it tells on the console.
// "SIGTERM", "SIGINT" or the signal's number, as the summary names what stopped a run.
QString SignalName(int signal);

class BatchRun : public QObject, private RunQuestions {
    Q_OBJECT
public:
    explicit BatchRun(BatchConsole& console, QObject* parent = nullptr);
    ~BatchRun() override;

    // Before start(): the time limits and waits of the run's fetches; tests shorten them.
    void setFetchLimits(const FetchLimits& limits) { m_limits = limits; }
    // Reads the settings file and starts the run. Returns the exit status when it ends
    // before the first tile (refused settings, a missing folder); otherwise the run goes
    // on in the event loop and `finished` follows.
    std::optional<int> start(const QString& settingsPath);
    // The status `finished` gave, once it has.
    std::optional<int> status() const { return m_status; }

    // SIGINT or SIGTERM: the run stops as "Detener la descarga" stops it (transfers aborted,
    // nothing half-written left, the record kept) and finishes with 128 + the signal.
    void interrupt(int signal);

signals:
    void finished(int status);

private:
    MissingFolder missingFolder(const QString& folder, const QString& current) override;
    bool confirmOverwrite(const QString& caption, const QString& text) override;
    void message(const QString& text) override;
    void error(const QString& text) override;
    bool confirmResume(const QString& caption, const QString& text) override;

    // The log, the progress figure and the end of either kind of run.
    template <typename Run> void bindRun(Run* run);
    void runFinished(const RunOutcome& outcome);
    void printSummary(const RunOutcome& outcome);
    void end(int status);
    // A set of sheets (app/BatchSheets.cpp): the track read, the sheets cut, the estimates
    // printed and the set started; the exit status when it ends before the first tile. A
    // track is read and cut on a worker, so that a signal stops that at once too.
    std::optional<int> startSheets(const BatchJob& batch, const SheetSettings& sheets);
    // "Estimación: …", before the first request.
    void printEstimate(const RunEstimate& estimate);
    std::optional<int> runSheets(const BatchJob& batch, const SheetSource& source,
                                 const SheetCut& cut);
    // The track's sheets cut: the set run, or the status it ends with.
    void trackCut(const BatchJob& batch, const SheetSource& source, const SheetCut& cut,
                  const QString& error);
    void printSheetSummary(const RunOutcome& outcome);

    BatchConsole& m_console;
    QNetworkAccessManager m_network;
    FetchLimits m_limits;
    std::unique_ptr<DownloadRun> m_run;
    std::unique_ptr<SheetSetRun> m_setRun; // instead, for a set of sheets
    // While a track is read and cut on a worker: its stop.
    std::shared_ptr<std::atomic<bool>> m_cutStop;
    int m_reported = 0; // tiles reported so far, fetched or failed
    int m_signal = 0;   // the signal that stopped the run
    // What earlier sessions measured, and what this run measures, kept for the next ones.
    RunMeasures m_measures;
    RunMeasures m_measured;
    std::optional<int> m_status;
};

// Runs `Morvel --batch` on the settings file in the running core application and returns
// its exit status. The program's fetches keep their own limits; tests pass shorter ones.
int RunBatch(const QString& settingsPath, const FetchLimits& limits = {});
