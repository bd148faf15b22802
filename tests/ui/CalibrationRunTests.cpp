// The calibration step of a run: which files, with which arguments, and what is reported.
#include "download/AreaRecalc.h"
#include "download/CalibrationRun.h"
#include "geo/OverwriteQuestion.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Answer : public OverwriteQuestion {
public:
    explicit Answer(bool yes) : m_yes(yes) {}
    bool confirmOverwrite(const QString& caption, const QString& text) override {
        asked << caption + u'|' + text;
        return m_yes;
    }
    QStringList asked;

private:
    bool m_yes;
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
        m_job.saveOzi = true;
        m_job.saveCompe = true;
    }
    QString Path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

    QTemporaryDir m_dir;
    DownloadJob m_job;
};

TEST_F(CalibrationRun, OptionsChooseTheFiles) {
    DownloadJob job;
    job.saveOzi = true;
    EXPECT_TRUE(CalibrationWanted(CalibrationFormat::OziExplorer, job));
    EXPECT_FALSE(CalibrationWanted(CalibrationFormat::CompeGps, job));
    job.saveOzi = false;
    job.saveCompe = true;
    EXPECT_FALSE(CalibrationWanted(CalibrationFormat::OziExplorer, job));
    EXPECT_TRUE(CalibrationWanted(CalibrationFormat::CompeGps, job));
}

TEST_F(CalibrationRun, CompeGpsFileMatchesTheSample) {
    Answer yes(true);
    const CalibrationOutcome o = WriteCalibrationFile(CalibrationFormat::CompeGps, m_job, yes);
    ASSERT_TRUE(o.written) << o.reason.toStdString();
    EXPECT_EQ(o.statusText, QStringLiteral("Fichero de Calibración para CompeGPS generado."));
    EXPECT_EQ(o.logMessage, QStringLiteral(". Generada calibración para CompeGPS"));
    EXPECT_TRUE(o.failureMessage.isEmpty());
    EXPECT_EQ(ReadAll(Path("Prueba.imp")), ReadAll(kSamples + "Prueba.imp"));
    EXPECT_TRUE(yes.asked.isEmpty());
}

// Line 3 names the image with its folder, which differs from the sample's C:\Mapas.
TEST_F(CalibrationRun, OziExplorerFileMatchesTheSampleButForTheImagePath) {
    Answer yes(true);
    const CalibrationOutcome o = WriteCalibrationFile(CalibrationFormat::OziExplorer, m_job, yes);
    ASSERT_TRUE(o.written) << o.reason.toStdString();
    EXPECT_EQ(o.statusText, QStringLiteral("Fichero de Calibración para OziExplorer generado."));
    EXPECT_EQ(o.logMessage, QStringLiteral(". Generada calibración para OZiExplorer"));
    QList<QByteArray> written = ReadAll(Path("Prueba.map")).split('\n');
    QList<QByteArray> sample = ReadAll(kSamples + "Prueba.map").split('\n');
    ASSERT_EQ(written.size(), sample.size());
    EXPECT_EQ(written.at(2),
              QDir::toNativeSeparators(PathPrefix(m_dir.path()) + "Prueba.bmp").toUtf8() + '\r');
    written.removeAt(2);
    sample.removeAt(2);
    EXPECT_EQ(written, sample);
}

TEST_F(CalibrationRun, RefusedOverwriteGivesTheFixedTextsOnly) {
    QFile old(Path("Prueba.map"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    Answer no(false);
    const CalibrationOutcome o = WriteCalibrationFile(CalibrationFormat::OziExplorer, m_job, no);
    EXPECT_FALSE(o.written);
    EXPECT_TRUE(o.refused);
    EXPECT_EQ(no.asked.size(), 1);
    EXPECT_EQ(
        o.statusText,
        QStringLiteral("No se ha podido generar el fichero de Calibración para OziExplorer."));
    EXPECT_EQ(o.logMessage, QStringLiteral(". No se ha generado calibración para OZiExplorer"));
    EXPECT_EQ(o.failureMessage,
              QStringLiteral("No se ha generado el fichero de calibración de OziExplorer"));
    EXPECT_EQ(ReadAll(Path("Prueba.map")), QByteArray("old"));
}

TEST_F(CalibrationRun, OtherFailuresAddTheirReason) {
    m_job.folder = m_dir.filePath(QStringLiteral("missing"));
    Answer yes(true);
    const CalibrationOutcome o = WriteCalibrationFile(CalibrationFormat::CompeGps, m_job, yes);
    EXPECT_FALSE(o.written);
    EXPECT_FALSE(o.refused);
    EXPECT_FALSE(o.reason.isEmpty());
    EXPECT_EQ(o.statusText,
              QStringLiteral("No se ha podido generar el fichero de Calibración para CompeGPS."));
    EXPECT_EQ(o.logMessage, QStringLiteral(". No se ha generado calibración para CompeGPS"));
    EXPECT_EQ(o.failureMessage,
              QStringLiteral("No se ha generado el fichero de calibración de CompeGPS\n") +
                  o.reason);
}

TEST_F(CalibrationRun, AcceptedOverwriteReplacesTheFile) {
    QFile old(Path("Prueba.imp"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    Answer yes(true);
    const CalibrationOutcome o = WriteCalibrationFile(CalibrationFormat::CompeGps, m_job, yes);
    EXPECT_TRUE(o.written);
    EXPECT_EQ(yes.asked.size(), 1);
    EXPECT_EQ(ReadAll(Path("Prueba.imp")), ReadAll(kSamples + "Prueba.imp"));
}

} // namespace
