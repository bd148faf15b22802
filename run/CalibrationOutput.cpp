#include "run/CalibrationOutput.h"

#include "job/RunMeasures.h"
#include "job/WriteError.h"
#include "run/DownloadRun.h"
#include "run/RunQuestions.h"

QStringList CalibrationOutput::FileNames(CalibrationFormat format, const QString& baseName) {
    switch (format) {
    case CalibrationFormat::OziExplorer:
        return {baseName + QStringLiteral(".map")};
    case CalibrationFormat::CompeGps:
        return {baseName + QStringLiteral(".imp")};
    case CalibrationFormat::WorldFile:
        break;
    }
    return {baseName + QStringLiteral(".bpw"), baseName + QStringLiteral(".prj"),
            baseName + QStringLiteral(".bmp.aux.xml")};
}

QString CalibrationOutput::measureKey() const {
    switch (m_format) {
    case CalibrationFormat::OziExplorer:
        return OziExplorerOutputKey();
    case CalibrationFormat::CompeGps:
        return CompeGpsOutputKey();
    case CalibrationFormat::WorldFile:
        break;
    }
    return WorldFileOutputKey();
}

void CalibrationOutput::write(OutputContext& context, Done done) {
    const DownloadJob& job = context.job();
    RunOutcome& outcome = context.outcome();
    if (!CalibrationWanted(m_format, job)) {
        done();
        return;
    }
    if (!outcome.bmpSaved) {
        context.logOnce(QStringLiteral(". Calibración no generada: no se grabó el fichero BMP"));
        done();
        return;
    }
    const DatumChange* change = nullptr;
    if (m_format != CalibrationFormat::WorldFile && job.datum == CalibrationDatum::Wgs84) {
        const DatumChoice& choice = context.datumChoice();
        if (!context.alive()) {
            return;
        }
        if (!choice.change) {
            // No GPS file rather than one that puts the map in the wrong place; said once
            // for both.
            if (context.logOnce(choice.logMessage)) {
                context.status(choice.statusText);
                outcome.writeFailed = true;
                context.questions().message(choice.failureMessage);
            }
            if (context.alive()) {
                done();
            }
            return;
        }
        change = choice.change.get();
    }
    const CalibrationOutcome o = WriteCalibrationFile(m_format, job, context.questions(), change);
    if (!context.alive()) {
        return; // closed while the overwrite question was open
    }
    const QStringList names = FileNames(m_format, job.bmpName);
    if (o.written) {
        outcome.calibrationsWritten << m_format;
        context.written << names;
    } else if (o.refused) {
        context.keptByUser << names;
    }
    context.status(o.statusText);
    context.log(o.logMessage);
    for (const QString& name : o.replacedLinks) {
        context.linkReplaced(name);
    }
    if (o.refused) {
        context.questions().message(o.failureMessage);
    } else if (!o.written) {
        outcome.writeFailed = true;
        // The writers' reason names the file; what the folder is now says the cause alone,
        // as the other files of the run give it.
        const std::optional<LocalWriteError> cause = FolderRefusal(job.folder);
        context.fileFailed(names.first(), cause ? cause->reason : o.reason, o.failureMessage, true);
    }
    if (context.alive()) {
        done();
    }
}
