#include "run/ExportOutput.h"

#include "download/WhenFinished.h"
#include "exports/MapExport.h"
#include "geo/DatumChange.h"
#include "job/RunMeasures.h"
#include "run/DownloadRun.h"
#include "run/RunQuestions.h"

#include <QCoreApplication>
#include <QDir>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>

namespace {

// Its thread is waited for and ended as the application object goes, so that a stopped
// export removes its temporary file before the program ends, and the fonts the PDF's pages
// were drawn with on that thread are let go while the toolkit is still there.
class ExportPool : public QThreadPool {
public:
    ExportPool() {
        setMaxThreadCount(1);
        qAddPostRoutine(&EndThreads);
    }

private:
    static void EndThreads();
};
Q_GLOBAL_STATIC(ExportPool, g_exportPool)

void ExportPool::EndThreads() {
    if (g_exportPool.exists()) {
        g_exportPool()->waitForDone();
    }
}

} // namespace

QThreadPool* ExportWorkPool() {
    return g_exportPool();
}

ExportOutput::ExportOutput(ExportFormat format) : m_format(format) {}

void ExportOutput::write(OutputContext& context, Done done) {
    if (!context.job().exportWanted(m_format)) {
        done();
        return;
    }
    if (context.stopping) {
        context.skippedByStop = true;
        done();
        return;
    }
    if (context.image().isNull()) {
        // From a joined image of every tile or not at all, as the calibration files.
        context.logOnce(QStringLiteral(". Exportación no generada: no se descargaron todos los "
                                       "mosaicos"));
        done();
        return;
    }
    const quint64 generation = ++m_generation;
    const QString name = ExportFileName(m_format, context.job().bmpName);
    ExportInput input;
    if (ExportNeedsDatumChange(m_format)) {
        const DatumChoice& choice = context.datumChoice();
        if (generation != m_generation || !context.alive()) {
            return;
        }
        if (!choice.change) {
            failed(context, choice.reason,
                   QStringLiteral("No se ha podido exportar %1: %2")
                       .arg(QDir::toNativeSeparators(context.prefix() + name), choice.reason));
            if (context.alive()) {
                done();
            }
            return;
        }
        input.datum = {choice.change->operationName(), choice.change->pipeline()};
    }
    const QString writing =
        QStringLiteral("Exportando %1 (%2)").arg(name, ExportFormatName(m_format));
    context.status(writing + QStringLiteral(": 0 %"));
    if (generation != m_generation || !context.alive()) {
        return;
    }
    input.image = context.image();
    input.job = context.job();
    m_context = &context;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    // The part done crosses to the run's thread only when its whole percent changes.
    auto shown = std::make_shared<std::atomic<int>>(0);
    const ExportProgressObserver observer = [this, shown, generation, writing,
                                             status = context.status,
                                             stepped = context.stepped](double part) {
        const int percent = static_cast<int>(std::floor(part * 100.0));
        if (percent <= shown->exchange(percent)) {
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, percent, writing, status, stepped] {
                if (generation == m_generation) {
                    status(writing + QStringLiteral(": %1 %").arg(percent));
                    // Its end is told once it is written and checked.
                    if (stepped && percent < 100) {
                        stepped(percent / 100.0);
                    }
                }
            },
            Qt::QueuedConnection);
    };
    const QFuture<ExportResult> work =
        QtConcurrent::run(ExportWorkPool(), [format = m_format, input, stop = m_stop, observer] {
            return WriteExport(format, input, *stop, observer);
        });
    WhenFinished(this, work,
                 [this, generation, &context, name, done = std::move(done)](const ExportResult& r) {
                     if (generation != m_generation) {
                         return;
                     }
                     m_stop.reset();
                     if (r.ok) {
                         context.outcome().exportsWritten << m_format;
                         context.written << name;
                         context.status(QStringLiteral("Exportado %1.").arg(name));
                         for (const QString& line : r.logLines) {
                             context.log(line);
                         }
                     } else {
                         failed(context, r.reason, r.error);
                     }
                     if (context.alive()) {
                         done();
                     }
                 });
}

QString ExportOutput::measureKey() const {
    return ExportOutputKey(m_format);
}

RunOutput::StopResult ExportOutput::stop() {
    ++m_generation;
    if (m_stop) {
        // Seen between GDAL's steps; the thread then removes its temporary file.
        m_stop->store(true);
        m_stop.reset();
        // As the run's stop line, the export given up is named (a run being aborted is
        // silent: its log no longer listens).
        m_context->log(QStringLiteral(". Exportación de %1 detenida: no se ha grabado")
                           .arg(ExportFileName(m_format, m_context->job().bmpName)));
    }
    return StopResult::Abandoned;
}

void ExportOutput::failed(OutputContext& context, const QString& reason, const QString& message) {
    const QString name = ExportFileName(m_format, context.job().bmpName);
    context.outcome().writeFailed = true;
    context.status(QStringLiteral("No se ha podido exportar %1.").arg(name));
    context.log(QStringLiteral(". No se ha podido exportar %1: %2").arg(name, reason));
    context.fileFailed(name, reason, message);
}
