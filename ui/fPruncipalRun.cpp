// The main window's part in a download run: it starts the run, turns the run's reports
// into its controls, the viewer's cells and the event log, and writes the calibration
// files at the end.
#include "ui/fPruncipal.h"

#include "run/CalibrationRun.h"
#include "run/DownloadRun.h"
#include "ui/Dialogs.h"
#include "ui/RunAnswers.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QPixmap>
#include <QProgressBar>

namespace {

constexpr char kNoTiles[] = "Seleccione el número de mosaicos";

} // namespace

void TfPrincipal::btnDescargarClick() {
    if (run_ && run_->isRunning()) {
        return;
    }
    // A grid without a tile would make an empty image and a calibration without scale.
    if (job_.tilesAcross < 1 || job_.tilesAcross > kMaxTiles || job_.tilesDown < 1 ||
        job_.tilesDown > kMaxTiles) {
        dialogs_->message(QString::fromUtf8(kNoTiles));
        return;
    }
    if (run_) {
        run_->deleteLater();
    }
    if (!network_) {
        network_ = new QNetworkAccessManager(this);
    }
    if (!runAnswers_) {
        runAnswers_ = std::make_unique<RunAnswers>(*dialogs_);
    }
    auto* run = new DownloadRun(job_, network_, *runAnswers_, this);
    run_ = run;
    connectRun(run);
    run->start();
}

void TfPrincipal::connectRun(DownloadRun* run) {
    const WindowState before = state_;
    connect(run, &DownloadRun::folderReplaced, this, &TfPrincipal::setFolder);
    connect(run, &DownloadRun::controlsLocked, this, [this] { ApplyState(WindowState::Running); });
    connect(run, &DownloadRun::cancelled, this, [this, before] { ApplyState(before); });
    connect(run, &DownloadRun::logCleared, this, [this] {
        if (logWindow_) {
            logWindow_->Clear();
        }
    });
    connect(run, &DownloadRun::logEvent, this, [this](const QString& message) {
        if (logWindow_) {
            logWindow_->AddEvent(message);
        }
    });
    connect(run, &DownloadRun::statusText, this, &TfPrincipal::setStatusText);
    connect(run, &DownloadRun::progressRange, this,
            [this](int maximum) { pbMosaico->setRange(0, maximum); });
    connect(run, &DownloadRun::progress, pbMosaico, &QProgressBar::setValue);
    connect(run, &DownloadRun::tileWaiting, this,
            [this](int column, int row, const QString& label) {
                board_.markWaiting(column, row, label);
            });
    connect(run, &DownloadRun::tileRecorded, this,
            [this](int column, int row, const TileRequest& record) {
                job_.tile(column, row) = record;
            });
    connect(run, &DownloadRun::tileDownloaded, this,
            [this](int column, int row) { board_.markFetched(column, row); });
    connect(run, &DownloadRun::tileShown, this,
            [this](int column, int row, const QImage& image, const QString& fileName) {
                // Scaled once to the preview's size, which shows it stretched.
                IJPG->setPixmap(QPixmap::fromImage(
                    image.scaled(IJPG->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
                board_.placeThumbnail(column, row, image, fileName);
            });
    connect(run, &DownloadRun::previewCleared, IJPG, &QLabel::clear);
    connect(run, &DownloadRun::tileFailed, this,
            [this](int column, int row, const QString& reason) {
                board_.markFailed(column, row, reason);
            });
    connect(run, &DownloadRun::markerHidden, this,
            [this](int column, int row) { board_.hideMarker(column, row); });
    connect(run, &DownloadRun::finished, this, &TfPrincipal::runFinished);
}

void TfPrincipal::runFinished(const RunOutcome& outcome) {
    if (!outcome.error.isEmpty()) {
        dialogs_->error(outcome.error);
    }
    if (outcome.calibrationDue() && run_) {
        // The run's own copy: the files describe the image this run made.
        WriteCalibrationFiles(run_->job());
    }
    ApplyState(WindowState::Finished);
}

void TfPrincipal::WriteCalibrationFiles(const DownloadJob& job) {
    if (!runAnswers_) {
        runAnswers_ = std::make_unique<RunAnswers>(*dialogs_);
    }
    for (const CalibrationFormat format :
         {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps}) {
        if (!CalibrationWanted(format, job)) {
            continue;
        }
        const CalibrationOutcome outcome = WriteCalibrationFile(format, job, *runAnswers_);
        setStatusText(outcome.statusText);
        if (logWindow_) {
            logWindow_->AddEvent(outcome.logMessage);
        }
        if (!outcome.written) {
            dialogs_->message(outcome.failureMessage);
        }
    }
}

bool TfPrincipal::isRunning() const {
    return run_ && run_->isRunning();
}

void TfPrincipal::abortRun() {
    if (run_) {
        run_->abort();
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
