// A folder that is not the run's alone: tiles another job wrote under the same names, files
// that are not what the record says, what a killed run left, a second run, a gate shared
// with other requesters, and a stop while the BMP is being put in place.
#include "download/TransferGate.h"
#include "download/WhenFinished.h"
#include "run/FolderLock.h"
#include "tests/run/RunTestSupport.h"

#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSemaphore>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Fault = TestMapServer::Fault;
using Step = DownloadRun::BmpCommitStep;
using SharedFolder = RunTest;

QStringList TilesOf(const QStringList& log, const QString& prefix) {
    QStringList out;
    for (const QString& line : log.filter(prefix)) {
        out << line.mid(prefix.size(), 3);
    }
    return out;
}

// A run stopped once `tiles` tiles are shown, which leaves them in its record.
void StopAfter(DownloadRun& run, int tiles) {
    auto shown = std::make_shared<int>(0);
    QObject::connect(&run, &DownloadRun::tileShown, &run, [&run, shown, tiles] {
        if (++*shown == tiles) {
            QTimer::singleShot(0, &run, &DownloadRun::stop);
        }
    });
}

// Tile files are named alike for every job: "Norte" stops, "Sur" runs in the same folder
// and keeps its tiles, and "Norte" goes on without taking one of Sur's.
TEST_F(SharedFolder, TwoJobsInOneFolderTakeOnlyTheirOwnTiles) {
    QTemporaryDir whole;
    DownloadJob reference = Job(3, 2, whole.path());
    reference.bmpName = QStringLiteral("Norte");
    Run(reference);
    const QByteArray uninterrupted = ReadAll(QDir(whole.path()).filePath("Norte.bmp"));
    ASSERT_FALSE(uninterrupted.isEmpty());

    DownloadJob norte = Job(3, 2);
    norte.bmpName = QStringLiteral("Norte");
    server.setLatency(20);
    const RunReport stopped = Run(norte, 1, {}, [](DownloadRun& run) { StopAfter(run, 3); });
    ASSERT_TRUE(stopped.outcome.stopped);
    const int vouched = LoadJobRecord(path("Norte.morvel"))->vouched();
    ASSERT_GE(vouched, 3);
    server.setLatency(0);

    DownloadJob sur = Job(3, 2);
    sur.bmpName = QStringLiteral("Sur");
    sur.easting += 20000;
    sur.requestPrefix = RequestPrefix(sur.kind, server.baseUrl());
    ASSERT_FALSE(Run(sur).outcome.anyFailed);

    const int before = static_cast<int>(server.requests().size());
    const RunReport resumed = Run(norte);
    // Offered, since the record vouches for three tiles; none is what it wrote any more.
    ASSERT_EQ(questions.resumes.size(), 1);
    EXPECT_EQ(static_cast<int>(server.requests().size()) - before, 6);
    EXPECT_EQ(TilesOf(resumed.log, ". Reutilizado mosaico "), QStringList());
    EXPECT_EQ(resumed.log.filter(" no reutilizado: el fichero ha cambiado").size(), vouched);
    EXPECT_EQ(ReadAll(path("Norte.bmp")), uninterrupted);
}

// What the record vouches for is taken only as it is: another file, a link to a picture
// elsewhere or a record of an earlier version (without sizes and hashes) gets the tile
// asked for again; a record that is a link is not read at all.
TEST_F(SharedFolder, OnlyTheVeryFilesTheRecordVouchesForAreTaken) {
    QTemporaryDir outside;
    const QString picture = outside.filePath(QStringLiteral("B01.jpg"));
    const QString record = outside.filePath(QStringLiteral("Prueba.morvel"));
    const struct {
        const char* name;
        std::function<void(const QString&)> spoil; // given the folder
        QStringList taken;                         // after the spoiling
        QString logged;                            // the line that says why, if any
    } table[] = {
        {"another picture under the name",
         [&](const QString& f) {
             QFile::remove(QDir(f).filePath("A01.jpg"));
             QFile::copy(picture, QDir(f).filePath("A01.jpg"));
         },
         {"A02", "B01"},
         ". Mosaico A01.jpg no reutilizado: el fichero ha cambiado"},
        {"a link to a picture elsewhere",
         [&](const QString& f) {
             QFile::remove(QDir(f).filePath("A02.jpg"));
             QFile::link(picture, QDir(f).filePath("A02.jpg"));
         },
         {"A01", "B01"},
         ". Mosaico A02.jpg no reutilizado: el fichero es un enlace"},
        {"a record of an earlier version",
         [&](const QString& f) {
             const QString path = QDir(f).filePath("Prueba.morvel");
             WriteAll(path, QString::fromUtf8(ReadAll(path))
                                .replace(QRegularExpression(" \\d+ [0-9a-f]{64}"), QString())
                                .toUtf8());
         },
         {},
         {}},
        {"the record as a link",
         [&](const QString& f) {
             const QString path = QDir(f).filePath("Prueba.morvel");
             QFile::remove(record);
             QFile::rename(path, record);
             QFile::link(record, path);
         },
         {},
         ". Registro de la descarga anterior no leído: el fichero es un enlace"},
    };
    QTemporaryDir whole;
    Run(Job(2, 2, whole.path()));
    const QByteArray uninterrupted = ReadAll(QDir(whole.path()).filePath("Prueba.bmp"));
    QFile::copy(QDir(whole.path()).filePath("B01.jpg"), picture);
    for (const auto& row : table) {
        QTemporaryDir folder;
        const DownloadJob job = Job(2, 2, folder.path());
        // B02 fails: the record vouches for the other three.
        setFault(job, 2, 2, Fault::Http404);
        Run(job);
        server.clearFaults();
        ASSERT_EQ(LoadJobRecord(QDir(folder.path()).filePath("Prueba.morvel"))->vouched(), 3)
            << row.name;
        row.spoil(folder.path());
        questions.resumes.clear();
        const RunReport r = Run(job);
        EXPECT_EQ(TilesOf(r.log, ". Reutilizado mosaico "), row.taken) << row.name;
        EXPECT_EQ(questions.resumes.size(), row.taken.isEmpty() ? 0 : 1) << row.name;
        if (!row.logged.isEmpty()) {
            EXPECT_TRUE(r.log.contains(row.logged)) << row.name << r.log.join('|').toStdString();
        }
        EXPECT_EQ(ReadAll(QDir(folder.path()).filePath("Prueba.bmp")), uninterrupted) << row.name;
        EXPECT_EQ(files(folder.path()),
                  (QStringList{"A01.jpg", "A02.jpg", "B01.jpg", "B02.jpg", "Prueba.bmp"}))
            << row.name;
        EXPECT_TRUE(QFileInfo(picture).isFile());
    }
}

// A killed run leaves temporary files of its tiles, its record and its exports (with what
// SQLite and GDAL make beside them); the next run in the folder removes those of any tile a
// grid can have, of its record and of any export, and nothing else.
TEST_F(SharedFolder, LeftoversOfAKilledRunAreRemoved) {
    const QStringList leftovers{"A01.jpg.k3x9q0za",
                                "A02.jpg.00000000",
                                "A01.jpg1",
                                "J10.jpg.k3x9q0za",
                                "Prueba.morvel.k3x9q0za",
                                ".Prueba-2oxrkxgs.mbtiles",
                                ".Prueba-2oxrkxgs.mbtiles-journal",
                                ".Otro-00000000.gpkg-wal",
                                ".Prueba-k3x9q0za.tif.ovr.tmp",
                                ".Prueba-k3x9q0za.kmz"};
    const QStringList others{"A01.jpg.K3X9Q0ZA",
                             "A01.jpg.abc",
                             "A01.jpg.abcdefghi",
                             "K01.jpg.k3x9q0za",
                             "A01.jpgXk3x9q0za",
                             "Prueba.bmp.k3x9q0za",
                             ".Prueba-2oxrkxgs.mbtiles.bak",
                             "Prueba-2oxrkxgs.mbtiles",
                             ".Prueba-2OXRKXGS.tif"};
    for (const QStringList* names : {&leftovers, &others}) {
        for (const QString& name : *names) {
            WriteAll(path(name), "half");
        }
    }
    QFile::link(path("nowhere"), path("A02.jpg.zzzzzzzz")); // a broken link goes too
    const RunReport r = Run(Job(2));
    EXPECT_FALSE(r.outcome.anyFailed);
    QStringList expected = others;
    expected << "A01.jpg"
             << "A02.jpg"
             << "Prueba.bmp";
    expected.sort();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name),
              expected);
}

// One run at a time in a folder: a second one is refused before it touches anything, and
// a lock left by a process that died is taken over.
TEST_F(SharedFolder, OneRunAtATimeInAFolder) {
    server.setLatency(100);
    DownloadRun first(Job(2), &manager, questions);
    first.setFetchLimits(QuickFetchLimits());
    ASSERT_EQ(first.start(), DownloadRun::StartResult::Started);

    DownloadJob other = Job(2);
    other.bmpName = QStringLiteral("Otro");
    RecordingQuestions asked;
    DownloadRun second(other, &manager, asked);
    QSignalSpy cleared(&second, &DownloadRun::logCleared);
    EXPECT_EQ(second.start(), DownloadRun::StartResult::FolderBusy);
    EXPECT_FALSE(second.isRunning());
    EXPECT_EQ(cleared.count(), 0);
    ASSERT_EQ(asked.messages.size(), 1);
    EXPECT_EQ(asked.messages[0],
              QStringLiteral("Otra descarga está en curso en la carpeta %1 (proceso %2). Espere "
                             "a que termine o elija otra carpeta")
                  .arg(QDir::toNativeSeparators(dir.path()))
                  .arg(QCoreApplication::applicationPid()));
    EXPECT_FALSE(QFileInfo::exists(path("Otro.morvel")));

    QSignalSpy done(&first, &DownloadRun::finished);
    ASSERT_TRUE(done.wait(30000));
    EXPECT_FALSE(QFileInfo::exists(path(FolderLock::FileName())));

    // The lock of a process that is gone, as a crash leaves it.
    QProcess gone;
    gone.start(QStringLiteral("true"));
    ASSERT_TRUE(gone.waitForStarted());
    const qint64 pid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished());
    WriteAll(path(FolderLock::FileName()), QByteArray::number(pid) + '\n' +
                                               QCoreApplication::applicationName().toUtf8() + '\n' +
                                               QSysInfo::machineHostName().toUtf8() + '\n');
    server.setLatency(0);
    const RunReport later = Run(other);
    EXPECT_FALSE(later.outcome.anyFailed);
    EXPECT_TRUE(QFileInfo::exists(path("Otro.bmp")));
    EXPECT_FALSE(QFileInfo::exists(path(FolderLock::FileName())));
}

// A gate shared with other requesters: a run that stops withdraws its own fetches and
// leaves the gate open for the others.
TEST_F(SharedFolder, AStoppedRunLeavesASharedGateToTheOthers) {
    TransferGate gate(1);
    server.setSlowPace(8, 100);
    server.setFaultForAll(Fault::Slow);
    DownloadRun run(Job(3), &manager, questions);
    run.setFetchLimits(QuickFetchLimits());
    run.setGate(&gate);
    run.setConnections(4); // the gate's own number of transfers counts
    ASSERT_EQ(run.start(), DownloadRun::StartResult::Started);
    ASSERT_TRUE(QTest::qWaitFor([this] { return server.requests().size() == 1; }, 5000));
    int outsider = 0;
    int owner = 0;
    gate.acquire(&owner, 1000, [&outsider] { ++outsider; });
    QTest::qWait(50);
    EXPECT_EQ(outsider, 0);
    EXPECT_EQ(gate.inUse(), 1);
    run.stop();
    EXPECT_EQ(outsider, 1);
    EXPECT_EQ(server.requests().size(), 1);
    gate.release(&owner);
    EXPECT_EQ(gate.inUse(), 0);
}

// Holds the BMP's save at one step of its commit until released.
struct HeldCommit {
    explicit HeldCommit(Step step) : at(step) {}
    std::function<void(Step)> hook() {
        return [this](Step step) {
            if (step == at) {
                entered = true;
                timedOut = !release.tryAcquire(1, 30000);
            }
        };
    }
    const Step at;
    std::atomic<bool> entered{false};
    std::atomic<bool> timedOut{false};
    QSemaphore release;
};

class CommitTest : public SharedFolder {
protected:
    // A 2 x 1 job with the OziExplorer file, over an older BMP and .map of another area.
    DownloadJob OverOlderFiles() {
        WriteAll(path("Prueba.bmp"), "older bmp");
        WriteAll(path("Prueba.map"), "older map");
        DownloadJob job = Job(2);
        job.saveOzi = true;
        return job;
    }
    std::unique_ptr<DownloadRun> StartHeld(const DownloadJob& job, HeldCommit& held) {
        auto run = std::make_unique<DownloadRun>(job, &manager, questions);
        run->setFetchLimits(QuickFetchLimits());
        run->setBmpCommitHook(held.hook());
        EXPECT_EQ(run->start(), DownloadRun::StartResult::Started);
        EXPECT_TRUE(QTest::qWaitFor([&held] { return held.entered.load(); }, 30000));
        return run;
    }
    QStringList folderNames() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    }
};

// Stopped while the new BMP is synced: the stop is over before the sync is, the new BMP is
// abandoned before its rename, and the older files stay together.
TEST_F(CommitTest, AStopDuringTheSyncAbandonsTheBmpAtOnce) {
    HeldCommit held(Step::Synced);
    const std::unique_ptr<DownloadRun> run = StartHeld(OverOlderFiles(), held);
    QSignalSpy done(run.get(), &DownloadRun::finished);
    run->stop();
    ASSERT_EQ(done.count(), 1); // while the save is still held
    const RunOutcome outcome = done.at(0).at(0).value<RunOutcome>();
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.bmpSaved);
    EXPECT_TRUE(outcome.calibrationsWritten.isEmpty());
    EXPECT_TRUE(outcome.recordKept);
    EXPECT_EQ(ReadAll(path("Prueba.bmp")), "older bmp");

    held.release.release();
    ImageWorkPool()->waitForDone();
    EXPECT_FALSE(held.timedOut);
    EXPECT_EQ(ReadAll(path("Prueba.bmp")), "older bmp");
    EXPECT_EQ(ReadAll(path("Prueba.map")), "older map");
    EXPECT_EQ(folderNames(),
              (QStringList{"A01.jpg", "A02.jpg", "Prueba.bmp", "Prueba.map", "Prueba.morvel"}));
    EXPECT_EQ(LoadJobRecord(path("Prueba.morvel"))->vouched(), 2);
}

// Stopped, or aborted as a closing window does, once the new BMP is being renamed into
// place: it is kept, and its calibration file follows (unasked when aborted), so that the
// folder never holds the new image beside the older area's .map.
TEST_F(CommitTest, AStopDuringTheRenameFinishesTheRun) {
    for (const bool abort : {false, true}) {
        questions.overwrites.clear();
        HeldCommit held(Step::Renaming);
        std::unique_ptr<DownloadRun> run = StartHeld(OverOlderFiles(), held);
        QSignalSpy done(run.get(), &DownloadRun::finished);
        std::thread releaser([&held] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            held.release.release();
        });
        if (abort) {
            run.reset();
        } else {
            run->stop();
        }
        releaser.join();
        EXPECT_FALSE(held.timedOut);
        if (abort) {
            EXPECT_EQ(done.count(), 0);
            // The BMP's question at the start, and none for the .map.
            EXPECT_EQ(questions.overwrites.size(), 1);
        } else {
            ASSERT_EQ(done.count(), 1);
            const RunOutcome outcome = done.at(0).at(0).value<RunOutcome>();
            EXPECT_FALSE(outcome.stopped);
            EXPECT_TRUE(outcome.bmpSaved);
            EXPECT_EQ(outcome.calibrationsWritten,
                      QList<CalibrationFormat>{CalibrationFormat::OziExplorer});
            EXPECT_FALSE(outcome.recordKept);
            EXPECT_EQ(questions.overwrites.size(), 2);
        }
        EXPECT_EQ(QFileInfo(path("Prueba.bmp")).size(), 54 + 800 * 400 * 3) << abort;
        EXPECT_TRUE(ReadAll(path("Prueba.map")).startsWith("OziExplorer")) << abort;
        EXPECT_EQ(folderNames(), (QStringList{"A01.jpg", "A02.jpg", "Prueba.bmp", "Prueba.map"}))
            << abort;
    }
}

} // namespace
