// The outputs a run ends with, each on its own: given a job, an image and what was written
// before them, the files they leave and the lines they say.
#include "exports/MapExport.h"
#include "geo/DatumChange.h"
#include "job/SheetCut.h"
#include "run/CalibrationOutput.h"
#include "run/ExportOutput.h"
#include "run/OutputNames.h"
#include "run/RunOutputs.h"
#include "run/StaleGeoreferenceOutput.h"
#include "run/TileCleanupOutput.h"
#include "tests/run/RunTestSupport.h"

#include <QFileInfo>
#include <QTest>
#include <QThreadPool>

#include <functional>
#include <iostream>
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

// Files that fail for one cause are told once the outputs are over, in one box that names
// them all, with the cause as the log gives it for each; a file failing for a cause of its
// own keeps its own box. A full or read-only disk made five boxes in a row before.
TEST_F(OutputTest, FilesThatFailForOneCauseAreToldInOneBox) {
    const QString all =
        "Prueba.bmp, Prueba.tif, Prueba.gpkg, Prueba.mbtiles, Prueba.kmz y Prueba.pdf";
    std::unique_ptr<ScratchDisk> disk;
    const auto onDisk = [&](qint64 bytes, const std::function<bool()>& then) {
        return [&, bytes, then](DownloadJob& j) {
            disk = std::make_unique<ScratchDisk>(bytes);
            j.folder = disk->path();
            return disk->active() && then();
        };
    };
    const struct {
        const char* what;
        std::function<bool(DownloadJob&)> make; // false when this system cannot
        QStringList boxes;                      // "%1" is the folder
        std::function<void(BmpCommitStep)> hook = {};
    } table[] = {
        {"a read-only disk",
         onDisk(1 << 20, [&] { return disk->makeReadOnly(); }),
         {"No se han podido grabar " + all + " en la carpeta %1: la carpeta es de solo lectura"}},
        {"a full disk",
         onDisk(4 << 20, [&] { return disk->fill(0); }),
         {"No se han podido grabar " + all + " en la carpeta %1: disco lleno"}},
        // The BMP is in place; what comes after it finds no room.
        {"a disk full after the BMP",
         onDisk(4 << 20, [] { return true; }),
         {"No se han podido grabar Prueba.tif, Prueba.gpkg, Prueba.mbtiles, Prueba.kmz, "
          "Prueba.pdf, Prueba.map, Prueba.imp y Prueba.bpw en la carpeta %1: disco lleno"},
         [&](BmpCommitStep step) {
             if (step == BmpCommitStep::Renaming) {
                 disk->fill(0);
             }
         }},
        // In the Gulf of Guinea no datum change moves the area to WGS 84.
        {"two causes",
         [this](DownloadJob& j) {
             j.northingField = -3000000;
             j.cornerNorthingField = j.northingField - j.heightMetres;
             return QDir(dir.path()).mkdir("Prueba.gpkg");
         },
         {"No se ha podido exportar %1/Prueba.gpkg: ya existe una carpeta con ese nombre",
          "No se han podido grabar Prueba.mbtiles, Prueba.kmz y Prueba.pdf en la carpeta %1: "
          "ninguna transformación de ED50 a ETRS89 cubre la zona"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        QDir(dir.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir.path()));
        job = JobOf(2, 1);
        job.saveBmp = job.saveOzi = job.saveCompe = job.saveWorldFile = true;
        for (const ExportFormat format : kExportFormats) {
            job.setExport(format, true);
        }
        if (!row.make(job)) {
            std::cout << "skipped: " << row.what << " cannot be made here\n";
            continue;
        }
        outcome = RunOutcome{};
        questions = RecordingQuestions{};
        log.clear();
        RunOutputs outputs(job, ImageOf(job), 0, outcome, questions, row.hook);
        bool finished = false;
        QObject::connect(&outputs, &RunOutputs::finished, [&] { finished = true; });
        QObject::connect(&outputs, &RunOutputs::logEvent, [&](const QString& l) { log << l; });
        outputs.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 120000));
        QStringList boxes;
        for (const QString& box : row.boxes) {
            boxes << box.arg(QDir::toNativeSeparators(job.folder));
        }
        EXPECT_EQ(questions.errors + questions.messages, boxes);
        EXPECT_TRUE(outcome.writeFailed);
        // The log names every file with its cause, as the box does.
        for (const QString& line : log.filter(". No se ha podido")) {
            EXPECT_TRUE(boxes.join(u' ').contains(line.mid(line.lastIndexOf(": ") + 2)))
                << line.toStdString();
        }
        disk.reset();
    }
}

// A stop while the box of the files not written is open (the window closed, a signal) waits
// for the box: every file is done. A stop for an abort ends the outputs without a word more.
TEST_F(OutputTest, AStopWhileTheFailuresAreToldLetsTheBoxEnd) {
    class StoppingQuestions : public RecordingQuestions {
    public:
        std::function<void()> onError;
        void error(const QString& text) override {
            RecordingQuestions::error(text);
            onError();
        }
    };
    for (const bool unattended : {false, true}) {
        SCOPED_TRACE(unattended ? "aborted" : "stopped");
        job = JobOf(2, 1);
        job.setExport(ExportFormat::GeoTiff, true);
        job.setExport(ExportFormat::GeoPackage, true);
        ASSERT_TRUE(QDir(dir.path()).mkpath("Prueba.tif") &&
                    QDir(dir.path()).mkpath("Prueba.gpkg"));
        outcome = RunOutcome{};
        StoppingQuestions asked;
        RunOutputs outputs(job, ImageOf(job), 0, outcome, asked);
        bool stopAnswer = !unattended;
        asked.onError = [&] {
            stopAnswer = outputs.stop(QStringLiteral("el usuario"), unattended);
        };
        int finished = 0;
        QObject::connect(&outputs, &RunOutputs::finished, [&] { ++finished; });
        outputs.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !asked.errors.isEmpty(); }, 60000));
        QTest::qWait(50); // a second box or a second end would have come
        EXPECT_EQ(asked.errors.size(), 1);
        EXPECT_EQ(stopAnswer, !unattended);
        EXPECT_EQ(finished, unattended ? 0 : 1);
        EXPECT_FALSE(outcome.stopped);
        QDir(dir.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir.path()));
    }
}

// The longest name the check lets through is one every output writes: a run asked for
// everything writes every file with it, and one character more is refused, saying how many
// fit.
TEST_F(OutputTest, TheLongestNameTheCheckAdmitsIsWrittenByEveryOutput) {
    job.saveBmp = job.saveOzi = job.saveCompe = job.saveWorldFile = true;
    for (const ExportFormat format : kExportFormats) {
        job.setExport(format, true);
    }
    int longest = 0;
    for (int length = 300; length > 0 && longest == 0; --length) {
        job.bmpName = QString(length, u'n');
        longest = RunNamesProblem(job) ? 0 : length;
    }
    // A name takes 255 bytes here; the longest one written is the journal of the MBTiles's
    // file of partial tiles, ".<name>-<eight>.partial_tiles.db-journal".
    EXPECT_EQ(longest, 255 - 35);
    job.bmpName = QString(longest + 1, u'n');
    EXPECT_EQ(RunNamesProblem(job),
              QStringLiteral("El nombre del fichero BMP es demasiado largo para la carpeta "
                             "destino: con los ficheros que se van a grabar, admite hasta %1 "
                             "caracteres")
                  .arg(longest));

    job.bmpName = QString(longest, u'n');
    RunOutputs outputs(job, ImageOf(job), 0, outcome, questions);
    bool finished = false;
    QObject::connect(&outputs, &RunOutputs::finished, [&] { finished = true; });
    outputs.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 120000));
    EXPECT_EQ(questions.errors + questions.messages, QStringList());
    EXPECT_FALSE(outcome.writeFailed);
    EXPECT_TRUE(outcome.bmpSaved);
    EXPECT_EQ(outcome.exportsWritten.size(), kExportFormats.size());
    EXPECT_EQ(outcome.calibrationsWritten.size(), 3);
}

// What the check counts: the files asked for, a set's sheet folders and the sheets' longer
// names, and the folder's own path.
TEST_F(OutputTest, TheNameCheckCountsWhatIsAskedForAndWhere) {
    // A folder whose path leaves about 120 bytes for what is made in it.
    QString deep = dir.path();
    while (deep.size() < 4095 - 120 - 200) {
        deep += u'/' + QString(200, u'd');
    }
    deep += u'/' + QString(4095 - 120 - deep.size() - 1, u'd');
    ASSERT_TRUE(QDir().mkpath(deep));
    const auto sheets = [](const QString& name, int count) {
        SheetSet set;
        set.name = name;
        set.sheets.resize(static_cast<size_t>(count));
        return set;
    };
    const struct {
        const char* what;
        bool bmp, worldFile, geoTiff;
        int sheets; // 0: one run
        QString folder;
        int fitting; // 0: the folder's path is too long for anything
    } table[] = {
        // ".<name>.morvel.<eight>", the record.
        {"a BMP", true, false, false, 0, dir.path(), 255 - 16},
        // ".<name>-<eight>.tif.ovr.tmp.aux", GDAL's of the temporary file.
        {"a GeoTIFF", false, false, true, 0, dir.path(), 255 - 26},
        {"12 sheets of GeoTIFF", false, false, true, 12, dir.path(), 255 - 26 - 3},
        // "/<name>_01/<name>_01.bmp.<eight>": the name twice.
        {"sheets deep down", true, false, false, 12, deep, (120 - 1 - 3 - 1 - 3 - 13) / 2},
        {"a folder too deep", true, false, false, 0, deep + u'/' + QString(110, u'd'), 0},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(QDir().mkpath(row.folder));
        job.folder = row.folder;
        job.saveBmp = row.bmp;
        job.saveWorldFile = row.worldFile;
        job.setExport(ExportFormat::GeoTiff, row.geoTiff);
        const auto problem = [&](int length) {
            job.bmpName = QString(length, u'n');
            return row.sheets > 0 ? SheetNamesProblem(job, sheets(job.bmpName, row.sheets))
                                  : RunNamesProblem(job);
        };
        if (row.fitting == 0) {
            EXPECT_EQ(problem(1), QStringLiteral("La ruta de la carpeta destino %1 es demasiado "
                                                 "larga para grabar en ella")
                                      .arg(row.folder));
            continue;
        }
        EXPECT_EQ(problem(row.fitting), std::nullopt);
        const std::optional<QString> refused = problem(row.fitting + 1);
        ASSERT_TRUE(refused.has_value());
        EXPECT_TRUE(
            refused->endsWith(QStringLiteral("admite hasta %1 caracteres").arg(row.fitting)))
            << refused->toStdString();
        EXPECT_EQ(refused->contains(QStringLiteral("con las hojas")), row.sheets > 0);
    }
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
    EXPECT_EQ(questions.errors.size(), 0); // told once the outputs are over
    context->tellFailedFiles();
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
        // The datum change it was to be moved with, and the export given up.
        ASSERT_EQ(log.size(), 2) << waitForPercent;
        EXPECT_TRUE(log[0].startsWith(QString::fromUtf8(". Exportación a WGS 84: ")));
        EXPECT_EQ(log[1], QString::fromUtf8(". Exportación de Prueba.mbtiles detenida: no se ha "
                                            "grabado"));
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
        context->tellFailedFiles();
        EXPECT_EQ(questions.errors.size(), 1);
        EXPECT_EQ(entries(), QStringList());
    }
}

} // namespace
