// The run object against a map server on 127.0.0.1: what it reports and in which order,
// several transfers at once, the closing steps, and the faults that must not lose tiles.
#include "tests/run/RunTestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <optional>
#include <set>

// Readable values in the test's failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Fault = TestMapServer::Fault;

// A temporary download or a half-written file left in a folder.
bool HasLeftovers(const QStringList& names) {
    for (const QString& name : names) {
        if (name.endsWith(QStringLiteral(".jpg1")) || name.contains(QStringLiteral(".jpg.")) ||
            name.contains(QStringLiteral(".bmp."))) {
            return true;
        }
    }
    return false;
}

// The status texts without the retries of the tile the status bar names, which come as
// the server's answers and the waits fall: each "Reintento" and the "Descargando" line its
// attempt shows again.
QStringList WithoutRetries(const QStringList& statuses) {
    QStringList out;
    for (const QString& text : statuses) {
        if (!text.startsWith(QStringLiteral("Reintento ")) &&
            (out.isEmpty() || out.last() != text)) {
            out << text;
        }
    }
    return out;
}

using RunOf = RunTest;

// The tests' limits, but an answer the server holds back is waited for as long as it is held.
void WaitForHeldAnswers(DownloadRun& run) {
    FetchLimits limits = QuickFetchLimits();
    limits.transferTimeoutMs = 60000;
    run.setFetchLimits(limits);
}

// The record in the folder lists `fetched` tiles as fetched.
bool RecordLists(const QString& folder, int fetched) {
    const std::optional<JobRecord> record =
        LoadJobRecord(QDir(folder).filePath(QStringLiteral("Prueba.morvel")));
    return record && record->count(TileState::Fetched) == fetched;
}

TEST_F(RunOf, StatusTextsOfTheClosingSteps) {
    DownloadJob job = Job(2);
    job.deleteTiles = true;
    const RunReport r = Run(job);
    // The BMP is saved before the tiles it holds are deleted.
    EXPECT_EQ(
        r.statuses,
        (QStringList{"Iniciando descarga de mosaicos.", "Descargando mosaico A01.jpg",
                     "Fin de descarga del mosaico A01.jpg", "Descargando mosaico A02.jpg",
                     "Fin de descarga del mosaico A02.jpg", "Fin de descarga de los mosaicos.",
                     "Grabando el mosaico a .BMP.", "Fichero BMP grabado.",
                     "Borrando archivos del mosaico.", "Archivos del mosaico borrados."}));
    EXPECT_EQ(r.log.mid(3), (QStringList{". Fin de la descarga", ". Fichero BMP grabado",
                                         ". Archivos del mosaico borrados"}));
    EXPECT_EQ(files(), QStringList{"Prueba.bmp"});
    EXPECT_FALSE(r.outcome.recordKept);
}

// A02's fetch fails. The pixel width was left at two tiles, so A03 has no place in the
// mosaic: its drawing fails, but it keeps its picture, its hidden marker and its count.
TEST_F(RunOf, FetchAndDrawingFailures) {
    DownloadJob job = Job(3);
    job.widthPixels = 800;
    setFault(job, 2, 1, Fault::Http500);
    const RunReport r = Run(job);
    EXPECT_EQ(
        WithoutRetries(r.statuses),
        (QStringList{"Iniciando descarga de mosaicos.", "Descargando mosaico A01.jpg",
                     "Fin de descarga del mosaico A01.jpg", "Descargando mosaico A02.jpg",
                     "Fallo en la descarga del mosaico A02.jpg", "Descargando mosaico A03.jpg",
                     "Fallo en la descarga del mosaico A03.jpg", "Fin de descarga de los mosaicos.",
                     "Fin de descarga: 2 de 3 mosaicos con fallo. No se grabó el fichero BMP."}));
    // Each failure with its reason: the server's answer, the place the mosaic lacks.
    EXPECT_EQ(r.log,
              (QStringList{". Comienzo de la descarga", ". Descargado mosaico A01.jpg",
                           ". Fallo en la descarga del mosaico A02.jpg: HTTP 500",
                           ". Fallo en la descarga del mosaico A03.jpg: el mosaico no cabe en la "
                           "imagen de unión",
                           ". Fin de la descarga", ". No se descargó algún mosaico"}));
    EXPECT_EQ(r.failed, QList<QPoint>{QPoint(2, 1)});
    EXPECT_EQ(r.shown, (QStringList{"A01.jpg", "A03.jpg"}));
    EXPECT_EQ(r.progress, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(QFileInfo::exists(path("Prueba.bmp")));
}

// With 2 and 4 transfers at once, everything the run reports and every file it writes is
// what one at a time gives, while the server sees that many requests at once and never
// more. A02 fails twice first, B01 for good while later tiles are already in, C03 is slow.
TEST_F(RunOf, SeveralConnectionsChangeOnlyTheLoadOnTheServer) {
    server.setLatency(30);
    RunReport first;
    QByteArray firstBmp;
    for (const int connections : {1, 2, 4}) {
        QTemporaryDir folder;
        DownloadJob job = Job(3, 3, folder.path());
        job.saveOzi = true;
        server.clearFaults();
        setFault(job, 2, 1, Fault::Http500, 2);
        setFault(job, 1, 2, Fault::Http404);
        server.setSlowPace(4, 40);
        setFault(job, 3, 3, Fault::Slow);
        server.resetMaxInFlight();
        const int before = static_cast<int>(server.requests().size());
        const RunReport r = Run(job, connections);

        EXPECT_LE(server.maxInFlight(), connections);
        if (connections > 1) {
            EXPECT_EQ(server.maxInFlight(), connections);
        }
        // Every request has a number of its own, with none skipped.
        const QStringList sent = server.requests().mid(before);
        std::set<int> numbers;
        for (const QString& target : sent) {
            const MapTileQuery q = ParseMapTileQuery(target.toLatin1());
            EXPECT_TRUE(numbers.insert(q.guid).second) << "number " << q.guid << " twice";
        }
        EXPECT_EQ(static_cast<int>(numbers.size()), static_cast<int>(sent.size()));
        EXPECT_EQ(*numbers.rbegin() - *numbers.begin() + 1, static_cast<int>(numbers.size()));

        const QByteArray bmp = ReadAll(folder.filePath("Prueba.bmp"));
        if (connections == 1) {
            first = r;
            firstBmp = bmp;
            EXPECT_TRUE(r.log.contains(". Fallo en la descarga del mosaico B01.jpg: HTTP 404"));
            EXPECT_EQ(r.failed, QList<QPoint>{QPoint(1, 2)});
            continue;
        }
        EXPECT_EQ(r.log, first.log) << connections;
        EXPECT_EQ(WithoutRetries(r.statuses), WithoutRetries(first.statuses)) << connections;
        EXPECT_EQ(r.shown, first.shown) << connections;
        EXPECT_EQ(r.progress, first.progress) << connections;
        EXPECT_EQ(r.failed, first.failed) << connections;
        EXPECT_EQ(bmp, firstBmp);
        EXPECT_FALSE(HasLeftovers(files(folder.path())))
            << files(folder.path()).join(' ').toStdString();
    }
}

// Requests go out in grid order as slots free up: the first request of every tile comes
// after the first request of every tile before it.
TEST_F(RunOf, RequestsLeaveInGridOrder) {
    server.setLatency(20);
    const DownloadJob job = Job(4, 2);
    Run(job, 3);
    std::vector<int> order;
    for (const QString& target : server.requests()) {
        const MapTileQuery q = ParseMapTileQuery(target.toLatin1());
        const int column = (q.xminKey - job.easting) / job.tileSize + 1;
        const int row = (job.northingField - q.yminKey) / job.tileSize;
        const int index = (row - 1) * job.tilesAcross + column - 1;
        if (std::find(order.begin(), order.end(), index) == order.end()) {
            order.push_back(index);
        }
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

// While a tile waits for the server's Retry-After, the status bar says so, and no request
// at all leaves before the server's time has passed.
TEST_F(RunOf, RetryAfterIsShownAndPausesEveryRequest) {
    const DownloadJob job = Job(3);
    server.setRetryAfter("6"); // 120 ms with the tests' limits
    setFault(job, 1, 1, Fault::Busy429, 1);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> arrivals;
    QObject::connect(&server, &TestMapServer::requestArrived, &server,
                     [&] { arrivals << clock.elapsed(); });
    qint64 busyShown = -1;
    // One transfer: the busy answer gives it back at once, and A02 waits all the same.
    const RunReport r = Run(job, 1, {}, [&](DownloadRun& run) {
        QObject::connect(&run, &DownloadRun::statusText, &run, [&](const QString& text) {
            if (busyShown < 0 && text.startsWith(QLatin1String("Servidor ocupado"))) {
                busyShown = clock.elapsed();
            }
        });
    });
    EXPECT_TRUE(r.statuses.contains("Servidor ocupado: reintento del mosaico A01 en 6 s"))
        << r.statuses.join('|').toStdString();
    EXPECT_FALSE(r.outcome.anyFailed);
    ASSERT_EQ(arrivals.size(), 4);
    EXPECT_EQ(requestsFor(job, 1, 1), 2);
    // A01 asked again first, in grid order, once the server's time had passed.
    EXPECT_TRUE(
        server.requests()[1].contains(QStringLiteral("Xmin=%1.").arg(TileBounds(job, 1, 1).xmin)));
    // Nothing was asked of the server from the busy answer until its time had passed.
    ASSERT_GE(busyShown, 0);
    EXPECT_GE(arrivals[1], busyShown + 115);
    EXPECT_EQ(r.log.mid(1, 3),
              (QStringList{". Descargado mosaico A01.jpg", ". Descargado mosaico A02.jpg",
                           ". Descargado mosaico A03.jpg"}));
}

// A tile asked for again after a failed attempt: the status bar says which attempt is
// next and why the last one failed, until that attempt leaves.
TEST_F(RunOf, RetriesAreShownWithTheirNumberAndReason) {
    const DownloadJob job = Job(1);
    setFault(job, 1, 1, Fault::Http500, 2);
    const RunReport r = Run(job, 1);
    EXPECT_EQ(
        r.statuses.mid(1, 6),
        (QStringList{"Descargando mosaico A01.jpg", "Reintento 2 de 10 del mosaico A01: HTTP 500",
                     "Descargando mosaico A01.jpg", "Reintento 3 de 10 del mosaico A01: HTTP 500",
                     "Descargando mosaico A01.jpg", "Fin de descarga del mosaico A01.jpg"}));
    EXPECT_FALSE(r.outcome.anyFailed);
}

// The tiles are deleted only once a BMP of this run that holds them is saved; otherwise
// the log says they are kept. Calibration files are written only for that BMP.
TEST_F(RunOf, TilesAndCalibrationOnlyForASavedBmp) {
    const struct {
        const char* name;
        const char* bmpName;
        bool saveBmp;
        bool failA02;
        QStringList closing; // the log after ". Fin de la descarga"
        QStringList left;    // the files left
    } table[] = {
        {"Saved",
         "Prueba",
         true,
         false,
         {". Fichero BMP grabado", ". Archivos del mosaico borrados",
          ". Generada calibración para OZiExplorer"},
         {"Prueba.bmp", "Prueba.map"}},
        {"BmpCannotBeSaved",
         "no/such/Prueba",
         true,
         false,
         {". No se ha podido grabar el fichero BMP: la carpeta no existe",
          ". Mosaicos conservados: no se grabó el fichero BMP",
          ". Calibración no generada: no se grabó el fichero BMP"},
         {"A01.jpg", "A02.jpg"}},
        {"ATileFailed",
         "Prueba",
         true,
         true,
         {". No se descargó algún mosaico", ". Mosaicos conservados: no se grabó el fichero BMP",
          ". Calibración no generada: no se grabó el fichero BMP"},
         {"A01.jpg", "Prueba.morvel"}},
        {"NoBmpAsked",
         "Prueba",
         false,
         false,
         {". Mosaicos conservados: no se grabó el fichero BMP",
          ". Calibración no generada: no se grabó el fichero BMP"},
         {"A01.jpg", "A02.jpg"}},
    };
    for (const auto& row : table) {
        QTemporaryDir folder;
        DownloadJob job = Job(2, 1, folder.path());
        job.bmpName = QString::fromUtf8(row.bmpName);
        job.saveBmp = row.saveBmp;
        job.deleteTiles = true;
        job.saveOzi = true;
        job.printScale = 50000;
        server.clearFaults();
        if (row.failA02) {
            setFault(job, 2, 1, Fault::Http500);
        }
        questions.errors.clear();
        const RunReport r = Run(job);
        const qsizetype end = r.log.indexOf(". Fin de la descarga");
        ASSERT_GE(end, 0) << row.name;
        EXPECT_EQ(r.log.mid(end + 1), row.closing) << row.name;
        EXPECT_EQ(files(folder.path()), row.left) << row.name;
        EXPECT_EQ(questions.errors.size(), QString(row.bmpName).contains('/') ? 1 : 0) << row.name;
        // The BMP prints at the scale of the PDF: 400 pixels of 5 km at 1:50.000 are 4,000 a
        // metre of paper, across and down.
        const QByteArray bmp = ReadAll(QDir(folder.path()).filePath("Prueba.bmp"));
        if (row.left.contains("Prueba.bmp")) {
            ASSERT_GE(bmp.size(), 54) << row.name;
            EXPECT_EQ(qFromLittleEndian<quint32>(bmp.constData() + 38), 4000u);
            EXPECT_EQ(qFromLittleEndian<quint32>(bmp.constData() + 42), 4000u);
        }
    }
}

// The run's files stand where links to files of another folder stood (to a folder, or to
// nothing, for two): each link is replaced by the file and said in the log, and what the
// links named stays byte for byte as it was, with nothing written beside it.
TEST_F(RunOf, OutputsReplaceLinksInTheirPlaceAndLeaveWhatTheyNamed) {
    QTemporaryDir victim;
    const struct {
        const char* name;
        const char* target; // in the victim's folder
    } table[] = {{"Prueba.bmp", "Prueba.bmp"}, {"Prueba.map", "Prueba.map"},
                 {"Prueba.imp", "Prueba.imp"}, {"Prueba.bpw", "Prueba.bpw"},
                 {"Prueba.prj", "missing"},    {"Prueba.bmp.aux.xml", "folder"}};
    ASSERT_TRUE(QDir(victim.path()).mkdir("folder"));
    for (const auto& row : table) {
        if (QString(row.target).startsWith("Prueba")) {
            WriteAll(victim.filePath(row.target), QByteArray("victim's ") + row.target);
        }
        ASSERT_TRUE(QFile::link(victim.filePath(row.target), path(row.name)));
    }
    const std::map<QString, QByteArray> before = FolderSnapshot(victim.path());
    DownloadJob job = Job(2);
    job.saveOzi = job.saveCompe = job.saveWorldFile = true;
    const RunReport r = Run(job);
    EXPECT_FALSE(r.outcome.writeFailed);
    for (const auto& row : table) {
        EXPECT_FALSE(QFileInfo(path(row.name)).isSymLink()) << row.name;
        EXPECT_TRUE(r.log.contains(QStringLiteral(". Sustituido el enlace %1: lo que nombraba "
                                                  "queda como estaba")
                                       .arg(row.name)))
            << row.name;
    }
    EXPECT_EQ(FolderSnapshot(victim.path()), before);
    EXPECT_EQ(QDir(victim.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                  .size(),
              5);
    // Real files of this run: its BMP, and calibration that describes it.
    EXPECT_EQ(QFileInfo(path("Prueba.bmp")).size(), 54 + 800 * 400 * 3);
    EXPECT_TRUE(ReadAll(path("Prueba.map")).contains("IWH,Map Image Width/Height,800,400"));
    EXPECT_TRUE(ReadAll(path("Prueba.imp")).startsWith("CompeGPS MAP File"));
    EXPECT_EQ(ReadAll(path("Prueba.bpw")).count('\n'), 6);
    EXPECT_TRUE(ReadAll(path("Prueba.prj")).startsWith("PROJCS["));
    EXPECT_TRUE(ReadAll(path("Prueba.bmp.aux.xml")).startsWith("<PAMDataset>"));
    EXPECT_EQ(r.log.mid(r.log.indexOf(". Fichero BMP grabado"), 2),
              (QStringList{". Fichero BMP grabado",
                           ". Sustituido el enlace Prueba.bmp: lo que nombraba queda como "
                           "estaba"}));
}

// A folder that takes no file: the first tile fails at once with the reason, no tile is
// asked for ten times, and the run stops after it with a message, keeping what it has.
TEST_F(RunOf, AFolderThatTakesNoFileStopsTheRun) {
    QTemporaryDir folder;
    const DownloadJob job = Job(3, 3, folder.path());
    ReadOnlyFolder readOnly(folder.path());
    if (!readOnly.active()) {
        GTEST_SKIP() << "this file system lets every user write into a read-only folder";
    }
    const RunReport r = Run(job, 2);
    // No tile is asked for twice; at most the transfers under way when the first local
    // failure came in were asked for at all.
    EXPECT_LE(server.requests().size(), 4);
    for (int index = 0; index < 9; ++index) {
        EXPECT_LE(requestsFor(job, index % 3 + 1, index / 3 + 1), 1) << index;
    }
    EXPECT_TRUE(r.outcome.stopped);
    EXPECT_TRUE(r.outcome.writeFailed);
    // The box and the log both name the cause (a read-only folder refuses with EACCES, or
    // EPERM where it takes the immutable flag: the same words).
    const QString reason = LocalWriteErrorFor(EACCES).reason;
    ASSERT_EQ(questions.errors.size(), 1);
    EXPECT_EQ(
        questions.errors[0],
        QStringLiteral("No se pueden grabar los mosaicos en la carpeta %1: %2. Se ha detenido "
                       "la descarga; los mosaicos ya descargados se conservan")
            .arg(QDir::toNativeSeparators(folder.path()), reason));
    ASSERT_GE(r.log.size(), 3);
    EXPECT_EQ(r.log[1], ". Fallo en la descarga del mosaico A01.jpg: " + reason);
    EXPECT_EQ(r.log.last(), ". Descarga detenida: " + reason);
    EXPECT_EQ(r.failed, QList<QPoint>{QPoint(1, 1)});
}

// A02's answer is held back by the server. Meanwhile every tile after it is asked for,
// written and recorded, but none is shown before it; once A02 comes, everything is told in
// grid order as by an undisturbed run, and the BMP is the very same.
TEST_F(RunOf, ABusyTileHoldsUpOnlyItsOwnTurn) {
    QTemporaryDir whole;
    const RunReport undisturbed = Run(Job(5, 4, whole.path()), 2);
    const QByteArray undisturbedBmp = ReadAll(QDir(whole.path()).filePath("Prueba.bmp"));
    ASSERT_FALSE(undisturbedBmp.isEmpty());

    const DownloadJob job = Job(5, 4);
    setFault(job, 2, 1, Fault::Held, 1);
    const int before = CurrentRequestCounter();
    bool othersIn = false;
    qsizetype askedWhileHeld = 0;
    QStringList shownWhileHeld;
    QMetaObject::Connection watch;
    const RunReport r = Run(job, 2, WaitForHeldAnswers, [&](DownloadRun& run) {
        watch = QObject::connect(
            &run, &DownloadRun::tileShown,
            [&](int, int, const QImage&, const QString& name) { shownWhileHeld << name; });
        othersIn = QTest::qWaitFor(
            [&] {
                return server.requestsNumberedAfter(before).size() == 20 &&
                       RecordLists(dir.path(), 19);
            },
            20000);
        askedWhileHeld = server.requestsNumberedAfter(before).size();
        QObject::disconnect(watch);
        server.releaseHeld();
    });
    EXPECT_TRUE(othersIn) << askedWhileHeld << " tiles asked for while A02 was held";
    EXPECT_EQ(shownWhileHeld, QStringList{"A01.jpg"});
    EXPECT_EQ(server.requestsNumberedAfter(before).size(), 20); // each tile once
    EXPECT_EQ(r.log, undisturbed.log);
    EXPECT_EQ(r.statuses, undisturbed.statuses);
    EXPECT_EQ(r.shown, undisturbed.shown);
    EXPECT_EQ(r.progress, undisturbed.progress);
    EXPECT_EQ(ReadAll(path("Prueba.bmp")), undisturbedBmp);
}

// A02 is held while the tiles after it come in; then the folder stops taking files and
// A02's answer finds no room. The run stops at A02's turn, as it would have without the tiles
// after it, and the record keeps each of those as fetched with the size and hash of its file.
TEST_F(RunOf, AFolderFullBehindABusyTileStopsTheRunAtItsTurn) {
    QTemporaryDir folder;
    const DownloadJob job = Job(5, 4, folder.path());
    setFault(job, 2, 1, Fault::Held, 1);
    bool othersIn = false;
    std::optional<ReadOnlyFolder> readOnly;
    const RunReport r = Run(job, 2, WaitForHeldAnswers, [&](DownloadRun&) {
        othersIn = QTest::qWaitFor([&] { return RecordLists(folder.path(), 19); }, 20000);
        readOnly.emplace(folder.path());
        server.releaseHeld();
    });
    ASSERT_TRUE(othersIn);
    if (!readOnly->active()) {
        GTEST_SKIP() << "this file system lets every user write into a read-only folder";
    }
    EXPECT_TRUE(r.outcome.stopped);
    EXPECT_TRUE(r.outcome.writeFailed);
    const QString reason = LocalWriteErrorFor(EACCES).reason;
    EXPECT_EQ(r.log, (QStringList{". Comienzo de la descarga", ". Descargado mosaico A01.jpg",
                                  ". Fallo en la descarga del mosaico A02.jpg: " + reason,
                                  ". Descarga detenida: " + reason}));
    EXPECT_EQ(r.shown, QStringList{"A01.jpg"});
    EXPECT_EQ(r.progress, (std::vector<int>{1, 2}));
    EXPECT_EQ(questions.errors.size(), 1);
    const std::optional<JobRecord> record =
        LoadJobRecord(QDir(folder.path()).filePath("Prueba.morvel"));
    ASSERT_TRUE(record);
    for (int index = 0; index < 20; ++index) {
        const int column = index % 5 + 1;
        const int row = index / 5 + 1;
        if (index == 1) {
            EXPECT_NE(record->state(column, row), TileState::Fetched);
            continue;
        }
        EXPECT_TRUE(record->vouchesFor(column, row)) << index;
        const QByteArray file =
            ReadAll(QDir(folder.path()).filePath(TileFileName(job, column, row)));
        EXPECT_TRUE(record->stamp(column, row) == TileStamp::Of(file)) << index;
    }
}

// Stopped, or destroyed as when the window closes, with four transfers in flight: they are
// all abandoned, no further request leaves and no temporary file is left.
TEST_F(RunOf, StoppingWithTransfersInFlightLeavesNothingHalfDone) {
    for (const bool destroy : {false, true}) {
        QTemporaryDir folder;
        const DownloadJob job = Job(4, 2, folder.path());
        server.clearFaults();
        server.setSlowPace(8, 100);
        server.setFaultForAll(Fault::Slow);
        const int before = static_cast<int>(server.requests().size());
        auto run = std::make_unique<DownloadRun>(job, &manager, questions);
        run->setFetchLimits(QuickFetchLimits());
        run->setConnections(4);
        QSignalSpy done(run.get(), &DownloadRun::finished);
        ASSERT_EQ(run->start(), DownloadRun::StartResult::Started);
        QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(server.requests().size()) - before, 4, 5000);
        QTest::qWait(150); // some bytes of each answer are in their temporary files
        if (destroy) {
            run.reset();
            EXPECT_EQ(done.count(), 0);
        } else {
            run->stop();
            EXPECT_EQ(done.count(), 1);
            EXPECT_TRUE(done.at(0).at(0).value<RunOutcome>().stopped);
        }
        QTest::qWait(300);
        EXPECT_EQ(static_cast<int>(server.requests().size()) - before, 4);
        EXPECT_EQ(files(folder.path()), QStringList{"Prueba.morvel"}) << destroy;
    }
}

} // namespace
