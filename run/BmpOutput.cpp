#include "run/BmpOutput.h"

#include "download/WhenFinished.h"
#include "job/RunMeasures.h"
#include "mosaic/BmpFile.h"
#include "run/DownloadRun.h"
#include "run/RunQuestions.h"

#include <QDir>
#include <QtConcurrent/QtConcurrentRun>

BmpOutput::BmpOutput(std::function<void(BmpCommitStep)> hook) : m_hook(std::move(hook)) {}

void BmpOutput::write(OutputContext& context, Done done) {
    if (!context.job().saveBmp || context.image().isNull()) {
        done();
        return;
    }
    m_context = &context;
    m_done = std::move(done);
    const quint64 generation = ++m_generation;
    context.status(QStringLiteral("Grabando el mosaico a .BMP."));
    if (generation != m_generation || !context.alive()) {
        return; // stopped from the status bar's own handler
    }
    m_commit = std::make_shared<Commit>();
    // Written and synced on a worker thread; the image is shared, not copied, and nothing
    // draws into it any more. The worker owns what it needs: a run that stops meanwhile
    // does not wait for it.
    const QFuture<SaveResult> work = QtConcurrent::run(
        ImageWorkPool(), [image = context.image(),
                          path = context.prefix() + context.job().bmpName + QStringLiteral(".bmp"),
                          density = context.job().printPixelsPerMetre(), commit = m_commit,
                          hook = m_hook] { return Save(image, path, density, *commit, hook); });
    WhenFinished(this, work, [this, generation](const SaveResult& result) {
        if (generation == m_generation) {
            saved(result);
        }
    });
}

BmpOutput::SaveResult BmpOutput::Save(const QImage& image, const QString& path,
                                      int32_t pixelsPerMetre, Commit& commit,
                                      const std::function<void(BmpCommitStep)>& hook) {
    SaveResult r;
    BmpFileSaver saver;
    // The density of the print scale, so that an image program prints the BMP at it.
    if (!saver.begin(image, path, &r.error, pixelsPerMetre)) {
        return r;
    }
    while (!saver.rowsDone()) {
        if (commit.abandoned) {
            saver.cancel();
            r.abandoned = true;
            return r;
        }
        if (!saver.step(kRowsPerSlice, &r.error)) {
            return r;
        }
    }
    if (!saver.sync(&r.error)) {
        return r;
    }
    if (hook) {
        hook(BmpCommitStep::Synced);
    }
    const std::lock_guard<std::mutex> lock(commit.mutex);
    if (commit.abandoned) {
        saver.cancel();
        r.abandoned = true;
        return r;
    }
    if (hook) {
        hook(BmpCommitStep::Renaming);
    }
    r.ok = saver.commit(&r.error);
    r.replacedLink = saver.replacedLink();
    commit.decided = true;
    commit.result = r;
    return r;
}

QString BmpOutput::measureKey() const {
    return BmpOutputKey();
}

RunOutput::StopResult BmpOutput::stop() {
    ++m_generation;
    if (!m_commit) {
        return StopResult::Abandoned; // not begun
    }
    SaveResult done;
    {
        // Held by the writer only while it renames: a wait of one rename at the most.
        const std::lock_guard<std::mutex> lock(m_commit->mutex);
        if (!m_commit->decided) {
            // The writer sees this between slices of rows or once its file is synced, and
            // removes its temporary file itself; the old BMP, if any, stays.
            m_commit->abandoned = true;
            m_commit.reset();
            return StopResult::Abandoned;
        }
        done = m_commit->result;
    }
    // Too late to abandon: the new BMP is in place, and what goes with it follows now, so
    // that it never stands beside calibration files of another area.
    saved(done);
    return StopResult::Completed;
}

void BmpOutput::saved(const SaveResult& result) {
    m_commit.reset();
    OutputContext& context = *m_context;
    RunOutcome& outcome = context.outcome();
    if (result.ok) {
        outcome.bmpSaved = true;
        context.written << context.job().bmpName + QStringLiteral(".bmp");
        context.status(QStringLiteral("Fichero BMP grabado."));
        context.log(QStringLiteral(". Fichero BMP grabado"));
        if (result.replacedLink) {
            context.linkReplaced(context.job().bmpName + QStringLiteral(".bmp"));
        }
    } else {
        outcome.writeFailed = true;
        context.status(QStringLiteral("No se ha podido grabar el fichero BMP."));
        context.log(QStringLiteral(". No se ha podido grabar el fichero BMP: ") + result.error);
        const QString name = context.job().bmpName + QStringLiteral(".bmp");
        context.fileFailed(
            name, result.error,
            QStringLiteral("No se ha podido grabar el fichero BMP %1: %2")
                .arg(QDir::toNativeSeparators(context.prefix() + name), result.error));
    }
    if (context.alive()) {
        m_done();
    }
}
