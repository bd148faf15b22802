#include "run/CalibrationRun.h"

#include "geo/CalibrationPoints.h"
#include "geo/DatumChange.h"
#include "geo/OverwriteQuestion.h"
#include "geo/WorldFile.h"
#include "geo/uCalibra.h"
#include "job/NumberFormat.h"

namespace {

// The system works in UTM zone 30 of the northern hemisphere only.
constexpr int32_t kZone = 30;

// Passes the question on and remembers a refusal, which is the user's own choice and
// needs no reason shown.
class RecordingQuestion : public OverwriteQuestion {
public:
    explicit RecordingQuestion(OverwriteQuestion& inner) : m_inner(inner) {}
    bool confirmOverwrite(const QString& caption, const QString& text) override {
        const bool yes = m_inner.confirmOverwrite(caption, text);
        m_refused = m_refused || !yes;
        return yes;
    }
    bool refused() const { return m_refused; }

private:
    OverwriteQuestion& m_inner;
    bool m_refused = false;
};

} // namespace

bool CalibrationWanted(CalibrationFormat format, const DownloadJob& job) {
    switch (format) {
    case CalibrationFormat::OziExplorer:
        return job.saveOzi;
    case CalibrationFormat::CompeGps:
        return job.saveCompe;
    case CalibrationFormat::WorldFile:
        return job.saveWorldFile;
    }
    return false;
}

DatumChoice ChooseDatumChange(const DownloadJob& job, const QString& use) {
    const CalibrationLists lists = BuildCalibrationLists(job);
    const CalibrationPoint& upperLeft = lists.corners[0];
    const CalibrationPoint& lowerRight = lists.corners[2];
    DatumChoice choice;
    QString reason;
    choice.change = DatumChange::ForArea(upperLeft.easting, lowerRight.northing, lowerRight.easting,
                                         upperLeft.northing, &reason);
    if (!choice.change) {
        choice.reason = reason;
        choice.statusText = QStringLiteral("No se ha podido generar la calibración WGS 84.");
        choice.logMessage = QStringLiteral(". No se ha generado calibración WGS 84: ") + reason;
        choice.failureMessage =
            QStringLiteral("No se han generado los ficheros de calibración en WGS 84: ") + reason;
        return choice;
    }
    const double accuracy = choice.change->accuracyMetres();
    const QString shown = accuracy < 0
                              ? QStringLiteral("precisión desconocida")
                              : ProgramLocale().toString(accuracy, 'g', 3) + QStringLiteral(" m");
    choice.logMessage =
        QStringLiteral(". %1: %2, %3").arg(use, choice.change->operationName(), shown);
    return choice;
}

CalibrationOutcome WriteCalibrationFile(CalibrationFormat format, const DownloadJob& job,
                                        OverwriteQuestion& question, const DatumChange* change) {
    const CalibrationLists lists = BuildCalibrationLists(job);
    const QString image = job.bmpName + QStringLiteral(".bmp");
    const QString map = job.bmpName + QStringLiteral(".map");
    const QString imp = job.bmpName + QStringLiteral(".imp");
    const QString oziProjection = QStringLiteral("(UTM) Universal Transverse Mercator");
    const bool wgs84 = job.datum == CalibrationDatum::Wgs84;
    RecordingQuestion asked(question);
    CalibrationOutcome o;
    // A WGS 84 file is written only with the change: never one that puts the map in the
    // wrong place.
    const bool datumKnown = !wgs84 || change != nullptr;
    const auto datum = [&](const QString& ed50Name) {
        return wgs84 ? FileDatum::Wgs84(*change) : FileDatum::Ed50(ed50Name);
    };
    switch (format) {
    case CalibrationFormat::OziExplorer:
        o.written = datumKnown &&
                    WriteOziExplorerMap(lists.points, lists.corners, oziProjection,
                                        datum(QStringLiteral("European 1950 (Spain and Portugal)")),
                                        job.bmpName, job.folder, map, image, kZone, asked,
                                        &o.reason, &o.replacedLinks);
        break;
    case CalibrationFormat::CompeGps:
        o.written =
            datumKnown &&
            WriteCompeGpsImp(lists.points, lists.corners, QStringLiteral("UTM"),
                             datum(QStringLiteral("European 1950")), QStringLiteral("T"),
                             job.folder, imp, image, kZone, asked, &o.reason, &o.replacedLinks);
        break;
    case CalibrationFormat::WorldFile:
        o.written =
            WriteWorldFiles(lists.corners, job.folder, job.bmpName, &o.reason, &o.replacedLinks);
        break;
    }
    o.refused = !o.written && asked.refused();

    if (format == CalibrationFormat::WorldFile) {
        if (o.written) {
            o.statusText = QStringLiteral("Fichero de georreferencia generado.");
            o.logMessage = QStringLiteral(". Generado fichero de georreferencia");
            return o;
        }
        o.statusText = QStringLiteral("No se ha podido generar el fichero de georreferencia.");
        o.logMessage = QStringLiteral(". No se ha generado fichero de georreferencia");
        o.failureMessage = QStringLiteral("No se ha generado el fichero de georreferencia");
    } else {
        // The log spells the first program "OZiExplorer"; the status bar and the box do not.
        const bool ozi = format == CalibrationFormat::OziExplorer;
        const QString shown = ozi ? QStringLiteral("OziExplorer") : QStringLiteral("CompeGPS");
        const QString logged = ozi ? QStringLiteral("OZiExplorer") : QStringLiteral("CompeGPS");
        if (o.written) {
            o.reason.clear();
            o.statusText = QStringLiteral("Fichero de Calibración para %1 generado.").arg(shown);
            o.logMessage = QStringLiteral(". Generada calibración para %1").arg(logged);
            return o;
        }
        o.statusText =
            QStringLiteral("No se ha podido generar el fichero de Calibración para %1.").arg(shown);
        o.logMessage = QStringLiteral(". No se ha generado calibración para %1").arg(logged);
        o.failureMessage =
            QStringLiteral("No se ha generado el fichero de calibración de %1").arg(shown);
    }
    if (!o.refused && !o.reason.isEmpty()) {
        o.failureMessage += u'\n' + o.reason;
    }
    return o;
}
