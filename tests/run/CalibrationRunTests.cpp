// The calibration step of a run: the files against their samples, and the texts reported
// for each format and outcome.
#include "geo/OverwriteQuestion.h"
#include "job/AreaRecalc.h"
#include "run/CalibrationRun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Answer : public OverwriteQuestion {
public:
    bool confirmOverwrite(const QString&, const QString&) override {
        ++asked;
        return yes;
    }
    bool yes = true;
    int asked = 0;
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The sample files describe the default job: 585000 / 4730000, 5 x 5 tiles of 5000 m,
// base name "Prueba".
const QString kSamples = QStringLiteral(MORVEL_TEST_DATA_DIR "/geo/");

class CalibrationRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        DownloadJob job;
        job.kind = MapKind::Orto;
        AreaInputs in;
        in.eastingText = QStringLiteral("585000");
        in.northingText = QStringLiteral("730000");
        in.acrossPosition = 4;
        in.downPosition = 4;
        in.coveragePosition = 0;
        in.serverBase = QStringLiteral("http://127.0.0.1:1");
        m_job = RecalcArea(job, in).job;
        m_job.folder = m_dir.path();
    }
    QString Path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    void WriteOld(const char* name) const {
        QFile old(Path(name));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }

    QTemporaryDir m_dir;
    DownloadJob m_job;
    Answer m_answer;
};

// An existing .imp is replaced once the user agrees. The .map names the image with its
// folder on line 3, which differs from the sample's C:\Mapas.
TEST_F(CalibrationRun, FilesMatchTheSamples) {
    WriteOld("Prueba.imp");
    ASSERT_TRUE(WriteCalibrationFile(CalibrationFormat::CompeGps, m_job, m_answer).written);
    EXPECT_EQ(m_answer.asked, 1);
    EXPECT_EQ(ReadAll(Path("Prueba.imp")), ReadAll(kSamples + "Prueba.imp"));

    ASSERT_TRUE(WriteCalibrationFile(CalibrationFormat::OziExplorer, m_job, m_answer).written);
    QList<QByteArray> written = ReadAll(Path("Prueba.map")).split('\n');
    QList<QByteArray> sample = ReadAll(kSamples + "Prueba.map").split('\n');
    ASSERT_EQ(written.size(), sample.size());
    EXPECT_EQ(written.takeAt(2),
              QDir::toNativeSeparators(PathPrefix(m_dir.path()) + "Prueba.bmp").toUtf8() + '\r');
    sample.removeAt(2);
    EXPECT_EQ(written, sample);
}

enum class Situation { Fresh, Refused, NoFolder };

struct TextCase {
    CalibrationFormat format;
    Situation situation;
    const char* status;
    const char* log;
    const char* failure; // followed by "\n" and the reason unless the overwrite was refused
};
void PrintTo(const TextCase& c, std::ostream* out) {
    *out << c.log;
}

class CalibrationTexts : public CalibrationRun, public ::testing::WithParamInterface<TextCase> {};

TEST_P(CalibrationTexts, ForEachFormatAndOutcome) {
    const TextCase& c = GetParam();
    const char* file = c.format == CalibrationFormat::OziExplorer ? "Prueba.map" : "Prueba.imp";
    if (c.situation == Situation::Refused) {
        WriteOld(file);
        m_answer.yes = false;
    } else if (c.situation == Situation::NoFolder) {
        m_job.folder = m_dir.filePath(QStringLiteral("missing"));
    }
    const CalibrationOutcome o = WriteCalibrationFile(c.format, m_job, m_answer);
    EXPECT_EQ(o.written, c.situation == Situation::Fresh) << o.reason.toStdString();
    EXPECT_EQ(o.refused, c.situation == Situation::Refused);
    EXPECT_EQ(o.statusText, QString::fromUtf8(c.status));
    EXPECT_EQ(o.logMessage, QString::fromUtf8(c.log));
    QString failure = QString::fromUtf8(c.failure);
    if (c.situation == Situation::NoFolder) {
        EXPECT_FALSE(o.reason.isEmpty());
        failure += u'\n' + o.reason;
    }
    EXPECT_EQ(o.failureMessage, failure);
    if (c.situation == Situation::Refused) {
        EXPECT_EQ(ReadAll(Path(file)), QByteArray("old"));
    }
}

// Every text once: the log says "OZiExplorer", the status and the message box
// "OziExplorer"; the texts of a written CompeGPS file are checked by the window tests.
INSTANTIATE_TEST_SUITE_P(
    Table, CalibrationTexts,
    ::testing::Values(
        TextCase{CalibrationFormat::OziExplorer, Situation::Fresh,
                 "Fichero de Calibración para OziExplorer generado.",
                 ". Generada calibración para OZiExplorer", ""},
        TextCase{CalibrationFormat::OziExplorer, Situation::Refused,
                 "No se ha podido generar el fichero de Calibración para OziExplorer.",
                 ". No se ha generado calibración para OZiExplorer",
                 "No se ha generado el fichero de calibración de OziExplorer"},
        TextCase{CalibrationFormat::CompeGps, Situation::NoFolder,
                 "No se ha podido generar el fichero de Calibración para CompeGPS.",
                 ". No se ha generado calibración para CompeGPS",
                 "No se ha generado el fichero de calibración de CompeGPS"},
        TextCase{CalibrationFormat::WorldFile, Situation::Fresh,
                 "Fichero de georreferencia generado.", ". Generado fichero de georreferencia", ""},
        TextCase{CalibrationFormat::WorldFile, Situation::NoFolder,
                 "No se ha podido generar el fichero de georreferencia.",
                 ". No se ha generado fichero de georreferencia",
                 "No se ha generado el fichero de georreferencia"}));

// On WGS 84 the change is chosen once for the job's area and named with its accuracy in
// the log; both GPS files then name WGS 84.
TEST_F(CalibrationRun, Wgs84FilesNameTheOperationTheyWereMovedWith) {
    m_job.datum = CalibrationDatum::Wgs84;
    const DatumChoice choice = ChooseDatumChange(m_job);
    ASSERT_TRUE(choice.change) << choice.logMessage.toStdString();
    EXPECT_TRUE(choice.statusText.isEmpty());
    // Without the IGN grid this machine's best is EPSG's seven parameters, good to 1.5 m.
    EXPECT_TRUE(choice.logMessage == ". Calibración WGS 84: ED50 to ETRS89 (7), 1,5 m" ||
                choice.logMessage.endsWith(", 0,2 m"))
        << choice.logMessage.toStdString();
    for (const CalibrationFormat format :
         {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps}) {
        const CalibrationOutcome o =
            WriteCalibrationFile(format, m_job, m_answer, choice.change.get());
        EXPECT_TRUE(o.written) << o.reason.toStdString();
    }
    EXPECT_TRUE(ReadAll(Path("Prueba.map")).contains("\r\nWGS 84,WGS 84,   0.0000"));
    EXPECT_TRUE(ReadAll(Path("Prueba.imp")).contains("\r\nDatum=WGS 84\r\n"));
    // Without the change a WGS 84 file is not written at all.
    QFile::remove(Path("Prueba.map"));
    EXPECT_FALSE(WriteCalibrationFile(CalibrationFormat::OziExplorer, m_job, m_answer).written);
    EXPECT_FALSE(QFile::exists(Path("Prueba.map")));
}

// Where no operation covers the area (here the grid's numbers put it in the Gulf of Guinea)
// there is no change, and the reason is said.
TEST_F(CalibrationRun, NoOperationForTheAreaIsSaid) {
    m_job.datum = CalibrationDatum::Wgs84;
    m_job.northingField = -3000000;
    m_job.cornerNorthingField = m_job.northingField - 25000;
    const DatumChoice choice = ChooseDatumChange(m_job);
    EXPECT_FALSE(choice.change);
    EXPECT_EQ(choice.statusText, QStringLiteral("No se ha podido generar la calibración WGS 84."));
    EXPECT_TRUE(choice.logMessage.startsWith(". No se ha generado calibración WGS 84: "));
    EXPECT_TRUE(choice.failureMessage.startsWith(
        "No se han generado los ficheros de calibración en WGS 84: "));
}

} // namespace
