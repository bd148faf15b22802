// A set of sheets run as one job against a map server on 127.0.0.1: the sheets one after
// another, each in its own folder as a run of its own; the index and the overview; a stop
// and a resume that fetches only what is missing; failed tiles of every sheet tried again.
#include "geo/SheetIndex.h"
#include "run/FolderLock.h"
#include "run/SheetSetRun.h"
#include "tests/run/RunTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTest>

#include <set>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Fault = TestMapServer::Fault;

struct SetReport {
    QStringList log;
    QStringList statuses;
    std::vector<int> progress;
    int range = 0;
    QList<int> started; // sheet numbers, in the order their runs began
    RunOutcome outcome;
    SheetSetRun::Totals totals;
    SheetSetRun::StartResult result = SheetSetRun::StartResult::NoTiles;
    bool cancelled = false; // the question about the sheets' files refused
};

class SheetSetTest : public RunTest {
protected:
    // 21 x 1 tiles of 5 km from 585000 / 4730000: Prueba_01, Prueba_02 and Prueba_03 of
    // seven tiles each, each with its BMP and world file.
    void SetUp() override {
        RunTest::SetUp();
        source.box = {585000, 4725000, 690000, 4730000};
        const SheetCut cut = source.cut(5000, QStringLiteral("Prueba"));
        ASSERT_TRUE(cut.set) << cut.message.toStdString();
        set = *cut.set;
        ASSERT_EQ(set.sheets.size(), 3u);
    }

    DownloadJob SetJob(const QString& folder = {}) const {
        DownloadJob job = Job(1, 1, folder);
        job.saveWorldFile = true;
        return job;
    }

    SetReport RunSet(const QString& folder, ResumePolicy policy,
                     const std::function<void(SheetSetRun&)>& during = {}) {
        SetReport report;
        SheetSetRun run(SetJob(folder), set, source, &manager, questions);
        run.setFetchLimits(QuickFetchLimits());
        run.setConnections(1);
        run.setResumePolicy(policy);
        QObject::connect(&run, &SheetSetRun::logEvent,
                         [&report](const QString& m) { report.log << m; });
        QObject::connect(&run, &SheetSetRun::statusText,
                         [&report](const QString& t) { report.statuses << t; });
        QObject::connect(&run, &SheetSetRun::progressRange,
                         [&report](int maximum) { report.range = maximum; });
        QObject::connect(&run, &SheetSetRun::progress,
                         [&report](int v) { report.progress.push_back(v); });
        QObject::connect(&run, &SheetSetRun::sheetStarted, [&report](int number, int count) {
            EXPECT_EQ(count, 3);
            report.started << number;
        });
        QObject::connect(&run, &SheetSetRun::finished,
                         [&report](const RunOutcome& o) { report.outcome = o; });
        QSignalSpy done(&run, &SheetSetRun::finished);
        QSignalSpy cancelled(&run, &SheetSetRun::cancelled);
        report.result = run.start();
        if (report.result == SheetSetRun::StartResult::Started) {
            if (during) {
                during(run);
            }
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return !done.isEmpty() || !cancelled.isEmpty(); }, 60000));
        }
        report.cancelled = !cancelled.isEmpty();
        report.totals = run.totals();
        return report;
    }

    // The sheet (1..3) a request was for, by its western edge.
    int SheetOf(const QString& target) const {
        const int xmin = ParseMapTileQuery(target.toLatin1()).xminKey;
        for (const Sheet& s : set.sheets) {
            if (xmin >= s.easting && xmin < s.easting + s.across * s.tileSize) {
                return s.number;
            }
        }
        return 0;
    }
    QList<int> SheetsAsked(qsizetype from = 0) const {
        QList<int> out;
        const QStringList all = server.requests();
        for (qsizetype i = from; i < all.size(); ++i) {
            out << SheetOf(all[i]);
        }
        return out;
    }
    // The tiles asked for, as (sheet, column), each once.
    std::set<std::pair<int, int>> TilesAsked(qsizetype from) const {
        std::set<std::pair<int, int>> asked;
        const QStringList all = server.requests();
        for (qsizetype i = from; i < all.size(); ++i) {
            const int sheet = SheetOf(all[i]);
            const int xmin = ParseMapTileQuery(all[i].toLatin1()).xminKey;
            asked.insert({sheet, (xmin - set.sheets[size_t(sheet - 1)].easting) / 5000 + 1});
        }
        return asked;
    }
    QString SheetFile(const QString& folder, int number, const QString& name) const {
        const QString sheet = QStringLiteral("Prueba_%1").arg(number, 2, 10, QChar(u'0'));
        return QDir(folder).filePath(sheet + u'/' + name);
    }
    QString Bmp(const QString& folder, int number) const {
        return SheetFile(folder, number,
                         QStringLiteral("Prueba_%1.bmp").arg(number, 2, 10, QChar(u'0')));
    }
    // The colour of tile `column` of sheet `number` in the overview, a quarter into the
    // tile: away from the outline and from the number in the sheet's middle.
    QColor OverviewColour(const QImage& overview, int number, int column) const {
        const Sheet& s = set.sheets[size_t(number - 1)];
        const double scale = SheetOverviewScale(set.extent());
        const double x = s.easting + (column - 0.75) * s.tileSize - set.extent().west;
        return overview.pixelColor(int(x / scale), int(s.tileSize / 4 / scale));
    }
    QColor TileColourOf(int number, int column) const {
        const Sheet& s = set.sheets[size_t(number - 1)];
        return TestMapServer::TileColour(s.easting + (column - 1) * s.tileSize,
                                         s.northing - kNorthingOffset - s.tileSize);
    }

    SheetSource source;
    SheetSet set;
};

bool Near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 12 && std::abs(a.green() - b.green()) <= 12 &&
           std::abs(a.blue() - b.blue()) <= 12;
}

TEST_F(SheetSetTest, SheetsRunOneAfterAnotherEachInItsFolderWithTheIndexAndOverview) {
    const SetReport r = RunSet(dir.path(), ResumePolicy::Ask);
    EXPECT_EQ(r.result, SheetSetRun::StartResult::Started);
    EXPECT_FALSE(r.outcome.anyFailed || r.outcome.stopped || r.outcome.writeFailed ||
                 r.outcome.recordKept);
    EXPECT_TRUE(r.outcome.bmpSaved);
    EXPECT_EQ(r.outcome.calibrationsWritten,
              QList<CalibrationFormat>{CalibrationFormat::WorldFile});
    EXPECT_EQ(r.started, (QList<int>{1, 2, 3}));
    EXPECT_EQ(r.totals.finished, 3);
    EXPECT_EQ(r.totals.fetched, 21);
    EXPECT_TRUE(questions.resumes.isEmpty());
    EXPECT_TRUE(questions.overwrites.isEmpty());
    // Every request of a sheet before any of the next.
    const QList<int> asked = SheetsAsked();
    EXPECT_EQ(asked.size(), 21);
    EXPECT_TRUE(std::is_sorted(asked.begin(), asked.end()));
    EXPECT_EQ(asked.count(3), 7);

    // The bar over the whole set, the status bar naming the sheet.
    EXPECT_EQ(r.range, 21);
    EXPECT_TRUE(std::is_sorted(r.progress.begin(), r.progress.end()));
    EXPECT_EQ(r.progress.back(), 21);
    EXPECT_TRUE(r.statuses.contains("Hoja 2 de 3: Descargando mosaico A01.jpg"));
    EXPECT_TRUE(r.statuses.contains("Hoja 3 de 3: Fichero BMP grabado."));
    EXPECT_EQ(r.log.front(), ". Comienzo de la descarga de 3 hojas: Prueba_01 … Prueba_03");
    const qsizetype second = r.log.indexOf(". Hoja 2 de 3: Prueba_02");
    ASSERT_GT(second, 0);
    EXPECT_EQ(r.log.mid(second + 1, 3),
              (QStringList{". Comienzo de la descarga", ". Descargado mosaico A01.jpg",
                           ". Descargado mosaico A02.jpg"}));
    EXPECT_EQ(r.log.mid(r.log.size() - 3),
              (QStringList{". Fin de la descarga en hojas: 3 de 3 hojas terminadas",
                           ". Índice de las hojas grabado: Prueba_hojas.kml, Prueba_hojas.geojson",
                           ". Vista general de las hojas grabada: Prueba_hojas.png"}));

    // Each sheet is a run of its own in its own folder; the set's files beside them.
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
              (QStringList{"Prueba.morvel", "Prueba_01", "Prueba_02", "Prueba_03",
                           "Prueba_hojas.geojson", "Prueba_hojas.kml", "Prueba_hojas.png"}));
    EXPECT_EQ(
        files(QDir(dir.path()).filePath("Prueba_03")),
        (QStringList{"A01.jpg", "A02.jpg", "A03.jpg", "A04.jpg", "A05.jpg", "A06.jpg", "A07.jpg",
                     "Prueba_03.bmp", "Prueba_03.bmp.aux.xml", "Prueba_03.bpw", "Prueba_03.prj"}));
    EXPECT_EQ(files(QDir(dir.path()).filePath("Prueba_02")).size(), 11);
    EXPECT_EQ(QImage(Bmp(dir.path(), 2)).size(), QSize(2800, 400));
    const QByteArray index = ReadAll(path("Prueba_hojas.geojson"));
    for (const char* name : {"Prueba_02/Prueba_02.bmp", "Prueba_02/Prueba_02.bpw",
                             "Prueba_03/Prueba_03.bmp.aux.xml"}) {
        EXPECT_TRUE(index.contains(name)) << name;
    }

    // The overview shows every sheet's tiles where they lie.
    const QImage overview(path("Prueba_hojas.png"));
    ASSERT_EQ(overview.width(), kSheetOverviewSide);
    for (const auto& [number, column] : {std::pair{1, 3}, {2, 2}, {2, 7}, {3, 1}}) {
        EXPECT_TRUE(Near(OverviewColour(overview, number, column), TileColourOf(number, column)))
            << number << " " << column;
    }

    // The record stays with every sheet finished: the same sheets again fetch nothing, and
    // write the index and the overview again.
    ASSERT_TRUE(QFile::remove(path("Prueba_hojas.kml")));
    const SetReport again = RunSet(dir.path(), ResumePolicy::Ask);
    EXPECT_EQ(questions.resumes,
              QStringList{"Continuar la descarga|Estas mismas hojas ya se descargaron todas (3). "
                          "¿ Conservarlas sin volver a pedirlas ? (Cancelar las descarga de "
                          "nuevo)"});
    EXPECT_EQ(server.requests().size(), 21);
    EXPECT_TRUE(again.started.isEmpty());
    EXPECT_FALSE(again.outcome.anyFailed || again.outcome.recordKept);
    EXPECT_TRUE(again.outcome.bmpSaved);
    EXPECT_EQ(again.totals.fetched, 21);
    EXPECT_TRUE(QFileInfo::exists(path("Prueba_hojas.kml")));
    EXPECT_EQ(again.progress, (std::vector<int>{21}));
}

// Stopped three tiles into the second sheet, the set keeps its record; the next run asks
// whether to go on, fetches nothing of the first sheet and only what the second lacks, and
// makes the very BMPs of a set never stopped.
TEST_F(SheetSetTest, AStopInTheSecondSheetResumesWhereItWas) {
    QTemporaryDir whole;
    ASSERT_EQ(RunSet(whole.path(), ResumePolicy::Never).totals.finished, 3);

    const SetReport stopped = RunSet(dir.path(), ResumePolicy::Ask, [](SheetSetRun& run) {
        QObject::connect(&run, &SheetSetRun::progress, &run, [&run](int value) {
            if (value == 10) {
                run.stop();
            }
        });
    });
    EXPECT_TRUE(stopped.outcome.stopped);
    EXPECT_TRUE(stopped.outcome.recordKept);
    EXPECT_EQ(stopped.totals.finished, 1);
    EXPECT_EQ(stopped.totals.unfinished, (QStringList{"Prueba_02", "Prueba_03"}));
    EXPECT_EQ(stopped.log.back(), ". Descarga detenida por el usuario");
    EXPECT_TRUE(QFileInfo::exists(Bmp(dir.path(), 1)));
    EXPECT_FALSE(QFileInfo::exists(Bmp(dir.path(), 2)));
    const std::optional<SheetSetRecord> record = LoadSheetSetRecord(path("Prueba.morvel"));
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->sheets[0].finished);
    EXPECT_FALSE(record->sheets[1].finished);
    const int kept = record->sheets[1].record.vouched();
    EXPECT_GE(kept, 3);
    EXPECT_FALSE(QFileInfo::exists(path(FolderLock::FileName())));

    const qsizetype resumedFrom = server.requests().size();
    const SetReport resumed = RunSet(dir.path(), ResumePolicy::Ask);
    ASSERT_EQ(questions.resumes.size(), 1);
    EXPECT_EQ(questions.resumes[0],
              QStringLiteral("Continuar la descarga|Hay una descarga sin terminar de estas mismas "
                             "hojas, con 1 de 3 hojas terminadas y %1 mosaicos descargados de las "
                             "demás. ¿ Continuar con lo ya descargado ?")
                  .arg(kept));
    EXPECT_EQ(resumed.started, (QList<int>{2, 3}));
    EXPECT_TRUE(resumed.log.contains(". Hojas ya terminadas: 1 de 3"));
    // The tiles asked for: those of the second sheet the record did not have, and the
    // third's. (A request the stop abandoned may still reach the server meanwhile: it is
    // one of those, as only a tile that came is recorded.)
    std::set<std::pair<int, int>> missing;
    for (int column = 1; column <= 7; ++column) {
        missing.insert({3, column});
        if (!record->sheets[1].record.vouchesFor(column, 1)) {
            missing.insert({2, column});
        }
    }
    EXPECT_EQ(TilesAsked(resumedFrom), missing);
    EXPECT_EQ(resumed.log.filter(". Reutilizado mosaico ").size(), kept);
    EXPECT_EQ(resumed.progress.front(), 7);
    EXPECT_EQ(resumed.progress.back(), 21);
    EXPECT_FALSE(resumed.outcome.recordKept);
    const std::optional<SheetSetRecord> done = LoadSheetSetRecord(path("Prueba.morvel"));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->finishedCount(), 3);
    for (int number = 1; number <= 3; ++number) {
        EXPECT_EQ(ReadAll(Bmp(dir.path(), number)), ReadAll(Bmp(whole.path(), number))) << number;
    }
    // The first sheet's piece of the overview read back from its BMP.
    const QImage overview(path("Prueba_hojas.png"));
    EXPECT_TRUE(Near(OverviewColour(overview, 1, 4), TileColourOf(1, 4)));
}

TEST_F(SheetSetTest, AResumeRefusedStartsTheSetAfresh) {
    const SetReport stopped = RunSet(dir.path(), ResumePolicy::Ask, [](SheetSetRun& run) {
        QObject::connect(&run, &SheetSetRun::progress, &run, [&run](int value) {
            if (value == 12) {
                run.stop();
            }
        });
    });
    ASSERT_TRUE(stopped.outcome.stopped);
    questions.resume = false;
    // The sheets' files are there: one question for all of them.
    questions.overwrite = true;
    const qsizetype from = server.requests().size();
    const SetReport again = RunSet(dir.path(), ResumePolicy::Ask);
    EXPECT_EQ(questions.resumes.size(), 1);
    EXPECT_EQ(questions.overwrites,
              QStringList{"Ya existen ficheros de la hoja Prueba_01. ¿ Sobreescribir ?"});
    EXPECT_EQ(again.started, (QList<int>{1, 2, 3}));
    // Every tile again (a request the stop abandoned may reach the server meanwhile).
    EXPECT_EQ(TilesAsked(from).size(), 21u);
    EXPECT_EQ(again.totals.finished, 3);
}

// A tile failing in the first and in the last sheet: the second is finished between them;
// the next run (as "Reintentar los fallidos" starts it) asks only for those two tiles.
TEST_F(SheetSetTest, FailedTilesOfEverySheetAreTriedAgainTogether) {
    const DownloadJob first = SheetJob(SetJob(), set.sheets[0]);
    const DownloadJob last = SheetJob(SetJob(), set.sheets[2]);
    setFault(first, 4, 1, Fault::Http500);
    setFault(last, 1, 1, Fault::Http404);
    const SetReport failed = RunSet(dir.path(), ResumePolicy::Ask);
    EXPECT_TRUE(failed.outcome.anyFailed);
    EXPECT_FALSE(failed.outcome.stopped || failed.outcome.writeFailed);
    EXPECT_TRUE(failed.outcome.recordKept);
    EXPECT_FALSE(failed.outcome.bmpSaved);
    EXPECT_EQ(failed.started, (QList<int>{1, 2, 3}));
    EXPECT_EQ(failed.totals.finished, 1);
    EXPECT_EQ(failed.totals.failed, 2);
    EXPECT_EQ(failed.totals.fetched, 19);
    EXPECT_EQ(failed.totals.unfinished, (QStringList{"Prueba_01", "Prueba_03"}));
    EXPECT_FALSE(QFileInfo::exists(Bmp(dir.path(), 1)));
    EXPECT_TRUE(QFileInfo::exists(Bmp(dir.path(), 2)));
    // The index is there all the same, and the overview with the finished sheet.
    EXPECT_TRUE(QFileInfo::exists(path("Prueba_hojas.kml")));
    const QImage partial(path("Prueba_hojas.png"));
    EXPECT_TRUE(Near(OverviewColour(partial, 2, 5), TileColourOf(2, 5)));
    EXPECT_EQ(OverviewColour(partial, 1, 5), QColor(Qt::white));

    server.clearFaults();
    const qsizetype from = server.requests().size();
    const SetReport retried = RunSet(dir.path(), ResumePolicy::Always);
    EXPECT_TRUE(questions.resumes.isEmpty());
    EXPECT_EQ(SheetsAsked(from), (QList<int>{1, 3}));
    EXPECT_EQ(requestsFor(first, 4, 1), FetchLimits::kAttempts + 1);
    EXPECT_EQ(retried.started, (QList<int>{1, 3}));
    EXPECT_FALSE(retried.outcome.anyFailed || retried.outcome.recordKept);
    EXPECT_EQ(retried.totals.finished, 3);
    EXPECT_TRUE(retried.log.contains(". Reutilizado mosaico A01.jpg"));
    // The second sheet, finished before, read back from its BMP for the overview.
    const QImage overview(path("Prueba_hojas.png"));
    for (const auto& [number, column] : {std::pair{1, 4}, {2, 5}, {3, 1}}) {
        EXPECT_TRUE(Near(OverviewColour(overview, number, column), TileColourOf(number, column)))
            << number << " " << column;
    }
}

TEST_F(SheetSetTest, ASheetsFilesAreReplacedOnlyOnceAskedAndTheFolderIsTheSets) {
    ASSERT_TRUE(QDir(dir.path()).mkpath("Prueba_02"));
    WriteAll(Bmp(dir.path(), 2), "old");
    questions.overwrite = false;
    const SetReport refused = RunSet(dir.path(), ResumePolicy::Ask);
    EXPECT_TRUE(refused.cancelled);
    EXPECT_FALSE(refused.outcome.stopped);
    EXPECT_EQ(questions.overwrites,
              QStringList{"Ya existen ficheros de la hoja Prueba_02. ¿ Sobreescribir ?"});
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(ReadAll(Bmp(dir.path(), 2)), "old");
    EXPECT_FALSE(QFileInfo::exists(path("Prueba.morvel")));

    // Another run holding the destination folder keeps the set out.
    FolderLock other;
    ASSERT_EQ(other.tryLock(dir.path()), FolderLock::Result::Held);
    const SetReport busy = RunSet(dir.path(), ResumePolicy::Ask);
    EXPECT_EQ(busy.result, SheetSetRun::StartResult::FolderBusy);
    ASSERT_EQ(questions.messages.size(), 1);
    EXPECT_TRUE(questions.messages[0].startsWith("Otra descarga está en curso en la carpeta"));
    EXPECT_TRUE(server.requests().isEmpty());
}

} // namespace
