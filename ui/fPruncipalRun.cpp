// The main window's part in a download run: it starts the run, turns the run's reports
// into its controls, the viewer's cells and the event log, and writes the calibration
// files at the end.
#include "ui/fPruncipal.h"

#include "job/AreaRecalc.h"
#include "job/FileNames.h"
#include "run/DownloadRun.h"
#include "run/OutputNames.h"
#include "run/SheetSetRun.h"
#include "ui/Dialogs.h"
#include "ui/RunAnswers.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

void TfPrincipal::btnDescargarClick() {
    if (isRunning()) {
        return;
    }
    // The fields as they stand now: a run never starts on sizes that an earlier recompute,
    // stopped by a message, left behind for another corner or grid.
    if (!RecalcArea()) {
        return;
    }
    if (sheetSource_) {
        // The sheets have grids of their own; the name is theirs too.
        if (!sheetCut_.set) {
            dialogs_->message(sheetCut_.message);
        } else if (const std::optional<QString> problem = BmpNameProblem(job_.bmpName)) {
            dialogs_->message(*problem);
        } else if (const std::optional<QString> names = SheetNamesProblem(job_, *sheetCut_.set)) {
            dialogs_->message(*names);
        } else {
            startSetRun(false);
        }
        return;
    }
    if (const std::optional<QString> problem = GridProblem(job_)) {
        dialogs_->message(*problem);
        return;
    }
    if (const std::optional<QString> problem = BmpNameProblem(job_.bmpName)) {
        dialogs_->message(*problem);
        return;
    }
    // Before anything is fetched: a name the folder cannot take would fail only at the end.
    if (const std::optional<QString> problem = RunNamesProblem(job_)) {
        dialogs_->message(*problem);
        return;
    }
    startRun(job_, false);
}

void TfPrincipal::Reintentar1Click() {
    if (setRun_ && !isRunning() && state_ == WindowState::Finished && retryable_) {
        // The set's record holds what every sheet got: only the failed tiles are asked for.
        pbMosaico->setValue(pbMosaico->minimum());
        IJPG->clear();
        startSetRun(true);
        return;
    }
    if (!run_ || isRunning() || state_ != WindowState::Finished || !retryable_) {
        return;
    }
    // The earlier run's own job, so that the tiles join the grid they belong to.
    const DownloadJob job = run_->job();
    const QSet<QPoint> taken = run_->fetchedTiles();
    pbMosaico->setValue(pbMosaico->minimum());
    IJPG->clear();
    FreeTileCells();
    BuildTileCells();
    startRun(job, true, taken);
}

void TfPrincipal::Detener1Click() {
    if (run_) {
        run_->stop();
    }
    if (setRun_) {
        setRun_->stop();
    }
}

void TfPrincipal::startRun(const DownloadJob& job, bool retry, const QSet<QPoint>& taken) {
    if (run_) {
        run_->deleteLater();
    }
    if (setRun_) {
        setRun_->deleteLater();
    }
    pbMosaico->setTextVisible(false);
    if (!runAnswers_) {
        runAnswers_ = std::make_unique<RunAnswers>(*dialogs_);
    }
    auto* run = new DownloadRun(job, network(), *runAnswers_, this);
    run->setConnections(connections_);
    // The map window's requests share the gate: "Conexiones" and a busy server's pause
    // hold for both.
    run->setGate(serverGate_.get());
    run->setFetchLimits(fetchLimits_);
    if (retry) {
        run->takeTiles(taken);
    }
    run_ = run;
    startPace(EstimateRun(job, measures_, connections_));
    connectRun(run);
    run->start();
}

void TfPrincipal::startSetRun(bool retry) {
    if (run_) {
        run_->deleteLater();
    }
    if (setRun_) {
        setRun_->deleteLater();
    }
    if (!runAnswers_) {
        runAnswers_ = std::make_unique<RunAnswers>(*dialogs_);
    }
    auto* run = new SheetSetRun(job_, *sheetCut_.set, *sheetSource_, network(), *runAnswers_, this);
    run->setConnections(connections_);
    run->setGate(serverGate_.get());
    run->setFetchLimits(fetchLimits_);
    // A retry takes what the record has without asking; a new press asks.
    run->setResumePolicy(retry ? ResumePolicy::Always : ResumePolicy::Ask);
    setRun_ = run;
    startPace(EstimateSheets(job_, *sheetCut_.set, measures_, connections_));
    connectRun(run);
    connect(run, &SheetSetRun::sheetStarted, this, &TfPrincipal::sheetStarted);
    run->start();
}

void TfPrincipal::sheetStarted(int number, int count) {
    // The viewer and the preview show the sheet being fetched.
    IJPG->clear();
    FreeTileCells();
    BuildTileCells();
    pbMosaico->setFormat(QStringLiteral("Hoja %1 de %2").arg(number).arg(count));
    pbMosaico->setTextVisible(true);
    if (setRun_) {
        const std::vector<Sheet>& sheets = setRun_->set().sheets;
        const auto it = std::find_if(sheets.begin(), sheets.end(),
                                     [number](const Sheet& s) { return s.number == number; });
        pace_.sheetStarted(static_cast<int>(it - sheets.begin()), runClock_.elapsed());
        showPace();
    }
}

void TfPrincipal::startPace(const RunEstimate& estimate) {
    runClock_.start();
    pace_ = RunPace(estimate.plan, 0);
    if (!paceTimer_) {
        paceTimer_ = new QTimer(this);
        paceTimer_->setInterval(1000);
        connect(paceTimer_, &QTimer::timeout, this, &TfPrincipal::showPace);
    }
    paceTimer_->start();
    stQuedan->clear();
}

void TfPrincipal::showPace() {
    if (!isRunning()) {
        // Refused or cancelled before its first tile, or over: nothing left to tell.
        paceTimer_->stop();
        return;
    }
    pbMosaico->setValue(pace_.value());
    // The first moments of a run tell little of its pace.
    if (runClock_.elapsed() >= 1000) {
        stQuedan->setText(QStringLiteral("Quedan ") +
                          RunTimeText(pace_.secondsLeft(runClock_.elapsed())));
    }
}

template <typename Run> void TfPrincipal::connectRun(Run* run) {
    const WindowState before = state_;
    connect(run, &Run::folderReplaced, this, &TfPrincipal::setFolder);
    connect(run, &Run::controlsLocked, this, [this] { ApplyState(WindowState::Running); });
    connect(run, &Run::cancelled, this, [this, before] { ApplyState(before); });
    connect(run, &Run::logCleared, this, [this] {
        if (logWindow_) {
            logWindow_->Clear();
        }
    });
    connect(run, &Run::logEvent, this, [this](const QString& message) {
        if (logWindow_) {
            logWindow_->AddEvent(message);
        }
    });
    connect(run, &Run::statusText, this, &TfPrincipal::setStatusText);
    // The bar counts the tiles, and the files written after them in the tiles their time is
    // worth.
    connect(run, &Run::progressRange, this, [this](int tiles) {
        pbMosaico->setRange(0, std::max(tiles, pace_.maximum()));
        showPace();
    });
    connect(run, &Run::progress, this, [this](int tiles) {
        pace_.tilesReported(tiles);
        showPace();
    });
    connect(run, &Run::outputStep, this, [this](const QString& key, double part) {
        pace_.outputStep(key, part, runClock_.elapsed());
        showPace();
    });
    connect(run, &Run::measured, this, &TfPrincipal::addMeasures);
    connect(run, &Run::tileWaiting, this, [this](int column, int row, const QString& label) {
        board_.markWaiting(column, row, label);
    });
    connect(run, &Run::tileRecorded, this, [this](int column, int row, const TileRequest& record) {
        job_.tile(column, row) = record;
    });
    connect(run, &Run::tileDownloaded, this,
            [this](int column, int row) { board_.markFetched(column, row); });
    connect(run, &Run::tileShown, this,
            [this](int column, int row, const QImage& image, const QString& fileName) {
                // Scaled once to the preview's size, which shows it stretched.
                IJPG->setPixmap(QPixmap::fromImage(
                    image.scaled(IJPG->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
                board_.placeThumbnail(column, row, image, fileName);
            });
    connect(run, &Run::tileFailed, this, [this](int column, int row, const QString& reason) {
        board_.markFailed(column, row, reason);
    });
    connect(run, &Run::markerHidden, this,
            [this](int column, int row) { board_.hideMarker(column, row); });
    connect(run, &Run::finished, this, &TfPrincipal::runFinished);
}

void TfPrincipal::runFinished(const RunOutcome& outcome) {
    paceTimer_->stop();
    if (!outcome.stopped) {
        pbMosaico->setValue(pbMosaico->maximum());
    }
    // What the run measured counts for the next area at once, and for the next session.
    saveMeasures();
    showEstimate();
    retryable_ = outcome.anyFailed && !outcome.stopped;
    ApplyState(WindowState::Finished);
}

bool TfPrincipal::isRunning() const {
    return (run_ && run_->isRunning()) || (setRun_ && setRun_->isRunning());
}

void TfPrincipal::abortRun() {
    if (run_) {
        run_->abort();
    }
    if (setRun_) {
        setRun_->abort();
    }
}

// --- The viewer's cells ----------------------------------------------------------------

void TfPrincipal::BuildTileCells() {
    board_.build();
    job_.resetTiles();
}

void TfPrincipal::FreeTileCells() {
    board_.free();
    job_.resetTiles();
}

void TfPrincipal::ShowTileMarkers() {
    board_.showMarkers(job_);
}

void TfPrincipal::ShowTileThumbnails() {
    board_.showThumbnails(job_);
}

bool TfPrincipal::deleteTilesOption() const {
    return job_.deleteTiles;
}

DownloadRun* TfPrincipal::run() const {
    return run_;
}

SheetSetRun* TfPrincipal::setRun() const {
    return setRun_;
}
