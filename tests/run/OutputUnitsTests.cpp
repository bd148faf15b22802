// The outputs a run ends with, each on its own: given a job, an image and what was written
// before them, the files they leave and the lines they say.
#include "exports/MapExport.h"
#include "geo/DatumChange.h"
#include "run/CalibrationOutput.h"
#include "run/ExportOutput.h"
#include "run/StaleGeoreferenceOutput.h"
#include "run/TileCleanupOutput.h"
#include "tests/run/RunTestSupport.h"

#include <QFileInfo>
#include <QTest>
#include <QThreadPool>

#include <memory>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        job = JobOf(2, 1);
    }

    // Orthophoto tiles of 5000 m from 585000 / 4730000 into the test's folder, named Prueba,
    // with the tile table a run fills and nothing asked for.
    DownloadJob JobOf(int across, int down, const QString& northing = "730000") const {
        DownloadJob j;
        j.kind = MapKind::Orto;
        AreaInputs in;
        in.eastingText = QStringLiteral("585000");
        in.northingText = northing;
        in.acrossPosition = across - 1;
        in.downPosition = down - 1;
        in.coveragePosition = 0;
        in.serverBase = QStringLiteral("http://127.0.0.1:1");
        j = RecalcArea(j, in).job;
        j.folder = dir.path();
        j.saveBmp = false;
        for (int row = 1; row <= down; ++row) {
            for (int column = 1; column <= across; ++column) {
                j.tile(column, row).fileName = TileFileName(j, column, row);
            }
        }
        return j;
    }
    QImage ImageOf(const DownloadJob& j) const {
        QImage image(j.widthPixels, j.heightPixels, QImage::Format_RGB888);
        image.fill(QColor(120, 160, 90));
        return image;
    }

    // A context of the job as it stands, reporting into the test.
    OutputContext& Context(const QImage& image = {}) {
        context = std::make_unique<OutputContext>(job, image, outcome, questions);
        context->status = [this](const QString& text) { statuses << text; };
        context->log = [this](const QString& line) { log << line; };
        context->alive = [] { return true; };
        return *context;
    }
    // Writes the output and waits for it to be done; false when it never is.
    bool Write(RunOutput& output, int timeoutMs = 60000) {
        auto done = std::make_shared<bool>(false);
        output.write(*context, [done] { *done = true; });
        return *done || QTest::qWaitFor([done] { return *done; }, timeoutMs);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList entries() const {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir dir;
    DownloadJob job;
    RunOutcome outcome;
    RecordingQuestions questions;
    std::unique_ptr<OutputContext> context;
    QStringList statuses;
    QStringList log;
};

// The tiles are the only copy of what was fetched until every file asked for that holds them
// is saved: the BMP when asked, and each export asked for.
TEST_F(OutputTest, TheTilesGoOnlyOnceEveryFileAskedForIsSaved) {
    const QString noBmp = QStringLiteral(". Mosaicos conservados: no se grabó el fichero BMP");
    const struct {
        const char* name;
        bool saveBmp, bmpSaved;
        QList<ExportFormat> asked, written;
        bool anyFetched;
        QString line; // the log's one line, if any
    } table[] = {
        {"BmpSaved", true, true, {}, {}, true, ". Archivos del mosaico borrados"},
        {"BmpNotSaved", true, false, {}, {}, true, noBmp},
        {"NothingAsked", false, false, {}, {}, true, noBmp},
        {"ExportsWithoutBmp",
         false,
         false,
         {ExportFormat::GeoTiff, ExportFormat::GarminKmz},
         {ExportFormat::GeoTiff, ExportFormat::GarminKmz},
         true,
         ". Archivos del mosaico borrados"},
        {"AnExportMissing",
         true,
         true,
         {ExportFormat::GeoTiff, ExportFormat::GeoPackage},
         {ExportFormat::GeoTiff},
         true,
         ". Mosaicos conservados: no se grabó el fichero Prueba.gpkg"},
        {"NothingFetched", true, false, {}, {}, false, {}},
    };
    for (const auto& row : table) {
        WriteAll(path("A01.jpg"), "tile");
        WriteAll(path("A02.jpg"), "tile");
        job.saveBmp = row.saveBmp;
        job.deleteTiles = true;
        job.exports = {};
        for (const ExportFormat format : row.asked) {
            job.setExport(format, true);
        }
        outcome = RunOutcome{};
        outcome.bmpSaved = row.bmpSaved;
        outcome.exportsWritten = row.written;
        outcome.anyFetched = row.anyFetched;
        log.clear();
        Context();
        TileCleanupOutput cleanup;
        ASSERT_TRUE(Write(cleanup)) << row.name;
        EXPECT_EQ(log, row.line.isEmpty() ? QStringList() : QStringList{row.line}) << row.name;
        const bool deleted = row.line == ". Archivos del mosaico borrados";
        EXPECT_EQ(QFileInfo::exists(path("A01.jpg")), !deleted) << row.name;
        EXPECT_EQ(QFileInfo::exists(path("A02.jpg")), !deleted) << row.name;
    }
}

// Once this run saved its BMP, the georeference files of the name that it did not write go,
// each said in the log; those it wrote, those the user chose to keep, and anything but a
// plain file stay. Without a BMP of this run nothing is touched.
TEST_F(OutputTest, GeoreferenceOfTheOlderBmpIsRemoved) {
    QTemporaryDir elsewhere;
    for (const bool bmpSaved : {false, true}) {
        for (const char* name : {"Prueba.map", "Prueba.imp", "Prueba.bpw", "Prueba.bmp.aux.xml",
                                 "Prueba.tif", "Otra.map"}) {
            WriteAll(path(QLatin1String(name)), "older");
        }
        WriteAll(elsewhere.filePath("area.prj"), "elsewhere");
        QFile::remove(path("Prueba.prj"));
        QFile::link(elsewhere.filePath("area.prj"), path("Prueba.prj"));
        outcome = RunOutcome{};
        outcome.bmpSaved = bmpSaved;
        log.clear();
        Context();
        context->written << "Prueba.map";
        context->keptByUser << "Prueba.imp";
        StaleGeoreferenceOutput stale;
        ASSERT_TRUE(Write(stale));
        if (!bmpSaved) {
            EXPECT_EQ(log, QStringList());
            EXPECT_TRUE(QFileInfo::exists(path("Prueba.bpw")));
            continue;
        }
        EXPECT_EQ(log, (QStringList{". Eliminado Prueba.bpw: describía el BMP anterior",
                                    ". Eliminado Prueba.bmp.aux.xml: describía el BMP anterior"}));
        EXPECT_EQ(entries(), (QStringList{"Otra.map", "Prueba.imp", "Prueba.map", "Prueba.prj",
                                          "Prueba.tif"}));
        EXPECT_EQ(ReadAll(elsewhere.filePath("area.prj")), "elsewhere");
        EXPECT_FALSE(outcome.writeFailed);
    }
}

// A file that cannot be removed is an error of the run, said with its reason in Spanish.
TEST_F(OutputTest, GeoreferenceThatCannotBeRemovedIsAnError) {
    WriteAll(path("Prueba.bpw"), "older");
    ReadOnlyFolder readOnly(dir.path());
    if (!readOnly.active()) {
        GTEST_SKIP() << "this file system lets every user write into a read-only folder";
    }
    outcome.bmpSaved = true;
    Context();
    StaleGeoreferenceOutput stale;
    ASSERT_TRUE(Write(stale));
    EXPECT_TRUE(outcome.writeFailed);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0], ". No se ha podido eliminar Prueba.bpw, que describía el BMP anterior: " +
                          LocalWriteErrorFor(EACCES).reason);
}

// Without a BMP of this run no calibration file is written, and the log says so once for
// all three; with one, each file asked for is written and counted, and one the user would
// not replace is kept and not counted as a failure.
TEST_F(OutputTest, CalibrationFilesOnlyBesideABmpOfThisRun) {
    job.saveOzi = job.saveCompe = job.saveWorldFile = true;
    const auto writeAll = [this] {
        Context();
        for (const CalibrationFormat format :
             {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps,
              CalibrationFormat::WorldFile}) {
            CalibrationOutput output(format);
            ASSERT_TRUE(Write(output));
        }
    };
    writeAll();
    EXPECT_EQ(log, QStringList{". Calibración no generada: no se grabó el fichero BMP"});
    EXPECT_EQ(entries(), QStringList());

    WriteAll(path("Prueba.imp"), "older");
    questions.overwrite = false;
    outcome.bmpSaved = true;
    log.clear();
    writeAll();
    EXPECT_EQ(log, (QStringList{". Generada calibración para OZiExplorer",
                                ". No se ha generado calibración para CompeGPS",
                                ". Generado fichero de georreferencia"}));
    EXPECT_EQ(
        outcome.calibrationsWritten,
        (QList<CalibrationFormat>{CalibrationFormat::OziExplorer, CalibrationFormat::WorldFile}));
    EXPECT_FALSE(outcome.writeFailed);
    EXPECT_EQ(context->written,
              (QStringList{"Prueba.map", "Prueba.bpw", "Prueba.prj", "Prueba.bmp.aux.xml"}));
    EXPECT_EQ(context->keptByUser, QStringList{"Prueba.imp"});
    EXPECT_EQ(ReadAll(path("Prueba.imp")), "older");
}

// One datum change for the run, chosen when first needed and named once, for what it is
// used: the GPS files on WGS 84 of a saved BMP, the exports moved to WGS 84, or both.
TEST_F(OutputTest, TheDatumChangeIsChosenOnceAndNamedForWhatItIsFor) {
    const struct {
        bool calibration, exports;
        const char* use;
        ExportFormat format = ExportFormat::GarminKmz;
    } table[] = {
        {true, false, ". Calibración WGS 84: "},
        {false, true, ". Exportación a WGS 84: "},
        {true, true, ". Calibración y exportación a WGS 84: "},
        // The PDF's grid is on ETRS89, moved by the same operation.
        {false, true, ". Exportación a WGS 84: ", ExportFormat::PrintPdf},
    };
    for (const auto& row : table) {
        job.datum = CalibrationDatum::Wgs84;
        job.saveOzi = job.saveCompe = true;
        outcome = RunOutcome{};
        outcome.bmpSaved = row.calibration;
        job.exports = {};
        job.setExport(row.format, row.exports);
        log.clear();
        Context(ImageOf(job));
        const DatumChange* first = context->datumChoice().change.get();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(context->datumChoice().change.get(), first);
        if (row.calibration) {
            for (const CalibrationFormat format :
                 {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps}) {
                CalibrationOutput output(format);
                ASSERT_TRUE(Write(output));
            }
        }
        ASSERT_EQ(log.size(), row.calibration ? 3 : 1) << row.use;
        EXPECT_TRUE(log[0].startsWith(QString::fromUtf8(row.use))) << log[0].toStdString();
        EXPECT_TRUE(log[0].contains(first->operationName())) << log[0].toStdString();
    }
}

// Written on the exports' thread while the status bar names the file and how far it is; the
// log gets the export's own line, and the file counts as written.
TEST_F(OutputTest, AnExportIsWrittenWhileTheStatusBarNamesIt) {
    job.setExport(ExportFormat::GeoTiff, true);
    Context(ImageOf(job));
    ExportOutput output(ExportFormat::GeoTiff);
    ASSERT_TRUE(Write(output));
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statuses.first(), "Exportando Prueba.tif (GeoTIFF): 0 %");
    EXPECT_EQ(statuses.last(), "Exportado Prueba.tif.");
    for (const QString& text : statuses.mid(1, statuses.size() - 2)) {
        EXPECT_TRUE(text.startsWith("Exportando Prueba.tif (GeoTIFF): ")) << text.toStdString();
    }
    EXPECT_EQ(log, QStringList{". Exportado Prueba.tif (GeoTIFF, ED50 / UTM 30N)"});
    EXPECT_EQ(outcome.exportsWritten, QList<ExportFormat>{ExportFormat::GeoTiff});
    EXPECT_EQ(context->written, QStringList{"Prueba.tif"});
    EXPECT_EQ(entries(), QStringList{"Prueba.tif"});
}

// A folder where the file goes: the export fails with its reason, in the log and a box,
// counts as a failed write, and leaves nothing of its own.
TEST_F(OutputTest, AnExportThatCannotBeWrittenIsAnError) {
    job.setExport(ExportFormat::GeoPackage, true);
    ASSERT_TRUE(QDir(dir.path()).mkdir("Prueba.gpkg"));
    Context(ImageOf(job));
    ExportOutput output(ExportFormat::GeoPackage);
    ASSERT_TRUE(Write(output));
    EXPECT_TRUE(outcome.writeFailed);
    EXPECT_TRUE(outcome.exportsWritten.isEmpty());
    EXPECT_EQ(statuses.last(), "No se ha podido exportar Prueba.gpkg.");
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith(". No se ha podido exportar Prueba.gpkg: "))
        << log[0].toStdString();
    EXPECT_GT(log[0].size(), QString(". No se ha podido exportar Prueba.gpkg: ").size());
    ASSERT_EQ(questions.errors.size(), 1);
    EXPECT_TRUE(questions.errors[0].startsWith(
        "No se ha podido exportar " + QDir::toNativeSeparators(path("Prueba.gpkg")) + ": "));
    ExportWorkPool()->waitForDone();
    EXPECT_EQ(entries(), QStringList{"Prueba.gpkg"});
    EXPECT_TRUE(QFileInfo(path("Prueba.gpkg")).isDir());
}

// A stop gives the export up at once: `done` never comes, and once the exports' thread is
// through nothing of the export is left, whether it had begun or not.
TEST_F(OutputTest, AStoppedExportLeavesNothing) {
    job = JobOf(6, 6);
    job.setExport(ExportFormat::MbTiles, true);
    for (const int waitForPercent : {-1, 1}) {
        statuses.clear();
        Context(ImageOf(job));
        auto done = std::make_shared<bool>(false);
        ExportOutput output(ExportFormat::MbTiles);
        output.write(*context, [done] { *done = true; });
        if (waitForPercent > 0) {
            ASSERT_TRUE(QTest::qWaitFor([this] { return statuses.size() > 1; }, 60000));
            EXPECT_TRUE(statuses.last().startsWith("Exportando Prueba.mbtiles (MBTiles): "));
        }
        EXPECT_EQ(output.stop(), RunOutput::StopResult::Abandoned);
        const qsizetype told = statuses.size();
        ExportWorkPool()->waitForDone();
        QTest::qWait(50); // any answer that was coming would have come
        EXPECT_FALSE(*done) << waitForPercent;
        EXPECT_EQ(statuses.size(), told) << waitForPercent;
        EXPECT_EQ(entries(), QStringList()) << waitForPercent;
        // Only the datum change it was to be moved with.
        ASSERT_EQ(log.size(), 1) << waitForPercent;
        EXPECT_TRUE(log[0].startsWith(QString::fromUtf8(". Exportación a WGS 84: ")));
        log.clear();
    }
}

// Exports come only from an image of every tile, said once for all of them; once a stop has
// come they are left out, which the run must know.
TEST_F(OutputTest, ExportsNeedAWholeImageAndAreLeftOutOnceStopping) {
    job.setExport(ExportFormat::GeoTiff, true);
    job.setExport(ExportFormat::GarminKmz, true);
    for (const bool stopping : {false, true}) {
        log.clear();
        Context(stopping ? ImageOf(job) : QImage());
        context->stopping = stopping;
        for (const ExportFormat format : kExportFormats) {
            ExportOutput output(format);
            ASSERT_TRUE(Write(output));
        }
        EXPECT_EQ(context->skippedByStop, stopping);
        EXPECT_EQ(log, stopping ? QStringList()
                                : QStringList{". Exportación no generada: no se descargaron "
                                              "todos los mosaicos"});
        EXPECT_EQ(entries(), QStringList());
    }
}

// Where no operation covers the area (the grid's numbers in the Gulf of Guinea) the moved
// exports and the PDF with its ETRS89 grid fail with the reason, and nothing names an
// operation.
TEST_F(OutputTest, AMovedExportWithoutADatumChangeIsAnError) {
    for (const ExportFormat format : {ExportFormat::MbTiles, ExportFormat::PrintPdf}) {
        const QString name = ExportFileName(format, QStringLiteral("Prueba"));
        SCOPED_TRACE(name.toStdString());
        job = JobOf(2, 1);
        job.northingField = -3000000;
        job.cornerNorthingField = job.northingField - job.heightMetres;
        job.setExport(format, true);
        outcome = RunOutcome{};
        log.clear();
        questions.errors.clear();
        Context(ImageOf(job));
        ExportOutput output(format);
        ASSERT_TRUE(Write(output));
        EXPECT_TRUE(outcome.writeFailed);
        ASSERT_EQ(log.size(), 1);
        EXPECT_TRUE(log[0].startsWith(QStringLiteral(". No se ha podido exportar %1: ").arg(name)))
            << log[0].toStdString();
        EXPECT_EQ(log[0].mid(log[0].indexOf(": ") + 2), context->datumChoice().reason);
        EXPECT_EQ(questions.errors.size(), 1);
        EXPECT_EQ(entries(), QStringList());
    }
}

} // namespace
