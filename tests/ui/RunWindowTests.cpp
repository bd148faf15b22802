// Pressing "Descargar" in the real windows, offscreen, against a map server on 127.0.0.1:
// the controls, the log, the viewer's cells, the files in the destination folder.
#include "tests/ui/RunWindowFixture.h"

#include "run/MeasureStore.h"
#include "ui/ElidedLabel.h"

#include <QFileInfo>

#include <cerrno>

namespace {

TEST_F(RunWindowTest, ThreeByTwoAllFetched) {
    writeSettings();
    open();
    download();
    EXPECT_EQ(messages(), TileLines() << ". Fichero BMP grabado"
                                      << ". Generada calibración para OZiExplorer"
                                      << ". Generada calibración para CompeGPS");
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(server.requests().size(), 6);
    EXPECT_EQ(files(), QStringList(kThreeByTwo) << "Prueba.bmp"
                                                << "Prueba.imp"
                                                << "Prueba.map");
    EXPECT_EQ(window->statusText(),
              QStringLiteral("Fichero de Calibración para CompeGPS generado."));
    // The tiles, and the files written after them for the tiles their time is worth.
    EXPECT_GE(progress()->maximum(), 6);
    EXPECT_EQ(progress()->value(), progress()->maximum());
    expectFinished();
    // Six thumbnails at the top-left of the board, the rest of it empty.
    for (int column = 1; column <= 10; ++column) {
        for (int row = 1; row <= 10; ++row) {
            EXPECT_EQ(thumbnailShown(column, row), column <= 3 && row <= 2) << column << "," << row;
            EXPECT_FALSE(markerShown(column, row)) << column << "," << row;
        }
    }
    EXPECT_EQ(window->tileBoard().thumbnail(3, 2)->toolTip(), QStringLiteral("B03.jpg"));
    EXPECT_TRUE(window->job().tile(3, 2).fetched);
    // The preview shows the last tile.
    const QPixmap preview = find<QLabel>("IJPG")->pixmap();
    ASSERT_FALSE(preview.isNull());
    EXPECT_TRUE(Near(preview.toImage().pixelColor(40, 36), colourOf(3, 2)));
    expectTilesInBmp(3, 2);
    EXPECT_TRUE(ReadAll(path("Prueba.imp")).contains("BitmapWidth=1200\r\nBitmapHeight=800"));
    EXPECT_TRUE(ReadAll(path("Prueba.map")).contains("Prueba.bmp"));

    // "Nueva descarga" empties the cells and the tile table but keeps the log.
    const QStringList logged = log->lines();
    press("btnNueva");
    EXPECT_EQ(window->state(), WindowState::ReadyAgain);
    EXPECT_EQ(log->lines(), logged);
    EXPECT_EQ(progress()->value(), 0);
    EXPECT_TRUE(find<QLabel>("IJPG")->pixmap().isNull());
    EXPECT_FALSE(thumbnailShown(3, 2));
    EXPECT_FALSE(window->job().tile(3, 2).fetched);
    EXPECT_TRUE(window->job().tile(3, 2).fileName.isEmpty());
    EXPECT_EQ(viewer->pMosaico()->findChildren<QLabel*>().size(), 100);
    // A second run empties the log first and asks before replacing the BMP.
    download();
    EXPECT_EQ(messages().count(kStart), 1);
    EXPECT_EQ(messages().first(), kStart);
    EXPECT_EQ(dialogs.texts("okCancel").value(0),
              QStringLiteral("El fichero ya existe. ¿ Sobreescribir ?"));
    expectFinished();
}

// Into the current directory, without BMP and with CompeGPS only: no per-tile line, no
// overwrite question, and no calibration for an image this run did not make.
TEST_F(RunWindowTest, BmpOptionOffAndMissingFolder) {
    folder = cwd.file(QStringLiteral("gone"));
    writeSettings({{"Aplicacion", "GrabarBMP", "NO"}, {"Calibracion", "OziExplorer", "NO"}});
    WriteAll(cwd.file("Prueba.bmp"), "old");
    open();
    dialogs.choiceAnswer = 1; // "Usar la carpeta actual"
    download();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const QString current = QDir::toNativeSeparators(QDir::currentPath());
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("choice"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Carpeta destino"));
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("La carpeta destino %1 no existe. ¿Crearla, o grabar los ficheros "
                             "en la carpeta actual, %2?")
                  .arg(QDir::toNativeSeparators(folder), current));
    EXPECT_EQ(
        dialogs.choiceButtons,
        (QStringList{"Crear la carpeta", "Usar la carpeta actual (" + current + ")", "Cancelar"}));
    EXPECT_EQ(find<QLineEdit>("eCarpeta")->text(), current);
    // No BMP of this run: no calibration either, and the old image keeps its own.
    EXPECT_EQ(messages(),
              (QStringList{kStart, kEnd, ". Calibración no generada: no se grabó el fichero BMP"}));
    EXPECT_EQ(ReadAll(cwd.file("Prueba.bmp")), QByteArray("old"));
    EXPECT_EQ(QDir(cwd.path()).entryList(QDir::Files, QDir::Name), QStringList(kThreeByTwo)
                                                                       << "Morvel.ini"
                                                                       << "Prueba.bmp");
    EXPECT_TRUE(thumbnailShown(3, 2));
    expectFinished();
    window->close();
    EXPECT_EQ(IniFile(cwd.file("Morvel.ini")).value("Aplicacion", "Carpeta"), current);
}

// A folder that is not there is made when asked to be, with the folders above it; Cancelar,
// Escape, or a folder that cannot be made (the reason said) leave everything as it was:
// nothing asked for nor written, the folder field as typed.
TEST_F(RunWindowTest, AMissingFolderIsMadeOrNothingHappens) {
    WriteAll(cwd.file("ocupado"), "a file");
    const struct {
        const char* folder;
        int answer;
        const char* error; // with the folder and the file in the way, in that order
    } cases[] = {
        {"nuevo/mapas", 0, nullptr},
        {"otro/mapas", 2, nullptr},
        {"ocupado/mapas", 0,
         "No se ha podido crear la carpeta %1: «%2» es un fichero, no una "
         "carpeta"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        window.reset();
        dialogs.shown.clear();
        folder = QDir::toNativeSeparators(cwd.file(QString::fromUtf8(c.folder)));
        writeSettings();
        open();
        dialogs.choiceAnswer = c.answer;
        const int asked = server.requests().size();
        download();
        ASSERT_FALSE(dialogs.shown.empty());
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("choice"));
        EXPECT_EQ(find<QLineEdit>("eCarpeta")->text(), folder);
        if (c.answer == 0 && !c.error) {
            EXPECT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(files(), QStringList(kThreeByTwo) << "Prueba.bmp"
                                                        << "Prueba.imp"
                                                        << "Prueba.map");
            expectFinished();
            continue;
        }
        if (c.error) {
            ASSERT_EQ(dialogs.texts("error").size(), 1);
            EXPECT_EQ(dialogs.texts("error").front(),
                      QString::fromUtf8(c.error).arg(
                          folder, QDir::toNativeSeparators(cwd.file("ocupado"))));
        }
        EXPECT_EQ(dialogs.shown.size(), c.error ? 2u : 1u);
        EXPECT_FALSE(QFileInfo::exists(folder));
        EXPECT_EQ(server.requests().size(), asked);
        EXPECT_TRUE(log->lines().isEmpty());
        EXPECT_EQ(window->state(), WindowState::Ready);
        EXPECT_TRUE(find<QPushButton>("btnDescargar")->isEnabled());
        EXPECT_EQ(
            QDir(cwd.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
            (QStringList{"Morvel.ini", "mapas", "nuevo", "ocupado"}));
    }
}

TEST_F(RunWindowTest, CancelAtTheOverwriteQuestion) {
    writeSettings();
    WriteAll(path("Prueba.bmp"), "old");
    open();
    dialogs.okAnswer = false;
    press("btnDescargar");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("okCancel"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Grabar fichero BMP"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("El fichero ya existe. ¿ Sobreescribir ?"));
    EXPECT_EQ(messages(), QStringList{kStart});
    EXPECT_EQ(window->state(), WindowState::Ready);
    EXPECT_FALSE(markerShown(1, 1));
    QTest::qWait(50);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(files(), QStringList{"Prueba.bmp"});
}

// B02's fetch fails while later tiles are already in: it advances the progress bar once
// in its place and ends with its red marker; the preview keeps the tile before it. With
// no BMP saved, the tiles stay although the delete option is on, and the log says so.
TEST_F(RunWindowTest, SomeTilesFailWithTheDeleteOption) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}, {"Aplicacion", "Conexiones", "4"}});
    open();
    const TileRect b = TileBounds(window->job(), 2, 2);
    server.setFault(b.xmin, b.ymin, Fault::Http500);
    press("btnDescargar");
    DownloadRun* run = window->run();
    ASSERT_NE(run, nullptr);
    QList<int> values; // what the bar is set to; it would ignore a count past its maximum
    QObject::connect(run, &DownloadRun::progress, [&values](int v) { values << v; });
    QStringList previewAtFailure;
    QObject::connect(run, &DownloadRun::tileFailed, [this, &previewAtFailure] {
        previewAtFailure << (find<QLabel>("IJPG")->pixmap().isNull() ? "empty" : "tile");
    });
    QSignalSpy done(run, &DownloadRun::finished);
    ASSERT_TRUE(done.wait(60000));
    EXPECT_EQ(values, (QList<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(progress()->value(), progress()->maximum());
    EXPECT_EQ(previewAtFailure, QStringList{"tile"});
    // The failed tile with its reason, and the calibration that was ticked but not made.
    EXPECT_EQ(messages(), TileLines({"B02.jpg"}, "HTTP 500")
                              << ". No se descargó algún mosaico"
                              << ". Mosaicos conservados: no se grabó el fichero BMP"
                              << ". Calibración no generada: no se grabó el fichero BMP");
    QStringList kept = kThreeByTwo;
    kept.removeAll("B02.jpg");
    EXPECT_EQ(files(), kept << "Prueba.morvel"); // no BMP, no calibration
    EXPECT_TRUE(dialogs.shown.empty());
    // The failed marker with its label, and the fetch's reason as hint.
    ASSERT_TRUE(markerShown(2, 2));
    const QLabel* marker = window->tileBoard().marker(2, 2);
    EXPECT_TRUE(marker->text().startsWith(QStringLiteral("B02\n"))) << marker->text().toStdString();
    EXPECT_EQ(marker->palette().color(QPalette::Window), TileBoard::FailedColour());
    EXPECT_EQ(marker->toolTip(), QStringLiteral("HTTP 500"));
    EXPECT_FALSE(thumbnailShown(2, 2));
    EXPECT_TRUE(thumbnailShown(3, 2));
    // The window itself says that the run failed, until "Nueva descarga".
    EXPECT_EQ(
        window->statusText(),
        QStringLiteral("Fin de descarga: 1 de 6 mosaicos con fallo. No se grabó el fichero BMP."));
    expectFinished();
    press("btnNueva");
    EXPECT_EQ(window->statusText(), QString());
}

TEST_F(RunWindowTest, EveryTileFailsAndNothingIsDeleted) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}});
    WriteAll(path("A01.jpg"), "earlier");
    server.setFaultForAll(Fault::Http404);
    open();
    download();
    EXPECT_EQ(messages(), TileLines(kThreeByTwo, "HTTP 404")
                              << ". No se descargó ningún mosaico"
                              << ". Calibración no generada: no se grabó el fichero BMP");
    EXPECT_EQ(
        window->statusText(),
        QStringLiteral("Fin de descarga: 6 de 6 mosaicos con fallo. No se grabó el fichero BMP."));
    EXPECT_GE(progress()->maximum(), 6);
    EXPECT_EQ(progress()->value(), progress()->maximum());
    EXPECT_EQ(files(), (QStringList{"A01.jpg", "Prueba.morvel"}));
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            EXPECT_TRUE(markerShown(column, row));
            EXPECT_FALSE(thumbnailShown(column, row));
        }
    }
    expectFinished();
}

// The BMP is saved first, then the tiles it holds are deleted.
TEST_F(RunWindowTest, DeleteAndBmpOptionsBothOn) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}});
    open();
    download();
    EXPECT_EQ(messages().mid(7),
              (QStringList{kEnd, ". Fichero BMP grabado", ". Archivos del mosaico borrados",
                           ". Generada calibración para OZiExplorer",
                           ". Generada calibración para CompeGPS"}));
    EXPECT_EQ(files(), (QStringList{"Prueba.bmp", "Prueba.imp", "Prueba.map"}));
    expectTilesInBmp(3, 2);
    // With the delete option the viewer's toggle is off as soon as it is shown.
    viewer->show();
    EXPECT_FALSE(viewer->findChild<QPushButton*>(QStringLiteral("btnMosaicos"))->isEnabled());
    viewer->hide();
}

TEST_F(RunWindowTest, GridWithoutTilesDoesNotStart) {
    writeSettings();
    open();
    auto* across = find<QComboBox>("cbAncho");
    across->lineEdit()->selectAll();
    QTest::keyClicks(across->lineEdit(), QStringLiteral("12"));
    dialogs.shown.clear();
    press("btnDescargar");
    EXPECT_EQ(dialogs.texts("message"), QStringList{"Seleccione el número de mosaicos"});
    EXPECT_EQ(window->run(), nullptr);
    EXPECT_TRUE(log->lines().isEmpty());
    EXPECT_EQ(window->state(), WindowState::Ready);
}

// A name the folder cannot take with what is asked for is refused before the first tile,
// saying how long it may be; the exports asked for count.
TEST_F(RunWindowTest, NameTooLongForTheFolderDoesNotStart) {
    writeSettings({{"Exportar", "MBTiles", "SI"}});
    open();
    auto* name = find<QLineEdit>("eNombreFichero");
    name->selectAll();
    QTest::keyClicks(name, QString(230, u'n'));
    dialogs.shown.clear();
    press("btnDescargar");
    EXPECT_EQ(dialogs.texts("message"),
              QStringList{"El nombre del fichero BMP es demasiado largo para la carpeta destino: "
                          "con los ficheros que se van a grabar, admite hasta 220 caracteres"});
    EXPECT_EQ(window->run(), nullptr);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(files().isEmpty());
    EXPECT_EQ(window->state(), WindowState::Ready);
}

// A folder stands where the BMP goes: the save fails, the tiles stay although the delete
// option is on, no calibration describes the missing image, and the run finishes.
TEST_F(RunWindowTest, BmpThatCannotBeWrittenIsShownAndTheRunFinishes) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}});
    ASSERT_TRUE(QDir(folder).mkdir("Prueba.bmp"));
    open();
    download();
    // The cause in the box and in the log, and a status bar that no longer says it saves.
    const QString reason = LocalWriteErrorFor(EISDIR).reason;
    EXPECT_EQ(dialogs.texts("error"),
              QStringList{QStringLiteral("No se ha podido grabar el fichero BMP %1: %2")
                              .arg(QDir::toNativeSeparators(path("Prueba.bmp")), reason)});
    EXPECT_EQ(window->statusText(), QStringLiteral("No se ha podido grabar el fichero BMP."));
    EXPECT_EQ(messages().mid(7),
              (QStringList{kEnd, ". No se ha podido grabar el fichero BMP: " + reason,
                           ". Mosaicos conservados: no se grabó el fichero BMP",
                           ". Calibración no generada: no se grabó el fichero "
                           "BMP"}));
    EXPECT_EQ(files(), QStringList(kThreeByTwo) << "Prueba.morvel");
    expectFinished();
}

TEST_F(RunWindowTest, RefusedCalibrationOverwriteIsReportedAndTheOtherFileWritten) {
    writeSettings();
    WriteAll(path("Prueba.map"), "old");
    open();
    dialogs.okAnswer = false;
    download();
    EXPECT_EQ(dialogs.texts("okCancel").size(), 1);
    EXPECT_EQ(dialogs.texts("message"),
              QStringList{"No se ha generado el fichero de calibración de OziExplorer"});
    EXPECT_EQ(messages().mid(9), (QStringList{". No se ha generado calibración para OZiExplorer",
                                              ". Generada calibración para CompeGPS"}));
    EXPECT_EQ(ReadAll(path("Prueba.map")), QByteArray("old"));
    EXPECT_TRUE(QFileInfo::exists(path("Prueba.imp")));
    expectFinished();
}

// Stopped after the tile in flight: no temporary download, no BMP, no calibration.
TEST_F(RunWindowTest, ClosingDuringAFetchStopsTheRunAndWritesTheSettingsOnce) {
    writeSettings({{"Aplicacion", "Conexiones", "1"}});
    open();
    const TileRect b = TileBounds(window->job(), 3, 1);
    server.setFault(b.xmin, b.ymin, Fault::Stall);
    press("btnDescargar");
    closeWhen(&server, &TestMapServer::requestArrived,
              [this] { return server.requests().size() == 3; });
    EXPECT_TRUE(ReadAll(cwd.file("Morvel.ini")).contains("Carpeta=" + folder.toUtf8()));
    // The record stays, for a later run to go on from. It names as fetched only tiles that
    // are there; a tile whose answer was still being decoded may be there or not.
    const std::optional<JobRecord> record = LoadJobRecord(path("Prueba.morvel"));
    ASSERT_TRUE(record);
    QStringList left = files();
    EXPECT_TRUE(left.removeAll("Prueba.morvel") == 1);
    for (int column = 1; column <= 3; ++column) {
        const QString name = QStringLiteral("A0%1.jpg").arg(column);
        if (record->state(column, 1) == TileState::Fetched) {
            EXPECT_TRUE(left.contains(name)) << column;
        }
    }
    for (const QString& name : left) {
        EXPECT_TRUE(name == "A01.jpg" || name == "A02.jpg") << name.toStdString();
    }
    EXPECT_EQ(server.requests().size(), 3);
    // A second close request after the run's close leaves the file as the first one wrote it.
    WriteAll(cwd.file("Morvel.ini"), "changed");
    QCloseEvent again;
    QApplication::sendEvent(window.get(), &again);
    EXPECT_EQ(ReadAll(cwd.file("Morvel.ini")), QByteArray("changed"));
}

// Closed while a 4 x 4 mosaic is being written: the BMP is the old one or the whole new
// one, never a part, and no temporary file is left.
TEST_F(RunWindowTest, ClosingWhileTheBmpIsWrittenLeavesNoHalfFile) {
    writeSettings({{"Mosaicos", "MosaicosAncho", "3"}, {"Mosaicos", "MosaicosAlto", "3"}});
    WriteAll(path("Prueba.bmp"), "old");
    open();
    press("btnDescargar");
    ASSERT_NE(window->run(), nullptr);
    closeWhen(window->run(), &DownloadRun::statusText,
              [this] { return window->statusText() == "Grabando el mosaico a .BMP."; });
    EXPECT_FALSE(messages().contains(". Fichero BMP grabado"));
    EXPECT_EQ(files().size(), 16 + 2) << files().join(' ').toStdString();
    EXPECT_TRUE(files().contains("Prueba.morvel"));
    const QByteArray bmp = ReadAll(path("Prueba.bmp"));
    if (bmp != QByteArray("old")) {
        EXPECT_EQ(QImage::fromData(bmp, "BMP").size(), QSize(1600, 1600));
    }
}

// Chosen in the menu: the GPS files on WGS 84, named with the operation that moved them,
// and the world file with the image's CRS for GIS programs.
TEST_F(RunWindowTest, Wgs84FilesAndAWorldFile) {
    writeSettings({{"Calibracion", "Datum", "WGS84"}, {"Calibracion", "Georreferencia", "SI"}});
    open();
    download();
    const QStringList m = messages();
    ASSERT_EQ(m.size(), 8 + 5);
    EXPECT_TRUE(m[9].startsWith(". Calibración WGS 84: ED50 to ETRS89 ")) << m[9].toStdString();
    EXPECT_EQ(m.mid(10), (QStringList{". Generada calibración para OZiExplorer",
                                      ". Generada calibración para CompeGPS",
                                      ". Generado fichero de georreferencia"}));
    EXPECT_EQ(files(), QStringList(kThreeByTwo) << "Prueba.bmp"
                                                << "Prueba.bmp.aux.xml"
                                                << "Prueba.bpw"
                                                << "Prueba.imp"
                                                << "Prueba.map"
                                                << "Prueba.prj");
    EXPECT_TRUE(ReadAll(path("Prueba.imp")).contains("Datum=WGS 84"));
    EXPECT_EQ(ReadAll(path("Prueba.bpw")),
              QByteArray("12.5\r\n0\r\n0\r\n-12.5\r\n585006.25\r\n4729993.75\r\n"));
    EXPECT_EQ(window->statusText(), QStringLiteral("Fichero de georreferencia generado."));
}

TEST_F(RunWindowTest, TenByTenLogOrderAndBmp) {
    writeSettings({{"Mosaicos", "MosaicosAncho", "9"}, {"Mosaicos", "MosaicosAlto", "9"}});
    open();
    download();
    const QStringList m = messages();
    ASSERT_EQ(m.size(), 1 + 100 + 4);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(m.at(1 + i), QStringLiteral(". Descargado mosaico %1%2.jpg")
                                   .arg(QChar(u'A' + i / 10))
                                   .arg(i % 10 + 1, 2, 10, QChar(u'0')));
    }
    expectTilesInBmp(10, 10);
    EXPECT_TRUE(thumbnailShown(10, 10));
}

// What a run measured is kept in the user's cache folder, not in the job's: the estimate of
// the same area, at once and in the next session, is what was measured, with nothing left
// "aprox.", the export's size included.
TEST_F(RunWindowTest, TheNextSessionEstimatesFromWhatThisOneMeasured) {
    writeSettings({{"Exportar", "GeoTIFF", "SI"}});
    open();
    const QString before = window->estimateText();
    EXPECT_TRUE(before.contains("tiempo sin medir aún")) << before.toStdString();
    EXPECT_TRUE(before.endsWith(" aprox.")) << before.toStdString();
    download();
    const QString after = window->estimateText();
    EXPECT_FALSE(after.contains("aprox.")) << after.toStdString();
    EXPECT_TRUE(after.contains("; tiempo ")) << after.toStdString();
    EXPECT_EQ(find<ElidedLabel>("stEstimacion")->fullText(), after);
    window->close();
    window.reset();
    MeasureStore::WaitForWrites();
    EXPECT_TRUE(QFileInfo(MeasureStore::Path()).isFile());
    EXPECT_TRUE(files().filter(QStringLiteral(".json")).isEmpty());

    open();
    EXPECT_TRUE(QTest::qWaitFor([this, &after] { return window->estimateText() == after; }, 5000))
        << window->estimateText().toStdString();
}

} // namespace
