// Pressing "Descargar" in the real windows, offscreen, against a map server on 127.0.0.1:
// the controls, the log, the viewer's cells, the files in the destination folder.
#include "job/MapKinds.h"
#include "run/DownloadRun.h"
#include "tests/support/TestMapServer.h"
#include "ui/AcercaDe.h"
#include "ui/IniFile.h"
#include "ui/fPruncipal.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include "UiTestSupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

// Readable values in the test's failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Fault = TestMapServer::Fault;

// Every line of these tests carries this stamp.
const QString kStamp = QStringLiteral("07/12/2026 13:05:09");
const QStringList kThreeByTwo{"A01.jpg", "A02.jpg", "A03.jpg", "B01.jpg", "B02.jpg", "B03.jpg"};
const QString kStart = QStringLiteral(". Comienzo de la descarga");
const QString kEnd = QStringLiteral(". Fin de la descarga");

// The start line and one line per tile of the 3 x 2 grid, those of `failed` failed.
QStringList TileLines(const QStringList& failed = {}) {
    QStringList lines{kStart};
    for (const QString& name : kThreeByTwo) {
        lines << (failed.contains(name) ? ". Fallo en la descarga del mosaico "
                                        : ". Descargado mosaico ") +
                     name;
    }
    return lines << kEnd;
}

bool Near(const QColor& a, const QColor& b, int tolerance = 6) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

class RunWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setQuitOnLastWindowClosed(false);
        ASSERT_TRUE(server.listen());
        folder = cwd.file(QStringLiteral("mapas"));
        ASSERT_TRUE(QDir().mkpath(folder));
    }

    // Orthophoto of 5000 m tiles from 585000 / 4730000, 3 across and 2 down, every
    // option on but the clean-up; the {section, key, value} of `changes` come first.
    void writeSettings(std::vector<std::array<const char*, 3>> changes = {}) {
        IniFile ini(cwd.file(QStringLiteral("Morvel.ini")));
        ini.writeString("Aplicacion", "Servidor", server.baseUrl());
        ini.writeString("Aplicacion", "Carpeta", folder);
        changes.insert(changes.end(), {{"Aplicacion", "GrabarBMP", "SI"},
                                       {"Mosaicos", "MosaicosAncho", "2"},
                                       {"Mosaicos", "MosaicosAlto", "1"},
                                       {"Mosaicos", "TipoMosaico", "1"},
                                       {"Mosaicos", "Cobertura", "0"},
                                       {"Mosaicos", "UTMSupIzqX", "585000"},
                                       {"Mosaicos", "UTMSupIzqY", "730000"},
                                       {"Calibracion", "OziExplorer", "SI"},
                                       {"Calibracion", "CompeGPS", "SI"}});
        for (const auto& [section, key, value] : changes) {
            if (!ini.value(section, key)) {
                ini.writeString(section, key, QString::fromUtf8(value));
            }
        }
        ASSERT_TRUE(ini.save());
    }

    // The four windows as the program makes them.
    void open() {
        window = std::make_unique<TfPrincipal>(&dialogs);
        log = std::make_unique<TfElegirCarpeta>();
        viewer = std::make_unique<TfMosaico>();
        about = std::make_unique<TAboutBox>();
        log->setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(13, 5, 9)); });
        window->attachWindows(log.get(), viewer.get(), about.get());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void press(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }

    // Presses "Descargar" and waits for the run to end.
    void download() {
        press("btnDescargar");
        DownloadRun* run = window->run();
        if (run && run->isRunning()) {
            QSignalSpy done(run, &DownloadRun::finished);
            ASSERT_TRUE(done.wait(60000));
        }
    }

    // Closes the window from the event loop once `trigger` fires with `ready()` true, and
    // waits for that.
    template <typename Sender, typename Signal, typename Ready>
    void closeWhen(Sender* sender, Signal trigger, Ready ready) {
        QEventLoop loop;
        QObject::connect(sender, trigger, window.get(), [this, &loop, ready](auto&&...) {
            if (ready()) {
                QTimer::singleShot(0, window.get(), [this, &loop] {
                    window->close();
                    loop.quit();
                });
            }
        });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(window->isRunning());
        QTest::qWait(100);
    }

    template <typename T> T* find(const char* name) const {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QProgressBar* progress() const { return find<QProgressBar>("pbMosaico"); }

    // The log's messages, each checked to carry the stamp.
    QStringList messages() const {
        QStringList out;
        for (const QString& line : log->lines()) {
            EXPECT_TRUE(line.startsWith(kStamp)) << line.toStdString();
            out << line.mid(kStamp.size());
        }
        return out;
    }

    QStringList files() const { return QDir(folder).entryList(QDir::Files, QDir::Name); }
    QString path(const QString& name) const { return QDir(folder).filePath(name); }

    QColor colourOf(int column, int row) const {
        const TileRect b = TileBounds(window->job(), column, row);
        return TestMapServer::TileColour(b.xmin, b.ymin);
    }

    // Every tile of the grid at its 400-pixel place: its corners and its centre.
    void expectTilesInBmp(int across, int down) const {
        const QImage bmp(path("Prueba.bmp"), "BMP");
        ASSERT_EQ(bmp.size(), QSize(400 * across, 400 * down));
        for (int row = 1; row <= down; ++row) {
            for (int column = 1; column <= across; ++column) {
                const int x = (column - 1) * 400;
                const int y = (row - 1) * 400;
                for (const QPoint p : {QPoint(x, y), QPoint(x + 399, y), QPoint(x, y + 399),
                                       QPoint(x + 399, y + 399), QPoint(x + 200, y + 200)}) {
                    EXPECT_TRUE(Near(bmp.pixelColor(p), colourOf(column, row)))
                        << column << "," << row << " at " << p.x() << "," << p.y();
                }
            }
        }
    }

    // The board as the user would see it: a marker or a thumbnail shown in the cell.
    bool markerShown(int column, int row) const {
        const QLabel* m = window->tileBoard().marker(column, row);
        return m && !m->isHidden();
    }
    bool thumbnailShown(int column, int row) const {
        const QLabel* t = window->tileBoard().thumbnail(column, row);
        return t && !t->isHidden();
    }

    // The controls of each state are checked by the main window's own tests.
    void expectFinished() const {
        EXPECT_EQ(window->state(), WindowState::Finished);
        EXPECT_TRUE(find<QPushButton>("btnNueva")->isEnabled());
    }

    CurrentDirScope cwd;
    TestMapServer server;
    FakeDialogs dialogs;
    QString folder;
    std::unique_ptr<TfPrincipal> window;
    std::unique_ptr<TfElegirCarpeta> log;
    std::unique_ptr<TfMosaico> viewer;
    std::unique_ptr<TAboutBox> about;
};

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
    EXPECT_EQ(progress()->maximum(), 6);
    EXPECT_EQ(progress()->value(), 6);
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
// overwrite question, and the calibration where the tiles went.
TEST_F(RunWindowTest, BmpOptionOffAndMissingFolder) {
    folder = cwd.file(QStringLiteral("gone"));
    writeSettings({{"Aplicacion", "GrabarBMP", "NO"}, {"Calibracion", "OziExplorer", "NO"}});
    WriteAll(cwd.file("Prueba.bmp"), "old");
    open();
    download();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("notice"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Carpeta destino"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("La carpeta destino no existe. Los ficheros "
                                                    "se grabarán en la carpeta actual"));
    const QString current = QDir::toNativeSeparators(QDir::currentPath());
    EXPECT_EQ(find<QLineEdit>("eCarpeta")->text(), current);
    EXPECT_EQ(messages(), (QStringList{kStart, kEnd, ". Generada calibración para CompeGPS"}));
    EXPECT_EQ(ReadAll(cwd.file("Prueba.bmp")), QByteArray("old"));
    EXPECT_EQ(QDir(cwd.path()).entryList(QDir::Files, QDir::Name), QStringList(kThreeByTwo)
                                                                       << "Morvel.ini"
                                                                       << "Prueba.bmp"
                                                                       << "Prueba.imp");
    EXPECT_TRUE(thumbnailShown(3, 2));
    expectFinished();
    window->close();
    EXPECT_EQ(IniFile(cwd.file("Morvel.ini")).value("Aplicacion", "Carpeta"), current);
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

// B02's fetch fails; A02 is fetched but spoilt before it is read back for the preview.
// Each advances the progress bar once and ends with its red marker.
TEST_F(RunWindowTest, SomeTilesFailWithTheDeleteOption) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}});
    open();
    const TileRect b = TileBounds(window->job(), 2, 2);
    server.setFault(b.xmin, b.ymin, Fault::Http500);
    press("btnDescargar");
    DownloadRun* run = window->run();
    ASSERT_NE(run, nullptr);
    QList<int> values; // what the bar is set to; it would ignore a count past its maximum
    QObject::connect(run, &DownloadRun::progress, [&values](int v) { values << v; });
    QObject::connect(run, &DownloadRun::tileDownloaded, [this](int column, int row) {
        if (column == 2 && row == 1) {
            WriteAll(path("A02.jpg"), "not a picture");
        }
    });
    // Empty after the spoilt file, the previous tile's after a failed fetch.
    QStringList previewAtFailure;
    QObject::connect(run, &DownloadRun::tileFailed, [this, &previewAtFailure] {
        previewAtFailure << (find<QLabel>("IJPG")->pixmap().isNull() ? "empty" : "tile");
    });
    QSignalSpy done(run, &DownloadRun::finished);
    ASSERT_TRUE(done.wait(60000));
    EXPECT_EQ(values, (QList<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(progress()->value(), 6);
    EXPECT_EQ(previewAtFailure, (QStringList{"empty", "tile"}));
    EXPECT_EQ(messages(), TileLines({"A02.jpg", "B02.jpg"}) << ". No se descargó algún mosaico"
                                                            << ". Archivos del mosaico borrados");
    EXPECT_TRUE(files().isEmpty()); // tiles deleted, no BMP, no calibration
    EXPECT_TRUE(dialogs.shown.empty());
    // The red markers with their labels, and the fetch's reason as hint.
    for (const QPoint cell : {QPoint(2, 1), QPoint(2, 2)}) {
        ASSERT_TRUE(markerShown(cell.x(), cell.y()));
        const QLabel* marker = window->tileBoard().marker(cell.x(), cell.y());
        EXPECT_EQ(marker->text(), TileLabel(window->job(), cell.x(), cell.y()));
        EXPECT_EQ(marker->palette().color(QPalette::Window), QColor(255, 0, 0));
        EXPECT_FALSE(marker->toolTip().isEmpty());
        EXPECT_FALSE(thumbnailShown(cell.x(), cell.y()));
    }
    EXPECT_TRUE(thumbnailShown(3, 2)); // its copy of the picture outlives the file
    EXPECT_EQ(window->statusText(), QStringLiteral("Archivos del mosaico borrados."));
    expectFinished();
}

TEST_F(RunWindowTest, EveryTileFailsAndNothingIsDeleted) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}});
    WriteAll(path("A01.jpg"), "earlier");
    server.setFaultForAll(Fault::Http404);
    open();
    download();
    EXPECT_EQ(messages(), TileLines(kThreeByTwo) << ". No se descargó ningún mosaico");
    EXPECT_EQ(progress()->maximum(), 6);
    EXPECT_EQ(progress()->value(), 6);
    EXPECT_EQ(files(), QStringList{"A01.jpg"});
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            EXPECT_TRUE(markerShown(column, row));
            EXPECT_FALSE(thumbnailShown(column, row));
        }
    }
    expectFinished();
}

// The tiles are gone before the BMP is written, which still holds every one.
TEST_F(RunWindowTest, DeleteAndBmpOptionsBothOn) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}});
    open();
    download();
    EXPECT_EQ(messages().mid(7),
              (QStringList{kEnd, ". Archivos del mosaico borrados", ". Fichero BMP grabado",
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

TEST_F(RunWindowTest, BmpThatCannotBeWrittenIsShownAndTheRunFinishes) {
    writeSettings({{"Aplicacion", "Fichero", "no/such/Prueba"}});
    open();
    download();
    const QStringList errors = dialogs.texts("error");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("No se ha podido grabar el fichero BMP "))
        << errors[0].toStdString();
    EXPECT_EQ(messages().last(), kEnd);
    EXPECT_EQ(files(), kThreeByTwo); // no calibration for an image that is not there
    expectFinished();
}

TEST_F(RunWindowTest, RefusedCalibrationOverwriteIsReportedAndTheOtherFileWritten) {
    writeSettings({{"Aplicacion", "GrabarBMP", "NO"}});
    WriteAll(path("Prueba.map"), "old");
    open();
    dialogs.okAnswer = false;
    download();
    EXPECT_EQ(dialogs.texts("okCancel").size(), 1);
    EXPECT_EQ(dialogs.texts("message"),
              QStringList{"No se ha generado el fichero de calibración de OziExplorer"});
    EXPECT_EQ(messages().mid(2), (QStringList{". No se ha generado calibración para OZiExplorer",
                                              ". Generada calibración para CompeGPS"}));
    EXPECT_EQ(ReadAll(path("Prueba.map")), QByteArray("old"));
    EXPECT_TRUE(QFileInfo::exists(path("Prueba.imp")));
    expectFinished();
}

// Stopped after the tile in flight: no temporary download, no BMP, no calibration.
TEST_F(RunWindowTest, ClosingDuringAFetchStopsTheRunAndWritesTheSettingsOnce) {
    writeSettings();
    open();
    const TileRect b = TileBounds(window->job(), 3, 1);
    server.setFault(b.xmin, b.ymin, Fault::Stall);
    press("btnDescargar");
    closeWhen(&server, &TestMapServer::requestArrived,
              [this] { return server.requests().size() == 3; });
    EXPECT_TRUE(ReadAll(cwd.file("Morvel.ini")).contains("Carpeta=" + folder.toUtf8()));
    EXPECT_EQ(files(), (QStringList{"A01.jpg", "A02.jpg"}));
    EXPECT_EQ(server.requests().size(), 3);
    // A second close request after the run's close leaves the file as the first one wrote it.
    WriteAll(cwd.file("Morvel.ini"), "changed");
    QCloseEvent again;
    QApplication::sendEvent(window.get(), &again);
    EXPECT_EQ(ReadAll(cwd.file("Morvel.ini")), QByteArray("changed"));
}

// A 4 x 4 mosaic takes several turns of the event loop to write; closed during them, the
// old BMP stays and no temporary file is left.
TEST_F(RunWindowTest, ClosingWhileTheBmpIsWrittenKeepsTheOldFile) {
    writeSettings({{"Mosaicos", "MosaicosAncho", "3"}, {"Mosaicos", "MosaicosAlto", "3"}});
    WriteAll(path("Prueba.bmp"), "old");
    open();
    press("btnDescargar");
    ASSERT_NE(window->run(), nullptr);
    closeWhen(window->run(), &DownloadRun::statusText,
              [this] { return window->statusText() == "Grabando el mosaico a .BMP."; });
    EXPECT_FALSE(messages().contains(". Fichero BMP grabado"));
    EXPECT_EQ(files().size(), 16 + 1) << files().join(' ').toStdString();
    EXPECT_EQ(ReadAll(path("Prueba.bmp")), QByteArray("old"));
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

} // namespace
