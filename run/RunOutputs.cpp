#include "run/RunOutputs.h"

#include "run/CalibrationOutput.h"
#include "run/DownloadRun.h"
#include "run/ExportOutput.h"
#include "run/StaleGeoreferenceOutput.h"
#include "run/TileCleanupOutput.h"

#include <QFileInfo>

RunOutputs::RunOutputs(const DownloadJob& job, QImage image, qint64 tileBytes, RunOutcome& outcome,
                       RunQuestions& questions, std::function<void(BmpCommitStep)> bmpCommitHook,
                       QObject* parent)
    : QObject(parent), m_context(job, std::move(image), outcome, questions) {
    m_context.tileBytes = tileBytes;
    m_context.status = [this](const QString& text) {
        if (!m_halted) {
            emit statusText(text);
        }
    };
    m_context.log = [this](const QString& message) {
        if (!m_halted) {
            emit logEvent(message);
        }
    };
    m_context.alive = [this] { return !m_halted; };
    m_context.stepped = [this](double part) {
        if (!m_halted && m_current && !m_current->measureKey().isEmpty()) {
            emit outputStep(m_current->measureKey(), part);
        }
    };

    m_outputs.push_back(std::make_unique<BmpOutput>(std::move(bmpCommitHook)));
    for (const ExportFormat format : kExportFormats) {
        m_outputs.push_back(std::make_unique<ExportOutput>(format));
    }
    m_outputs.push_back(std::make_unique<TileCleanupOutput>());
    for (const CalibrationFormat format :
         {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps,
          CalibrationFormat::WorldFile}) {
        m_outputs.push_back(std::make_unique<CalibrationOutput>(format));
    }
    m_outputs.push_back(std::make_unique<StaleGeoreferenceOutput>());
}

RunOutputs::~RunOutputs() {
    halt();
}

void RunOutputs::start() {
    walk();
}

void RunOutputs::walk() {
    if (m_walking) {
        return; // an output done at once, inside the loop below: the loop goes on
    }
    m_walking = true;
    while (!m_halted && m_current == nullptr && m_next < m_outputs.size()) {
        RunOutput* output = m_outputs[m_next++].get();
        m_current = output;
        m_clock.start();
        m_questionsBefore = m_context.questionsAsked();
        m_writtenBefore = m_context.written.size();
        if (!output->measureKey().isEmpty()) {
            emit outputStep(output->measureKey(), 0.0);
        }
        output->write(m_context, [this, output] {
            if (m_current == output && !m_halted) {
                measure(*output);
                m_current = nullptr;
                walk();
            }
        });
    }
    m_walking = false;
    if (!m_halted && !m_ended && m_current == nullptr && m_next == m_outputs.size()) {
        end();
    }
}

void RunOutputs::measure(const RunOutput& output) {
    const QString key = output.measureKey();
    if (key.isEmpty()) {
        return;
    }
    const double seconds = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
    emit outputStep(key, 1.0);
    // Only what was written, and without waiting for the user, tells how fast it is written.
    if (m_context.written.size() == m_writtenBefore ||
        m_context.questionsAsked() != m_questionsBefore || m_context.stopping) {
        return;
    }
    OutputSample sample;
    sample.key = key;
    const DownloadJob& job = m_context.job();
    sample.megapixels =
        double(job.tilesAcross) * kTilePixels * double(job.tilesDown) * kTilePixels / 1e6;
    sample.tileBytes = double(m_context.tileBytes);
    sample.seconds = seconds;
    for (qsizetype i = m_writtenBefore; i < m_context.written.size(); ++i) {
        sample.bytes += double(QFileInfo(m_context.prefix() + m_context.written.at(i)).size());
    }
    m_measured.addOutput(sample);
}

void RunOutputs::end() {
    if (m_telling) {
        return; // a stop while a box was open: the end goes on once it is closed
    }
    m_telling = true;
    m_context.tellFailedFiles();
    m_telling = false;
    if (m_halted) {
        return; // aborted while a box was open
    }
    m_ended = true;
    // The BMP's own image is no longer needed by anyone.
    m_context.releaseImage();
    if (m_context.stopping && m_context.skippedByStop) {
        m_context.outcome().stopped = true;
        emit statusText(QStringLiteral("Descarga detenida."));
        emit logEvent(QStringLiteral(". Descarga detenida por ") + m_cause);
    }
    emit finished();
}

bool RunOutputs::stop(const QString& cause, bool unattended) {
    if (!isWalking()) {
        return false;
    }
    m_cause = cause;
    if (m_telling) {
        // Every file is done, and the user is reading why some were not written.
        if (unattended) {
            halt();
            return false;
        }
        return true;
    }
    m_context.stopping = true;
    RunOutput* current = m_current;
    const RunOutput::StopResult result =
        current ? current->stop() : RunOutput::StopResult::Abandoned;
    switch (result) {
    case RunOutput::StopResult::Abandoned:
        if (m_current == current) {
            m_current = nullptr;
        }
        if (!m_context.outcome().bmpSaved) {
            halt();
            return false;
        }
        m_context.skippedByStop = true;
        walk();
        return true;
    case RunOutput::StopResult::Completed:
        return true;
    case RunOutput::StopResult::Busy:
        if (unattended) {
            halt();
            return false;
        }
        return true;
    }
    return true;
}

void RunOutputs::halt() {
    if (m_halted) {
        return;
    }
    m_halted = true;
    if (m_current != nullptr && !m_ended) {
        m_current->stop();
    }
    m_current = nullptr;
    m_context.releaseImage();
}
