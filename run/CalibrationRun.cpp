#include "run/CalibrationRun.h"

#include "geo/CalibrationPoints.h"
#include "geo/OverwriteQuestion.h"
#include "geo/uCalibra.h"

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
    return format == CalibrationFormat::OziExplorer ? job.saveOzi : job.saveCompe;
}

CalibrationOutcome WriteCalibrationFile(CalibrationFormat format, const DownloadJob& job,
                                        OverwriteQuestion& question) {
    const CalibrationLists lists = BuildCalibrationLists(job);
    const QString image = job.bmpName + QStringLiteral(".bmp");
    RecordingQuestion asked(question);
    CalibrationOutcome o;
    const bool ozi = format == CalibrationFormat::OziExplorer;
    if (ozi) {
        o.written = WriteOziExplorerMap(
            lists.points, lists.corners, QStringLiteral("(UTM) Universal Transverse Mercator"),
            QStringLiteral("European 1950 (Spain and Portugal)"), job.bmpName, job.folder,
            job.bmpName + QStringLiteral(".map"), image, kZone, asked, &o.reason);
    } else {
        o.written =
            WriteCompeGpsImp(lists.points, lists.corners, QStringLiteral("UTM"),
                             QStringLiteral("European 1950"), QStringLiteral("T"), job.folder,
                             job.bmpName + QStringLiteral(".imp"), image, kZone, asked, &o.reason);
    }
    o.refused = !o.written && asked.refused();

    // The log spells the first program "OZiExplorer"; the status bar and the box do not.
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
    if (!o.refused && !o.reason.isEmpty()) {
        o.failureMessage += u'\n' + o.reason;
    }
    return o;
}
