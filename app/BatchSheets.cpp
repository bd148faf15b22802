// `Morvel --batch` on a set of sheets: the settings' box or track cut into sheets, the
// estimates printed before the first request, the set run with the window-less answers,
// and a summary that names the sheets.
#include "app/BatchConsole.h"
#include "app/BatchRun.h"
#include "download/WhenFinished.h"
#include "geo/TrackFile.h"
#include "job/FileNames.h"
#include "job/NumberFormat.h"
#include "job/RunEstimate.h"
#include "job/WorkerGuard.h"
#include "run/OutputNames.h"
#include "run/SheetSetRun.h"
#include "ui/SheetSettings.h"

#include <QFileInfo>

#include <csignal>

namespace {

// Sheet names a summary lists before it says "…".
constexpr int kNamesListed = 10;

// A track read and cut on a worker, or why it cannot be read.
struct TrackSheets {
    SheetSource source;
    SheetCut cut;
    QString error;
};

} // namespace

std::optional<int> BatchRun::startSheets(const BatchJob& given, const SheetSettings& sheets) {
    if (!sheets.problem.isEmpty()) {
        m_console.error(sheets.problem);
        return kBatchInvalid;
    }
    const SheetSource& source = sheets.source;
    // At the map kind and coverage the set was chosen at.
    BatchJob batch = given;
    batch.job = SheetSetJob(given.job, sheets);
    // A track's sheets have corners of their own; a box starts at the job's corner.
    if (source.kind == SheetSource::Kind::Box && !batch.problem.isEmpty()) {
        m_console.error(batch.problem);
        return kBatchInvalid;
    }
    if (const std::optional<QString> name = BmpNameProblem(batch.job.bmpName)) {
        m_console.error(*name);
        return kBatchInvalid;
    }
    if (source.kind == SheetSource::Kind::Box) {
        return runSheets(batch, source, source.cut(batch.job.tileSize, batch.job.bmpName));
    }
    // A large track takes a while to read and cut: on a worker, with the event loop free
    // to hear a signal meanwhile. The cut stops at once at one; the reading, in GDAL, ends
    // first.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    m_cutStop = stop;
    WhenFinished(
        this, RunTrackWork([this, source, batch, stop] {
            TrackSheets out;
            out.source = source;
            if (!ReadSourceTrack(&out.source, &out.error)) {
                return out;
            }
            int64_t points = static_cast<int64_t>(out.source.points.size());
            for (const auto& line : out.source.lines) {
                points += static_cast<int64_t>(line.size());
            }
            // Said from the event loop's thread, which owns the console.
            QMetaObject::invokeMethod(
                this,
                [this, name = QFileInfo(source.trackPath).fileName(), points] {
                    m_console.line(
                        QStringLiteral("Calculando las hojas de la ruta «%1» (%2 puntos)…")
                            .arg(name, GroupedNumber(points)));
                },
                Qt::QueuedConnection);
            out.cut = Guarded(
                [&] { return out.source.cut(batch.job.tileSize, batch.job.bmpName, stop.get()); },
                [](const QString& reason) {
                    SheetCut failed;
                    failed.message = TrackCutFailure(reason);
                    return failed;
                });
            return out;
        }),
        [this, batch](const TrackSheets& cut) { trackCut(batch, cut.source, cut.cut, cut.error); });
    return std::nullopt;
}

void BatchRun::trackCut(const BatchJob& batch, const SheetSource& source, const SheetCut& cut,
                        const QString& error) {
    m_cutStop.reset();
    if (m_signal) {
        m_console.line(QStringLiteral("Resumen: hojas de la ruta sin calcular, detenido por la "
                                      "señal %1; ningún mosaico pedido.")
                           .arg(SignalName(m_signal)));
        end(InterruptedStatus(m_signal));
        return;
    }
    if (!error.isEmpty()) {
        m_console.error(error);
        end(kBatchInvalid);
        return;
    }
    if (const std::optional<int> status = runSheets(batch, source, cut)) {
        end(*status);
    }
}

std::optional<int> BatchRun::runSheets(const BatchJob& batch, const SheetSource& source,
                                       const SheetCut& cut) {
    if (!cut.set) {
        m_console.error(cut.message);
        return kBatchInvalid;
    }
    if (const std::optional<QString> names = SheetNamesProblem(batch.job, *cut.set)) {
        m_console.error(*names);
        return kBatchInvalid;
    }
    // What the job will take, before anything is asked of the server.
    printEstimate(EstimateSheets(batch.job, *cut.set, m_measures, batch.connections));

    RunQuestions& questions = *this;
    m_setRun = std::make_unique<SheetSetRun>(batch.job, *cut.set, source, &m_network, questions);
    m_setRun->setConnections(batch.connections);
    m_setRun->setFetchLimits(m_limits);
    m_setRun->setResumePolicy(ResumePolicy::Always);
    bindRun(m_setRun.get());
    if (m_setRun->start() != SheetSetRun::StartResult::Started) {
        return kBatchInvalid; // the folder went away meanwhile, or another run has it
    }
    return std::nullopt;
}

void BatchRun::printSheetSummary(const RunOutcome& outcome) {
    const SheetSetRun::Totals t = m_setRun->totals();
    const SheetSet& set = m_setRun->set();
    QString text =
        QStringLiteral("Resumen: %1, %2 de %3 hojas terminadas; %4 de %5 mosaicos descargados, "
                       "%6 con fallo")
            .arg(SheetSetLine(set))
            .arg(t.finished)
            .arg(t.sheets)
            .arg(t.fetched)
            .arg(t.tiles)
            .arg(t.failed);
    if (t.unreported > 0) {
        text += QStringLiteral(", %1 sin descargar").arg(t.unreported);
    }
    text += u'.';
    if (!t.unfinished.isEmpty()) {
        QStringList names = t.unfinished.mid(0, kNamesListed);
        if (t.unfinished.size() > kNamesListed) {
            names << QStringLiteral("…");
        }
        text += QStringLiteral(" Sin terminar: %1.").arg(names.join(QStringLiteral(", ")));
    }
    text += t.indexWritten ? QStringLiteral(" Índice de las hojas grabado.")
                           : QStringLiteral(" Índice de las hojas no grabado.");
    text += t.overviewWritten ? QStringLiteral(" Vista general grabada.")
                              : QStringLiteral(" Vista general no grabada.");
    Q_UNUSED(outcome);
    m_console.endProgress();
    m_console.line(text);
}
