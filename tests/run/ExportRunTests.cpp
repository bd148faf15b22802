// A run's closing steps with exports asked for, against a map server on 127.0.0.1: the order
// of the files, the clean-up that waits for all of them, a stop or an abort while an export
// is written, a file that cannot be written, what is left of an older area's BMP, and what
// a run measures of its tiles and files for the estimates of the next.
#include "job/RunMeasures.h"
#include "run/ExportOutput.h"
#include "tests/geo/GeoTestTools.h"
#include "tests/run/RunTestSupport.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using ExportRun = RunTest;

QStringList After(const QStringList& log, const QString& line) {
    const qsizetype at = log.indexOf(line);
    return at < 0 ? QStringList{QStringLiteral("<no ") + line + u'>'} : log.mid(at + 1);
}

// Stops the run from the event loop once the status bar names the export being written; or,
// as a closing window does, destroys it.
void StopDuring(std::unique_ptr<DownloadRun>& run, const QString& exporting, bool destroy) {
    auto fired = std::make_shared<bool>(false);
    QObject::connect(run.get(), &DownloadRun::statusText, run.get(),
                     [&run, exporting, destroy, fired](const QString& text) {
                         if (*fired || !text.startsWith(exporting)) {
                             return;
                         }
                         *fired = true;
                         QTimer::singleShot(0, run.get(), [&run, destroy] {
                             if (destroy) {
                                 // Not from the run's own slot: once the timer is done.
                                 QTimer::singleShot(0, [&run] { run.reset(); });
                             } else {
                                 run->stop();
                             }
                         });
                     });
}

// Without the BMP: the image is joined all the same, the five files follow in their order,
// the operation they were moved with is named once, and only then do the tiles go. Links
// in their places are replaced, and what they named stays as it was.
TEST_F(ExportRun, EveryExportWithoutTheBmpThenTheTilesGo) {
    QTemporaryDir victim;
    for (const char* name :
         {"Prueba.tif", "Prueba.gpkg", "Prueba.mbtiles", "Prueba.kmz", "Prueba.pdf"}) {
        WriteAll(victim.filePath(name), "victim's");
        ASSERT_TRUE(QFile::link(victim.filePath(name), path(name)));
    }
    const std::map<QString, QByteArray> before = FolderSnapshot(victim.path());
    DownloadJob job = Job(2, 2);
    job.saveBmp = false;
    job.deleteTiles = true;
    job.saveOzi = true;
    job.exports.fill(true);
    const RunReport r = Run(job);
    const QStringList closing = After(r.log, ". Fin de la descarga");
    ASSERT_EQ(closing.size(), 8) << closing.join('|').toStdString();
    EXPECT_EQ(closing[0], ". Exportado Prueba.tif (GeoTIFF, ED50 / UTM 30N)");
    EXPECT_EQ(closing[1], ". Exportado Prueba.gpkg (GeoPackage, ED50 / UTM 30N)");
    EXPECT_TRUE(closing[2].startsWith(". Exportación a WGS 84: ED50 to ETRS89"))
        << closing[2].toStdString();
    EXPECT_TRUE(closing[3].startsWith(
        ". Exportado Prueba.mbtiles (MBTiles, Web Mercator con ED50 to ETRS89"));
    EXPECT_TRUE(
        closing[4].startsWith(". Exportado Prueba.kmz (KMZ de Garmin, WGS 84 con ED50 to ETRS89"));
    EXPECT_TRUE(closing[5].startsWith(". Exportado Prueba.pdf (PDF para imprimir, 6 hojas A4 a "
                                      "1:25.000, ETRS89 / UTM 30N con ED50 to ETRS89"))
        << closing[5].toStdString();
    EXPECT_EQ(closing.mid(6),
              (QStringList{". Archivos del mosaico borrados",
                           ". Calibración no generada: no se grabó el fichero BMP"}));
    EXPECT_EQ(r.log.filter("Descargado mosaico").size(), 4);
    EXPECT_EQ(r.outcome.exportsWritten.size(), 5);
    EXPECT_FALSE(r.outcome.writeFailed);
    EXPECT_FALSE(r.outcome.recordKept);
    EXPECT_EQ(files(), (QStringList{"Prueba.gpkg", "Prueba.kmz", "Prueba.mbtiles", "Prueba.pdf",
                                    "Prueba.tif"}));
    for (const QString& name : files()) {
        EXPECT_FALSE(QFileInfo(path(name)).isSymLink()) << name.toStdString();
    }
    EXPECT_EQ(FolderSnapshot(victim.path()), before);
    EXPECT_TRUE(r.statuses.contains("Exportando Prueba.kmz (KMZ de Garmin): 0 %"));
    EXPECT_TRUE(r.statuses.contains("Exportando Prueba.pdf (PDF para imprimir): 0 %"));
}

// A tile failed: nothing is exported, and the log says so once.
TEST_F(ExportRun, NoExportFromAnImageWithHoles) {
    DownloadJob job = Job(2);
    job.setExport(ExportFormat::GeoTiff, true);
    job.setExport(ExportFormat::MbTiles, true);
    setFault(job, 2, 1, TestMapServer::Fault::Http404);
    const RunReport r = Run(job);
    EXPECT_EQ(After(r.log, ". Fin de la descarga"),
              (QStringList{". No se descargó algún mosaico",
                           ". Exportación no generada: no se descargaron todos los mosaicos"}));
    EXPECT_EQ(files(), (QStringList{"A01.jpg", "Prueba.morvel"}));
}

// Stopped, or aborted as a closing window does, while an export is written after the BMP was
// saved: the export is given up and leaves nothing, the tiles stay, and the BMP keeps its
// calibration file (written unasked when aborted) rather than an older area's; a stop says
// so, naming the export given up, and the record stays for the exports still to do.
TEST_F(ExportRun, AStopDuringAnExportKeepsWhatGoesWithTheBmp) {
    for (const bool destroy : {false, true}) {
        QTemporaryDir folder;
        WriteAll(QDir(folder.path()).filePath("Prueba.map"), "older map");
        DownloadJob job = Job(6, 6, folder.path());
        job.saveOzi = true;
        job.deleteTiles = true;
        job.setExport(ExportFormat::MbTiles, true);
        auto run = std::make_unique<DownloadRun>(job, &manager, questions);
        run->setFetchLimits(QuickFetchLimits());
        QStringList log;
        QObject::connect(run.get(), &DownloadRun::logEvent,
                         [&log](const QString& line) { log << line; });
        QSignalSpy done(run.get(), &DownloadRun::finished);
        StopDuring(run, "Exportando Prueba.mbtiles", destroy);
        ASSERT_EQ(run->start(), DownloadRun::StartResult::Started);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !run || done.count() == 1; }, 60000));
        ExportWorkPool()->waitForDone();
        const QStringList left =
            QDir(folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        EXPECT_FALSE(left.contains("Prueba.mbtiles")) << destroy;
        EXPECT_EQ(left.filter(".mbtiles").size(), 0) << left.join(' ').toStdString();
        EXPECT_TRUE(left.contains("A01.jpg")) << destroy;
        EXPECT_TRUE(left.contains("Prueba.morvel")) << destroy;
        EXPECT_TRUE(ReadAll(QDir(folder.path()).filePath("Prueba.map")).startsWith("OziExplorer"))
            << destroy;
        if (destroy) {
            EXPECT_EQ(done.count(), 0);
            continue;
        }
        const RunOutcome outcome = done.at(0).at(0).value<RunOutcome>();
        EXPECT_TRUE(outcome.bmpSaved);
        EXPECT_TRUE(outcome.stopped);
        EXPECT_TRUE(outcome.exportsWritten.isEmpty());
        EXPECT_EQ(outcome.calibrationsWritten,
                  QList<CalibrationFormat>{CalibrationFormat::OziExplorer});
        EXPECT_TRUE(outcome.recordKept);
        const QStringList closing = After(log, ". Fichero BMP grabado");
        ASSERT_FALSE(closing.isEmpty());
        // The MBTiles alone uses the datum change: the GPS file is on ED50.
        EXPECT_TRUE(closing[0].startsWith(". Exportación a WGS 84: ")) << closing[0].toStdString();
        EXPECT_EQ(closing.mid(1),
                  (QStringList{". Exportación de Prueba.mbtiles detenida: no se ha grabado",
                               ". Mosaicos conservados: no se grabó el fichero Prueba.mbtiles",
                               ". Generada calibración para OZiExplorer",
                               ". Descarga detenida por el usuario"}));
    }
}

// A folder where one export goes: the others are written, the run has failed a write, and
// the tiles and the record stay for another go.
TEST_F(ExportRun, AnExportThatCannotBeWrittenKeepsTheTiles) {
    DownloadJob job = Job(2);
    job.saveBmp = false;
    job.deleteTiles = true;
    job.setExport(ExportFormat::GeoTiff, true);
    job.setExport(ExportFormat::GeoPackage, true);
    ASSERT_TRUE(QDir(dir.path()).mkdir("Prueba.tif"));
    const RunReport r = Run(job);
    EXPECT_TRUE(r.outcome.writeFailed);
    EXPECT_TRUE(r.outcome.recordKept);
    EXPECT_EQ(r.outcome.exportsWritten, QList<ExportFormat>{ExportFormat::GeoPackage});
    const QStringList closing = After(r.log, ". Fin de la descarga");
    ASSERT_EQ(closing.size(), 3);
    EXPECT_TRUE(closing[0].startsWith(". No se ha podido exportar Prueba.tif: "));
    EXPECT_EQ(closing.mid(1),
              (QStringList{". Exportado Prueba.gpkg (GeoPackage, ED50 / UTM 30N)",
                           ". Mosaicos conservados: no se grabó el fichero Prueba.tif"}));
    EXPECT_EQ(questions.errors.size(), 1);
    EXPECT_EQ(files(), (QStringList{"A01.jpg", "A02.jpg", "Prueba.gpkg", "Prueba.morvel"}));
}

// An area with the world file and both calibration files, then another area under the same
// name with them off: GDAL must not place the new BMP by the older area's files, and the log
// says which went.
TEST_F(ExportRun, ANewAreaUnderTheSameNameKeepsNoOlderGeoreference) {
    DownloadJob first = Job(2);
    first.saveOzi = first.saveCompe = first.saveWorldFile = true;
    ASSERT_FALSE(Run(first).outcome.writeFailed);
    QJsonObject before;
    ASSERT_TRUE(GdalInfo(path("Prueba.bmp"), &before));
    ASSERT_TRUE(before.contains("geoTransform"));

    DownloadJob second = Job(2);
    second.easting += 65000;
    second.requestPrefix = RequestPrefix(second.kind, server.baseUrl());
    const RunReport r = Run(second);
    EXPECT_EQ(After(r.log, ". Fichero BMP grabado"),
              (QStringList{". Eliminado Prueba.map: describía el BMP anterior",
                           ". Eliminado Prueba.imp: describía el BMP anterior",
                           ". Eliminado Prueba.bpw: describía el BMP anterior",
                           ". Eliminado Prueba.prj: describía el BMP anterior",
                           ". Eliminado Prueba.bmp.aux.xml: describía el BMP anterior"}));
    EXPECT_FALSE(r.outcome.writeFailed);
    EXPECT_EQ(files(), (QStringList{"A01.jpg", "A02.jpg", "Prueba.bmp"}));
    QJsonObject after;
    ASSERT_TRUE(GdalInfo(path("Prueba.bmp"), &after));
    EXPECT_FALSE(after.contains("geoTransform"));
    EXPECT_FALSE(after.contains("coordinateSystem"));
    EXPECT_FALSE(after.contains("gcps"));
}

// What a run measures: its tiles as written, the server's turn, and each file it wrote with
// its bytes and the bytes of the tiles it was made from, step by step as it writes them; a
// file that waited for the user's answer says nothing of how fast it is written.
TEST_F(ExportRun, ARunMeasuresItsTilesAndEachFileItWrites) {
    DownloadJob job = Job(2, 2);
    job.saveOzi = true;
    job.saveCompe = true;
    job.setExport(ExportFormat::GeoTiff, true);
    WriteAll(path("Prueba.imp"), "an older area's");
    const RunReport r = Run(job, 2);
    ASSERT_FALSE(r.outcome.writeFailed);
    ASSERT_EQ(questions.overwrites.size(), 1);

    const RunMeasures& m = r.measured;
    qint64 tiles = 0;
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 2; ++column) {
            tiles += QFileInfo(path(TileFileName(job, column, row))).size();
        }
    }
    ASSERT_TRUE(m.tileBytes(job.kind, job.tileSize));
    EXPECT_NEAR(*m.tileBytes(job.kind, job.tileSize), tiles / 4.0, 0.01);
    ASSERT_TRUE(m.answerMs(server.baseUrl()));
    EXPECT_GT(*m.answerMs(server.baseUrl()), 0.0);
    // 0.64 megapixels.
    for (const QString& key : {BmpOutputKey(), QStringLiteral("GeoTIFF"), OziExplorerOutputKey()}) {
        const RunMeasures::OutputMeasure* output = m.output(key);
        ASSERT_TRUE(output) << key.toStdString();
        EXPECT_GT(*output->seconds.estimate(), 0.0) << key.toStdString();
        EXPECT_NEAR(*output->tileBytes.estimate(), tiles / 0.64, 1.0) << key.toStdString();
    }
    EXPECT_NEAR(*m.output(QStringLiteral("GeoTIFF"))->bytes.estimate(),
                QFileInfo(path("Prueba.tif")).size() / 0.64, 1.0);
    EXPECT_FALSE(m.output(CompeGpsOutputKey()));
    EXPECT_FALSE(m.output(WorldFileOutputKey()));

    // Each file asked for from its beginning to its end, in the order written; the export's
    // part done in between, never going back.
    const QStringList asked = OutputKeysAsked(job);
    QStringList bounds;
    double part = 0;
    for (const QString& step : r.steps) {
        const QString key = step.section(u' ', 0, -2);
        const double now = step.section(u' ', -1).toDouble();
        if (now == 0.0 || now == 1.0) {
            if (asked.contains(key)) {
                bounds << step;
            }
            part = 0;
        } else {
            EXPECT_EQ(key, "GeoTIFF");
            EXPECT_GT(now, part) << step.toStdString();
            part = now;
        }
    }
    EXPECT_EQ(bounds, (QStringList{"BMP 0", "BMP 1", "GeoTIFF 0", "GeoTIFF 1", "OziExplorer 0",
                                   "OziExplorer 1", "CompeGPS 0", "CompeGPS 1"}));
}

} // namespace
