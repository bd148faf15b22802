#include "app/BatchRun.h"

#include "app/BatchConsole.h"
#include "app/StopSignals.h"
#include "download/WhenFinished.h"
#include "job/AreaRecalc.h"
#include "job/FileNames.h"
#include "job/MapKinds.h"
#include "job/RunEstimate.h"
#include "run/CalibrationRun.h"
#include "run/DownloadRun.h"
#include "run/ExportOutput.h"
#include "run/MeasureStore.h"
#include "run/OutputNames.h"
#include "run/SheetSetRun.h"
#include "ui/IniFile.h"
#include "ui/SheetSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>

namespace {

QString MissingFolderText(const QString& folder) {
    return QStringLiteral("La carpeta destino no existe: %1").arg(QDir::toNativeSeparators(folder));
}

// The sentence of one file beside the BMP in the summary.
QString CalibrationSentence(CalibrationFormat format, bool written) {
    switch (format) {
    case CalibrationFormat::OziExplorer:
        return written ? QStringLiteral("Calibración para OziExplorer grabada.")
                       : QStringLiteral("Calibración para OziExplorer no grabada.");
    case CalibrationFormat::CompeGps:
        return written ? QStringLiteral("Calibración para CompeGPS grabada.")
                       : QStringLiteral("Calibración para CompeGPS no grabada.");
    case CalibrationFormat::WorldFile:
        break;
    }
    return written ? QStringLiteral("Fichero de georreferencia grabado.")
                   : QStringLiteral("Fichero de georreferencia no grabado.");
}

} // namespace

QString SignalName(int signal) {
    switch (signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    default:
        return QString::number(signal);
    }
}

BatchJob BatchJobFromSettings(const StoredSettings& s) {
    BatchJob out;
    out.connections = s.connectionsOrDefault();
    DownloadJob& job = out.job;
    job.coveragePosition = s.coveragePosition;
    job.folder = s.folder;
    job.bmpName = s.bmpName;
    job.deleteTiles = s.deleteTiles;
    job.saveBmp = s.saveBmp;
    job.saveOzi = s.saveOzi;
    job.saveCompe = s.saveCompe;
    job.datum = s.datum;
    job.saveWorldFile = s.worldFile;
    for (const ExportFormat format : kExportFormats) {
        job.setExport(format, s.exports.at(static_cast<size_t>(format)).on);
    }
    job.printScale = s.printScale;
    job.printPaper = s.printPaper;

    const QString server = ChosenServerBase(s.server);
    AreaInputs in;
    in.coveragePosition = SelectMapKind(job, s.kind, server);
    in.eastingText = CornerFieldValue(s.eastingText);
    in.northingText = CornerFieldValue(s.northingText);
    in.acrossPosition = s.tilesAcrossPosition;
    in.downPosition = s.tilesDownPosition;
    in.serverBase = server;
    AreaResult area = RecalcArea(job, in);
    job = std::move(area.job);
    if (!area.complete()) {
        out.problem = AreaMessageText(area.message);
    } else if (const std::optional<QString> grid = GridProblem(job)) {
        out.problem = *grid;
    } else if (const std::optional<QString> name = BmpNameProblem(job.bmpName)) {
        out.problem = *name;
    }
    return out;
}

BatchRun::BatchRun(BatchConsole& console, QObject* parent) : QObject(parent), m_console(console) {}

BatchRun::~BatchRun() = default;

std::optional<int> BatchRun::start(const QString& settingsPath) {
    const QFileInfo file(settingsPath);
    if (!file.isFile() || !file.isReadable()) {
        m_console.error(QStringLiteral("No se puede leer el fichero de configuración %1")
                            .arg(QDir::toNativeSeparators(settingsPath)));
        return kBatchInvalid;
    }
    // Only read: a run without windows never writes the settings back.
    const IniFile ini(settingsPath);
    if (!ini.readProblem().isEmpty()) {
        m_console.error(QStringLiteral("No se ha leído el fichero de configuración %1: %2")
                            .arg(QDir::toNativeSeparators(settingsPath), ini.readProblem()));
        return kBatchInvalid;
    }
    const StoredSettings stored = ReadSettings(ini);
    const BatchJob batch = BatchJobFromSettings(stored);
    const SheetSettings sheets = ReadSheetSettings(stored, QFileInfo(settingsPath).absolutePath());
    // A set of sheets has corners of its own: startSheets() says what is wrong with them.
    if (!batch.problem.isEmpty() && !sheets.wanted) {
        m_console.error(batch.problem);
        return kBatchInvalid;
    }
    // Unlike the window, never the current directory instead: nobody would look there.
    if (!FolderExists(batch.job.folder)) {
        m_console.error(MissingFolderText(batch.job.folder));
        return kBatchInvalid;
    }
    // The estimates start from what earlier runs and windows measured.
    m_measures = MeasureStore::Load();
    if (sheets.wanted) {
        return startSheets(batch, sheets);
    }
    // Before anything is fetched: a name the folder cannot take would fail only at the end.
    if (const std::optional<QString> names = RunNamesProblem(batch.job)) {
        m_console.error(*names);
        return kBatchInvalid;
    }
    printEstimate(EstimateRun(batch.job, m_measures, batch.connections));

    RunQuestions& questions = *this;
    m_run = std::make_unique<DownloadRun>(batch.job, &m_network, questions);
    m_run->setConnections(batch.connections);
    m_run->setFetchLimits(m_limits);
    m_run->setResumePolicy(ResumePolicy::Always);
    bindRun(m_run.get());
    if (m_run->start() != DownloadRun::StartResult::Started) {
        // The folder went away meanwhile (see missingFolder()), or another run has it.
        return kBatchInvalid;
    }
    return std::nullopt;
}

template <typename Run> void BatchRun::bindRun(Run* run) {
    connect(run, &Run::logEvent, this,
            [this](const QString& message) { m_console.logEvent(message); });
    connect(run, &Run::progressRange, this,
            [this](int maximum) { m_console.setProgressRange(maximum); });
    connect(run, &Run::progress, this, [this](int value) {
        m_reported = value;
        m_console.setProgress(value);
    });
    connect(run, &Run::measured, this,
            [this](const RunMeasures& samples) { m_measured.add(samples); });
    connect(run, &Run::finished, this, &BatchRun::runFinished);
}

void BatchRun::printEstimate(const RunEstimate& estimate) {
    m_console.line(QStringLiteral("Estimación: ") + EstimateText(estimate));
}
template void BatchRun::bindRun(SheetSetRun* run);

void BatchRun::interrupt(int signal) {
    const bool running = (m_run && m_run->isRunning()) || (m_setRun && m_setRun->isRunning());
    if (m_cutStop && !m_status && !m_signal) {
        // The track's sheets are being cut: that ends at once, and so does the program.
        m_signal = signal;
        m_cutStop->store(true);
        return;
    }
    if (!running || m_status || m_signal) {
        return;
    }
    m_signal = signal;
    // As the window's "Detener la descarga": the run finishes at once, and its summary says
    // what it wrote (a BMP already being renamed into place is kept with its files).
    const QString cause = QStringLiteral("la señal ") + SignalName(signal);
    if (m_setRun) {
        m_setRun->stopBecause(cause);
    } else {
        m_run->stopBecause(cause);
    }
}

void BatchRun::runFinished(const RunOutcome& outcome) {
    // A cache that cannot be written costs only the next estimates.
    if (!m_measured.isEmpty()) {
        MeasureStore::Add(m_measured);
    }
    if (m_setRun) {
        printSheetSummary(outcome);
    } else {
        printSummary(outcome);
    }
    if (m_signal) {
        end(InterruptedStatus(m_signal));
    } else if (outcome.writeFailed) {
        end(kBatchWriteFailed);
    } else if (outcome.anyFailed || outcome.stopped || outcome.recordKept) {
        end(kBatchTilesFailed);
    } else {
        end(kBatchDone);
    }
}

void BatchRun::printSummary(const RunOutcome& outcome) {
    const DownloadJob& job = m_run->job();
    const int total = job.tilesAcross * job.tilesDown;
    const int fetched = static_cast<int>(m_run->fetchedTiles().size());
    QString text = QStringLiteral("Resumen: %1 de %2 mosaicos descargados, %3 con fallo")
                       .arg(fetched)
                       .arg(total)
                       .arg(m_reported - fetched);
    if (m_reported < total) {
        text += QStringLiteral(", %1 sin descargar").arg(total - m_reported);
    }
    text += u'.';
    // The files beside the BMP describe it and are never written without it.
    if (job.saveBmp) {
        text += outcome.bmpSaved ? QStringLiteral(" Fichero BMP grabado.")
                                 : QStringLiteral(" Fichero BMP no grabado.");
        for (const CalibrationFormat format :
             {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps,
              CalibrationFormat::WorldFile}) {
            if (CalibrationWanted(format, job)) {
                text += u' ' +
                        CalibrationSentence(format, outcome.calibrationsWritten.contains(format));
            }
        }
    }
    // The exports are asked for apart from the BMP.
    for (const ExportFormat format : kExportFormats) {
        if (job.exportWanted(format)) {
            text += QStringLiteral(" Fichero %1 %2.")
                        .arg(ExportFormatName(format), outcome.exportsWritten.contains(format)
                                                           ? QStringLiteral("grabado")
                                                           : QStringLiteral("no grabado"));
        }
    }
    m_console.endProgress();
    m_console.line(text);
}

void BatchRun::end(int status) {
    m_status = status;
    emit finished(status);
}

RunQuestions::MissingFolder BatchRun::missingFolder(const QString& folder, const QString&) {
    // The folder has gone since it was checked. A run without windows neither makes it nor
    // writes into the current directory, where nobody would look: it stops.
    m_console.error(MissingFolderText(folder));
    return MissingFolder::Cancel;
}

bool BatchRun::confirmOverwrite(const QString&, const QString&) {
    return true;
}

void BatchRun::message(const QString& text) {
    m_console.error(text);
}

void BatchRun::error(const QString& text) {
    m_console.error(text);
}

bool BatchRun::confirmResume(const QString&, const QString&) {
    return true;
}

int RunBatch(const QString& settingsPath, const FetchLimits& limits) {
    // A reader that goes away (a closed pipe) must not end the run halfway.
    std::signal(SIGPIPE, SIG_IGN);
    BatchConsole console(stdout, stderr, BatchConsole::IsTerminal(stdout));
    BatchRun batch(console);
    batch.setFetchLimits(limits);
    StopSignals stops;
    QObject::connect(&stops, &StopSignals::received, &batch, &BatchRun::interrupt);
    QObject::connect(&batch, &BatchRun::finished, QCoreApplication::instance(),
                     &QCoreApplication::exit);
    if (const std::optional<int> early = batch.start(settingsPath)) {
        return *early;
    }
    const int status = batch.status() ? *batch.status() : QCoreApplication::exec();
    // A BMP or an export abandoned by a stop removes its temporary file once the work under
    // way is over: the process ends after that, so that the folder is as the summary says.
    ImageWorkPool()->waitForDone();
    ExportWorkPool()->waitForDone();
    return status;
}
