#include "run/RunOutput.h"

#include "run/DownloadRun.h"

OutputContext::OutputContext(const DownloadJob& job, QImage image, RunOutcome& outcome,
                             RunQuestions& questions)
    : m_job(job), m_image(std::move(image)), m_outcome(outcome), m_questions(&questions) {}

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
           (m_job.exportWanted(ExportFormat::MbTiles) ||
            m_job.exportWanted(ExportFormat::GarminKmz));
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
