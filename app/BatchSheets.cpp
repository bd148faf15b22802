// `Morvel --batch` on a set of sheets: the settings' box or track cut into sheets, the
// estimates printed before the first request, the set run with the window-less answers,
// and a summary that names the sheets.
#include "app/BatchConsole.h"
#include "app/BatchRun.h"
#include "geo/TrackFile.h"
#include "job/FileNames.h"
#include "job/RunEstimate.h"
#include "run/OutputNames.h"
#include "run/SheetSetRun.h"
#include "ui/SheetSettings.h"

namespace {

// Sheet names a summary lists before it says "…".
constexpr int kNamesListed = 10;

} // namespace

std::optional<int> BatchRun::startSheets(const BatchJob& batch, const SheetSettings& sheets) {
    if (!sheets.problem.isEmpty()) {
        m_console.error(sheets.problem);
        return kBatchInvalid;
    }
    SheetSource source = sheets.source;
    // A track's sheets have corners of their own; a box starts at the job's corner.
    if (source.kind == SheetSource::Kind::Box && !batch.problem.isEmpty()) {
        m_console.error(batch.problem);
        return kBatchInvalid;
    }
    if (const std::optional<QString> name = BmpNameProblem(batch.job.bmpName)) {
        m_console.error(*name);
        return kBatchInvalid;
    }
    if (source.kind == SheetSource::Kind::Track) {
        const GroundTrackRead read = ReadTrackOnGrid(source.trackPath);
        if (!read.error.isEmpty()) {
            m_console.error(TrackErrorMessage(source.trackPath, read.error));
            return kBatchInvalid;
        }
        source.lines = read.track.lines;
        source.points = read.track.points;
    }
    // At the map kind and coverage the set was chosen at.
    const DownloadJob job = SheetSetJob(batch.job, sheets);
    const SheetCut cut = source.cut(job.tileSize, job.bmpName);
    if (!cut.set) {
        m_console.error(cut.message);
        return kBatchInvalid;
    }
    if (const std::optional<QString> names = SheetNamesProblem(batch.job, *cut.set)) {
        m_console.error(*names);
        return kBatchInvalid;
    }
    // What the job will take, before anything is asked of the server.
    m_console.line(QStringLiteral("Estimación: ") +
                   EstimateText(EstimateSheets(job, *cut.set, {}, batch.connections)));

    RunQuestions& questions = *this;
    m_setRun = std::make_unique<SheetSetRun>(job, *cut.set, source, &m_network, questions);
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
