// Controlling runs from the real windows: several transfers at once, stopping a run,
// resuming it, and trying again only the tiles that failed.
#include "tests/ui/RunWindowFixture.h"

#include "download/WhenFinished.h"
#include "run/FolderLock.h"

#include <QLockFile>
#include <QRegularExpression>
#include <QSemaphore>

#include <atomic>

namespace {

// Several transfers at once: the server sees them, the log is the one of a plain loop,
// and closing the window with all of them in flight leaves no temporary file and writes
// the settings once, "Conexiones" included as the file had it.
TEST_F(RunWindowTest, SeveralTransfersAndClosingWithThemInFlight) {
    writeSettings({{"Aplicacion", "Conexiones", "4"},
                   {"Mosaicos", "MosaicosAncho", "3"},
                   {"Mosaicos", "MosaicosAlto", "2"}});
    server.setLatency(30);
    open();
    EXPECT_EQ(window->connections(), 4);
    download();
    EXPECT_EQ(server.maxInFlight(), 4);
    QStringList lines{kStart};
    for (const char row : {'A', 'B', 'C'}) {
        for (int column = 1; column <= 4; ++column) {
            lines << QStringLiteral(". Descargado mosaico %1%2.jpg")
                         .arg(row)
                         .arg(column, 2, 10, QChar(u'0'));
        }
    }
    EXPECT_EQ(messages().mid(0, 14), lines << kEnd);

    press("btnNueva");
    server.setSlowPace(8, 100);
    server.setFaultForAll(Fault::Slow);
    const int before = static_cast<int>(server.requests().size());
    press("btnDescargar");
    closeWhen(&server, &TestMapServer::requestArrived,
              [this, before] { return server.requests().size() - before == 4; });
    QTest::qWait(200);
    EXPECT_EQ(server.requests().size() - before, 4);
    for (const QString& name : files()) {
        EXPECT_FALSE(name.endsWith(".jpg1") || name.contains(".jpg.") || name.contains(".bmp."))
            << name.toStdString();
    }
    const QByteArray ini = ReadAll(cwd.file("Morvel.ini"));
    EXPECT_TRUE(ini.contains("Conexiones=4")) << ini.constData();
    WriteAll(cwd.file("Morvel.ini"), "changed");
    QCloseEvent again;
    QApplication::sendEvent(window.get(), &again);
    EXPECT_EQ(ReadAll(cwd.file("Morvel.ini")), QByteArray("changed"));
}

// "Detener la descarga" is there only while a run goes on. Stopped, the run keeps its
// record; "Descargar" after "Nueva descarga" offers to go on, and OK asks only for the rest.
TEST_F(RunWindowTest, StoppingAndResumingARun) {
    writeSettings({{"Mosaicos", "MosaicosAncho", "3"}, {"Mosaicos", "MosaicosAlto", "3"}});
    server.setLatency(20);
    open();
    QAction* stop = entry("Detener1");
    EXPECT_FALSE(stop->isEnabled());
    press("btnDescargar");
    DownloadRun* run = window->run();
    ASSERT_NE(run, nullptr);
    EXPECT_TRUE(stop->isEnabled());
    int shown = 0;
    QObject::connect(run, &DownloadRun::tileShown, [&shown, stop] {
        if (++shown == 5) {
            QTimer::singleShot(0, stop, &QAction::trigger);
        }
    });
    waitForTheRun();
    EXPECT_EQ(messages().last(), ". Descarga detenida por el usuario");
    EXPECT_EQ(window->statusText(), QStringLiteral("Descarga detenida."));
    expectFinished();
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_FALSE(entry("Reintentar1")->isEnabled()); // nothing failed
    EXPECT_TRUE(files().contains("Prueba.morvel"));
    const int fetched = LoadJobRecord(path("Prueba.morvel"))->count(TileState::Fetched);
    ASSERT_GE(fetched, 5);

    press("btnNueva");
    // Counted by their numbers: the stopped run's last request may reach the server late.
    const int before = CurrentRequestCounter();
    download();
    const QStringList asked = dialogs.texts("okCancel");
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], QStringLiteral("Hay una descarga sin terminar de este mismo mosaico, con "
                                       "%1 de 16 mosaicos descargados. ¿Continuar con los "
                                       "mosaicos ya descargados?")
                            .arg(fetched));
    EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("Continuar la descarga"));
    EXPECT_EQ(server.requestsNumberedAfter(before).size(), 16 - fetched);
    EXPECT_EQ(messages().filter(QRegularExpression("^\\. Reutilizado mosaico ")).size(), fetched);
    expectTilesInBmp(4, 4);
    EXPECT_FALSE(files().contains("Prueba.morvel"));
}

// After a run with failed tiles, "Reintentar los fallidos" asks for exactly those and then
// saves the BMP and writes the calibration files as if the grid had come in one go.
TEST_F(RunWindowTest, RetryingOnlyTheFailedTiles) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}});
    open();
    QAction* retry = entry("Reintentar1");
    EXPECT_FALSE(retry->isEnabled());
    for (const QPoint tile : {QPoint(2, 1), QPoint(1, 2)}) {
        const TileRect b = TileBounds(window->job(), tile.x(), tile.y());
        server.setFault(b.xmin, b.ymin, Fault::Http500);
    }
    download();
    expectFinished();
    EXPECT_TRUE(retry->isEnabled());
    server.clearFaults();
    const int before = static_cast<int>(server.requests().size());
    retry->trigger();
    EXPECT_FALSE(retry->isEnabled());
    waitForTheRun();
    EXPECT_EQ(server.requests().size() - before, 2);
    EXPECT_EQ(messages(),
              (QStringList{kStart, ". Reutilizado mosaico A01.jpg", ". Descargado mosaico A02.jpg",
                           ". Reutilizado mosaico A03.jpg", ". Descargado mosaico B01.jpg",
                           ". Reutilizado mosaico B02.jpg", ". Reutilizado mosaico B03.jpg", kEnd,
                           ". Fichero BMP grabado", ". Archivos del mosaico borrados",
                           ". Generada calibración para OZiExplorer",
                           ". Generada calibración para CompeGPS"}));
    EXPECT_EQ(files(), (QStringList{"Prueba.bmp", "Prueba.imp", "Prueba.map"}));
    expectTilesInBmp(3, 2);
    expectFinished();
    EXPECT_FALSE(retry->isEnabled());
    EXPECT_TRUE(thumbnailShown(1, 1));
    EXPECT_TRUE(thumbnailShown(2, 1));
}

// "Detener la descarga" while the new BMP is being synced: the window shows the stop at
// once, and the older BMP and .map stay together.
TEST_F(RunWindowTest, StoppingWhileTheBmpIsSyncedShowsAtOnce) {
    writeSettings();
    WriteAll(path("Prueba.bmp"), "older bmp");
    WriteAll(path("Prueba.map"), "older map");
    open();
    press("btnDescargar");
    DownloadRun* run = window->run();
    ASSERT_NE(run, nullptr);
    std::atomic<bool> syncing{false};
    QSemaphore release;
    run->setBmpCommitHook([&](DownloadRun::BmpCommitStep step) {
        if (step == DownloadRun::BmpCommitStep::Synced) {
            syncing = true;
            release.tryAcquire(1, 30000);
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return syncing.load(); }, 30000));
    entry("Detener1")->trigger();
    // Before the sync is over.
    EXPECT_EQ(window->statusText(), QStringLiteral("Descarga detenida."));
    EXPECT_EQ(messages().last(), ". Descarga detenida por el usuario");
    expectFinished();
    release.release();
    ImageWorkPool()->waitForDone();
    EXPECT_EQ(ReadAll(path("Prueba.bmp")), "older bmp");
    EXPECT_EQ(ReadAll(path("Prueba.map")), "older map");
    EXPECT_EQ(files(), (QStringList{"A01.jpg", "A02.jpg", "A03.jpg", "B01.jpg", "B02.jpg",
                                    "B03.jpg", "Prueba.bmp", "Prueba.map", "Prueba.morvel"}));
}

// Another run has the folder: "Descargar" says so and the window stays as it was.
TEST_F(RunWindowTest, AFolderInUseIsRefusedWithAMessage) {
    writeSettings();
    QLockFile other(path(FolderLock::FileName()));
    ASSERT_TRUE(other.tryLock(0));
    open();
    press("btnDescargar");
    EXPECT_EQ(dialogs.texts("message"),
              QStringList{QStringLiteral("Otra descarga está en curso en la carpeta %1 (proceso "
                                         "%2). Espere a que termine o elija otra carpeta")
                              .arg(QDir::toNativeSeparators(folder))
                              .arg(QCoreApplication::applicationPid())});
    EXPECT_EQ(window->state(), WindowState::Ready);
    EXPECT_TRUE(find<QPushButton>("btnDescargar")->isEnabled());
    EXPECT_TRUE(log->lines().isEmpty());
    EXPECT_TRUE(server.requests().isEmpty());
    other.unlock();
    download();
    expectFinished();
    expectTilesInBmp(3, 2);
}

} // namespace
