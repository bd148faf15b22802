// A set of sheets run as one job against a map server on 127.0.0.1: the sheets one after
// another, each in its own folder as a run of its own; the index and the overview; a stop
// and a resume that fetches only what is missing; failed tiles of every sheet tried again.
#include "geo/SheetIndex.h"
#include "run/FolderLock.h"
#include "run/SheetSetRun.h"
#include "tests/run/RunTestSupport.h"

#include "run/ExportOutput.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <set>

#include <sys/stat.h>

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

    // Runs the fixture's set, or `other` with its source; `adjust` changes the job first.
    SetReport RunSet(const QString& folder, ResumePolicy policy,
                     const std::function<void(SheetSetRun&)>& during = {},
                     const std::function<void(DownloadJob&)>& adjust = {},
                     const SheetSet* other = nullptr) {
        SetReport report;
        DownloadJob job = SetJob(folder);
        if (adjust) {
            adjust(job);
        }
        const SheetSet& which = other ? *other : set;
        SheetSetRun run(job, which, source, &manager, questions);
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
        QObject::connect(&run, &SheetSetRun::sheetStarted,
                         [&report, &which](int number, int count) {
                             EXPECT_EQ(count, int(which.sheets.size()));
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
                          "¿Conservarlas sin volver a pedirlas? (Cancelar las descarga de "
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
                             "demás. ¿Continuar con lo ya descargado?")
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
              QStringList{"Ya existen ficheros de la hoja Prueba_01. ¿Sobreescribir?"});
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

// The set asks before touching its folder, as one run does.
TEST_F(SheetSetTest, ASheetsFilesAreReplacedOnlyOnceAskedAndTheFolderIsTheSets) {
    ASSERT_TRUE(QDir(dir.path()).mkpath("Prueba_02"));
    WriteAll(Bmp(dir.path(), 2), "old");
    questions.overwrite = false;
    const SetReport refused = RunSet(dir.path(), ResumePolicy::Ask);
    EXPECT_TRUE(refused.cancelled);
    EXPECT_FALSE(refused.outcome.stopped);
    EXPECT_EQ(questions.overwrites,
              QStringList{"Ya existen ficheros de la hoja Prueba_02. ¿Sobreescribir?"});
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
    other.unlock();

    // A destination folder that is not there: no set unless the user wants it made.
    const QString missing = QDir(dir.path()).filePath("nueva/serie");
    questions.missingFolderAnswer = RunQuestions::MissingFolder::Cancel;
    const SetReport none = RunSet(missing, ResumePolicy::Ask);
    EXPECT_EQ(none.result, SheetSetRun::StartResult::Cancelled);
    EXPECT_EQ(questions.missingFolders, QStringList{QDir::toNativeSeparators(missing) + u'|' +
                                                    QDir::toNativeSeparators(QDir::currentPath())});
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(server.requests().isEmpty());
    questions.missingFolderAnswer = RunQuestions::MissingFolder::Create;
    const SetReport made = RunSet(missing, ResumePolicy::Ask);
    EXPECT_EQ(made.result, SheetSetRun::StartResult::Started);
    EXPECT_TRUE(QFileInfo::exists(Bmp(missing, 3)));
}

ino_t InodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// A sheet's folder that is a link (to a folder of the user's, the victim) or a file, found
// when the set begins or put there while the first sheet is fetched: the set stops saying
// why, with nothing written, replaced or deleted through it; the tile clean-up is on.
TEST_F(SheetSetTest, ASheetFolderThatIsALinkOrAFileStopsTheSetWithNothingWrittenThroughIt) {
    const struct {
        const char* name;
        bool link;
        bool midway; // made once the first sheet has begun
        const char* reason;
    } table[] = {
        {"Prueba_01", true, false, "es un enlace, y las hojas se graban solo en carpetas propias"},
        {"Prueba_02", true, true, "es un enlace, y las hojas se graban solo en carpetas propias"},
        {"Prueba_01", false, false, "ya existe un fichero con ese nombre"},
    };
    for (const auto& row : table) {
        QTemporaryDir destination;
        QTemporaryDir victim;
        const QString sheet = QString::fromLatin1(row.name);
        for (const QString& file : {sheet + ".bmp", QStringLiteral("A01.jpg"), sheet + ".map"}) {
            WriteAll(victim.filePath(file), "del usuario: " + file.toUtf8());
        }
        const auto before = FolderSnapshot(victim.path());
        const QString folder = QDir(destination.path()).filePath(sheet);
        const auto place = [&] {
            ASSERT_TRUE(row.link ? QFile::link(victim.path(), folder)
                                 : (WriteAll(folder, "un fichero"), true));
        };
        if (!row.midway) {
            place();
        }
        questions.errors.clear();
        const qsizetype from = server.requests().size();
        const SetReport r = RunSet(
            destination.path(), ResumePolicy::Ask,
            [&](SheetSetRun& run) {
                if (row.midway) {
                    QObject::connect(&run, &SheetSetRun::sheetStarted, &run, place);
                }
            },
            [](DownloadJob& job) {
                job.deleteTiles = true;
                job.saveOzi = true;
            });
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(r.outcome.stopped && r.outcome.writeFailed);
        EXPECT_EQ(FolderSnapshot(victim.path()), before);
        ASSERT_EQ(questions.errors.size(), 1);
        EXPECT_TRUE(questions.errors[0].startsWith(
            QStringLiteral("No se puede usar la carpeta %1: %2")
                .arg(QDir::toNativeSeparators(folder), QString::fromUtf8(row.reason))))
            << questions.errors[0].toStdString();
        EXPECT_TRUE(r.log.back().startsWith(
            QStringLiteral(". Descarga detenida: no se puede usar la carpeta %1: ")
                .arg(QDir::toNativeSeparators(folder))))
            << r.log.back().toStdString();
        if (row.midway) {
            // The first sheet (7 of the 21 tiles) is done; nothing of the second was asked for.
            EXPECT_EQ(r.totals.finished, 1);
            EXPECT_EQ(server.requests().size() - from, 7);
            EXPECT_TRUE(QFileInfo(folder).isSymLink());
        } else {
            // Found before anything: no request, no record, no index.
            EXPECT_EQ(server.requests().size(), from);
            EXPECT_EQ(QDir(destination.path())
                          .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                      QStringList{sheet});
        }
    }
}

// A finished sheet counts as done only while its BMP is the one its run wrote, as the record
// has its size and SHA-256: a BMP cut short, a link to an identical copy, the same size with
// other pixels, or a record without the BMP's stamp (an earlier version's) make the sheet be
// done again, from the tiles still there; the log says why.
TEST_F(SheetSetTest, AFinishedSheetIsTakenOnlyWhileItsBmpIsTheOneWritten) {
    ASSERT_EQ(RunSet(dir.path(), ResumePolicy::Never).totals.finished, 3);
    std::map<int, QByteArray> written;
    const std::optional<SheetSetRecord> record = LoadSheetSetRecord(path("Prueba.morvel"));
    ASSERT_TRUE(record);
    for (int number = 1; number <= 3; ++number) {
        written[number] = ReadAll(Bmp(dir.path(), number));
        EXPECT_TRUE(record->sheets[size_t(number - 1)].bmp == TileStamp::Of(written[number]))
            << number;
    }
    QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath("copia.bmp");
    const struct {
        std::function<void()> tamper;
        QList<int> again;
        QStringList said;
    } table[] = {
        {[&] {
             QFile bmp(Bmp(dir.path(), 1));
             ASSERT_TRUE(bmp.resize(bmp.size() / 2));
             WriteAll(copy, written[3]);
             ASSERT_TRUE(QFile::remove(Bmp(dir.path(), 3)));
             ASSERT_TRUE(QFile::link(copy, Bmp(dir.path(), 3)));
         },
         {1, 3},
         {". Hoja Prueba_01 con su fichero BMP cambiado: se descarga de nuevo",
          ". Hoja Prueba_03 con su fichero BMP sin comprobar (el fichero es un enlace): se "
          "descarga de nuevo",
          ". Sustituido el enlace Prueba_03.bmp: lo que nombraba queda como estaba"}},
        {[&] {
             QByteArray other = written[2];
             other[other.size() - 10] = char(~other[other.size() - 10]);
             WriteAll(Bmp(dir.path(), 2), other);
         },
         {2},
         {". Hoja Prueba_02 con su fichero BMP cambiado: se descarga de nuevo"}},
        {[&] {
             QByteArray bytes = ReadAll(path("Prueba.morvel"));
             static const QRegularExpression stamp(QStringLiteral("BMP=[^\\r]*\\r\\n"));
             WriteAll(path("Prueba.morvel"), QString::fromUtf8(bytes).remove(stamp).toUtf8());
         },
         {1, 2, 3},
         {". Hoja Prueba_01 sin la huella de su fichero BMP en el registro: se descarga de "
          "nuevo"}},
    };
    const qsizetype requests = server.requests().size();
    ino_t copyInode = 0;
    for (const auto& row : table) {
        row.tamper();
        if (copyInode == 0) {
            copyInode = InodeOf(copy);
        }
        const SetReport r = RunSet(dir.path(), ResumePolicy::Always);
        EXPECT_EQ(r.started, row.again) << r.log.join(QChar(10)).toStdString();
        for (const QString& line : row.said) {
            EXPECT_TRUE(r.log.contains(line)) << line.toStdString();
        }
        EXPECT_FALSE(r.outcome.recordKept || r.outcome.anyFailed);
        for (int number = 1; number <= 3; ++number) {
            EXPECT_EQ(ReadAll(Bmp(dir.path(), number)), written[number]) << number;
        }
        // What the link named is as it was: not written through the link.
        EXPECT_FALSE(QFileInfo(Bmp(dir.path(), 3)).isSymLink());
        EXPECT_EQ(ReadAll(copy), written[3]);
        EXPECT_EQ(InodeOf(copy), copyInode);
    }
    // Made again from the tiles the sheets' records vouch for.
    EXPECT_EQ(server.requests().size(), requests);
}

// However a set stops, its summary says what is there: the index written when it began and
// the overview once a sheet is finished. A sheet's folder held by another run stops it with
// the cause in the log.
TEST_F(SheetSetTest, AStoppedSetSaysWhyAndCountsWhatItWrote) {
    const struct {
        int stopAt;      // progress value at which the user stops; 0 for none
        bool holdSecond; // another run holds Prueba_02
        bool overview;
    } table[] = {{3, false, false}, {13, false, true}, {0, true, true}};
    for (const auto& row : table) {
        QTemporaryDir destination;
        FolderLock other;
        if (row.holdSecond) {
            ASSERT_TRUE(QDir(destination.path()).mkdir("Prueba_02"));
            ASSERT_EQ(other.tryLock(QDir(destination.path()).filePath("Prueba_02")),
                      FolderLock::Result::Held);
        }
        questions.messages.clear();
        const SetReport r = RunSet(destination.path(), ResumePolicy::Ask, [&](SheetSetRun& run) {
            QObject::connect(&run, &SheetSetRun::progress, &run, [&run, &row](int value) {
                if (row.stopAt > 0 && value == row.stopAt) {
                    run.stop();
                }
            });
        });
        SCOPED_TRACE(row.stopAt);
        EXPECT_TRUE(r.outcome.stopped);
        const QString kml = QDir(destination.path()).filePath("Prueba_hojas.kml");
        const QString png = QDir(destination.path()).filePath("Prueba_hojas.png");
        EXPECT_TRUE(r.totals.indexWritten);
        EXPECT_TRUE(QFileInfo::exists(kml));
        EXPECT_EQ(r.totals.overviewWritten, row.overview);
        EXPECT_EQ(QFileInfo::exists(png), row.overview);
        if (row.holdSecond) {
            EXPECT_EQ(r.totals.finished, 1);
            EXPECT_EQ(
                r.log.back(),
                QStringLiteral(". Descarga detenida: otra descarga está en curso en la "
                               "carpeta de la hoja Prueba_02 (%1)")
                    .arg(QDir::toNativeSeparators(QDir(destination.path()).filePath("Prueba_02"))));
            ASSERT_EQ(questions.messages.size(), 1);
            EXPECT_TRUE(questions.messages[0].startsWith("Otra descarga está en curso"));
        } else {
            EXPECT_EQ(r.log.back(), ". Descarga detenida por el usuario");
        }
    }
}

// Stopped while a sheet's export is written: the export given up is named before the stop,
// and nothing of it is left.
TEST_F(SheetSetTest, AStopDuringASheetsExportNamesTheExportGivenUp) {
    bool fired = false;
    const SetReport r = RunSet(
        dir.path(), ResumePolicy::Ask,
        [&fired](SheetSetRun& run) {
            QObject::connect(
                &run, &SheetSetRun::statusText, &run, [&run, &fired](const QString& t) {
                    if (!fired && t.startsWith("Hoja 1 de 3: Exportando Prueba_01.tif")) {
                        fired = true;
                        QTimer::singleShot(0, &run, [&run] { run.stop(); });
                    }
                });
        },
        [](DownloadJob& job) { job.setExport(ExportFormat::GeoTiff, true); });
    ASSERT_TRUE(fired);
    EXPECT_TRUE(r.outcome.stopped);
    const qsizetype at = r.log.indexOf(". Exportación de Prueba_01.tif detenida: no se ha grabado");
    ASSERT_GT(at, 0) << r.log.join('\n').toStdString();
    EXPECT_EQ(r.log.back(), ". Descarga detenida por el usuario");
    ExportWorkPool()->waitForDone();
    EXPECT_EQ(files(QDir(dir.path()).filePath("Prueba_01")).filter(".tif").size(), 0);
}

// A record of other sheets under the same name (chosen at 1000 m, now at 5000 m) is not gone
// on with: the user is told, the sheets start anew once their files may be replaced, and a
// folder of the old set that the new one does not have is left as it is.
TEST_F(SheetSetTest, ARecordOfOtherSheetsUnderTheSameNameIsToldAndNotGoneOn) {
    SheetSource small;
    small.box = {585000, 4725000, 600000, 4730000};
    const SheetCut fine = small.cut(1000, QStringLiteral("Prueba"));
    const SheetCut coarse = small.cut(5000, QStringLiteral("Prueba"));
    ASSERT_TRUE(fine.set && coarse.set);
    ASSERT_EQ(fine.set->sheets.size(), 2u);
    ASSERT_EQ(coarse.set->sheets.size(), 1u);
    ASSERT_EQ(RunSet(dir.path(), ResumePolicy::Never, {}, {}, &*fine.set).totals.finished, 2);
    const QByteArray oldRecord = ReadAll(path("Prueba.morvel"));
    const auto oldSecond = FolderSnapshot(QDir(dir.path()).filePath("Prueba_02"));
    const QString told =
        "El registro Prueba.morvel de la carpeta destino es de otras hojas con el mismo nombre "
        "(2 hojas de mosaicos de 1.000 m de ortofoto), no de las hojas de ahora (1 hoja de "
        "mosaicos de 5.000 m de ortofoto).";

    // Refused to replace Prueba_01's files: nothing is written, the old record stays.
    questions.overwrite = false;
    const qsizetype from = server.requests().size();
    const SetReport refused = RunSet(dir.path(), ResumePolicy::Ask, {}, {}, &*coarse.set);
    EXPECT_TRUE(refused.cancelled);
    ASSERT_EQ(questions.messages.size(), 1);
    EXPECT_TRUE(questions.messages[0].startsWith(told)) << questions.messages[0].toStdString();
    EXPECT_TRUE(questions.resumes.isEmpty());
    EXPECT_EQ(ReadAll(path("Prueba.morvel")), oldRecord);
    EXPECT_EQ(server.requests().size(), from);

    questions.overwrite = true;
    const SetReport anew = RunSet(dir.path(), ResumePolicy::Ask, {}, {}, &*coarse.set);
    EXPECT_EQ(questions.messages.size(), 2);
    EXPECT_TRUE(questions.resumes.isEmpty());
    EXPECT_EQ(anew.started, QList<int>{1});
    EXPECT_EQ(server.requests().size() - from, 3);
    EXPECT_EQ(QImage(Bmp(dir.path(), 1)).size(), QSize(1200, 400));
    EXPECT_EQ(FolderSnapshot(QDir(dir.path()).filePath("Prueba_02")), oldSecond);
}

} // namespace
