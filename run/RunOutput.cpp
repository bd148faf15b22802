#include "run/RunOutput.h"

#include "run/DownloadRun.h"
#include "run/RunQuestions.h"

#include <QDir>

#include <algorithm>
#include <utility>

OutputContext::OutputContext(const DownloadJob& job, QImage image, RunOutcome& outcome,
                             RunQuestions& questions)
    : m_job(job), m_image(std::move(image)), m_outcome(outcome), m_asked(&questions) {}

RunQuestions::MissingFolder OutputContext::CountedQuestions::missingFolder(const QString& folder,
                                                                           const QString& current) {
    ++count;
    return answerer->missingFolder(folder, current);
}

void OutputContext::CountedQuestions::message(const QString& text) {
    ++count;
    answerer->message(text);
}

void OutputContext::CountedQuestions::error(const QString& text) {
    ++count;
    answerer->error(text);
}

bool OutputContext::CountedQuestions::confirmResume(const QString& caption, const QString& text) {
    ++count;
    return answerer->confirmResume(caption, text);
}

bool OutputContext::CountedQuestions::confirmOverwrite(const QString& caption,
                                                       const QString& text) {
    ++count;
    return answerer->confirmOverwrite(caption, text);
}

bool OutputContext::logOnce(const QString& line) {
    if (m_said.contains(line)) {
        return false;
    }
    m_said.insert(line);
    log(line);
    return true;
}

void OutputContext::linkReplaced(const QString& fileName) {
    log(QStringLiteral(". Sustituido el enlace %1: lo que nombraba queda como estaba")
            .arg(fileName));
}

bool OutputContext::calibrationOnWgs84() const {
    return m_outcome.bmpSaved && (m_job.saveOzi || m_job.saveCompe) &&
           m_job.datum == CalibrationDatum::Wgs84;
}

bool OutputContext::exportOnWgs84() const {
    return !m_image.isNull() && !stopping &&
           std::any_of(kExportFormats.begin(), kExportFormats.end(), [this](ExportFormat f) {
               return ExportNeedsDatumChange(f) && m_job.exportWanted(f);
           });
}

const DatumChoice& OutputContext::datumChoice() {
    if (!m_datum) {
        const bool calibration = calibrationOnWgs84();
        const bool exports = exportOnWgs84();
        const QString use = calibration && exports
                                ? QStringLiteral("Calibración y exportación a WGS 84")
                            : exports ? QStringLiteral("Exportación a WGS 84")
                                      : QStringLiteral("Calibración WGS 84");
        m_datum = ChooseDatumChange(m_job, use);
        // A failure is told by the files that needed the change, each in its own words.
        if (m_datum->change) {
            logOnce(m_datum->logMessage);
        }
    }
    return *m_datum;
}

void OutputContext::fileFailed(const QString& fileName, const QString& reason,
                               const QString& message, bool plain) {
    m_failed.push_back({fileName, reason, message, plain});
}

void OutputContext::tellFailedFiles() {
    const QList<FailedFile> failed = std::exchange(m_failed, {});
    QStringList reasons;
    for (const FailedFile& f : failed) {
        if (!reasons.contains(f.reason)) {
            reasons << f.reason;
        }
    }
    for (const QString& reason : reasons) {
        QStringList names;
        const FailedFile* only = nullptr;
        for (const FailedFile& f : failed) {
            if (f.reason == reason) {
                names << f.fileName;
                only = &f;
            }
        }
        if (!alive()) {
            return; // closed while a box was open
        }
        if (names.size() == 1 && only->plain) {
            questions().message(only->message);
        } else if (names.size() == 1) {
            questions().error(only->message);
        } else {
            const QString last = names.takeLast();
            questions().error(QStringLiteral("No se han podido grabar %1 y %2 en la carpeta %3: %4")
                                  .arg(names.join(QStringLiteral(", ")), last,
                                       QDir::toNativeSeparators(m_job.folder), reason));
        }
    }
}
