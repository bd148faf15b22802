// Pressing "Descargar" in the real windows, offscreen, against a map server on 127.0.0.1:
// the controls, the log, the viewer's cells, the files in the destination folder.
#include "download/DownloadRun.h"
#include "download/MapKinds.h"
#include "tests/support/TestMapServer.h"
#include "ui/AcercaDe.h"
#include "ui/IniFile.h"
#include "ui/fPruncipal.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include "UiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

// Readable values in the test's failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Fault = TestMapServer::Fault;

// Every line of these tests carries this stamp.
const QString kStamp = QStringLiteral("07/12/2026 13:05:09");
const QStringList kThreeByTwo{"A01.jpg", "A02.jpg", "A03.jpg", "B01.jpg", "B02.jpg", "B03.jpg"};

bool Near(const QColor& a, const QColor& b, int tolerance = 6) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

class RunWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_quitOnClose = QApplication::quitOnLastWindowClosed();
        QApplication::setQuitOnLastWindowClosed(false);
        ASSERT_TRUE(server.listen());
        folder = cwd.file(QStringLiteral("mapas"));
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    void TearDown() override {
        about.reset();
        viewer.reset();
        log.reset();
        window.reset();
        QApplication::setQuitOnLastWindowClosed(m_quitOnClose);
    }

    // Orthophoto of 5000 m tiles from 585000 / 4730000, 3 across and 2 down, every
    // option on but the clean-up; `changes` replaces or adds "Section/Key" values.
    void writeSettings(const QMap<QString, QString>& changes = {}) {
        QMap<QString, QString> keys{{"Aplicacion/Servidor", server.baseUrl()},
                                    {"Aplicacion/Carpeta", folder},
                                    {"Aplicacion/GrabarBMP", "SI"},
                                    {"Mosaicos/MosaicosAncho", "2"},
                                    {"Mosaicos/MosaicosAlto", "1"},
                                    {"Mosaicos/TipoMosaico", "1"},
                                    {"Mosaicos/Cobertura", "0"},
                                    {"Mosaicos/UTMSupIzqX", "585000"},
                                    {"Mosaicos/UTMSupIzqY", "730000"},
                                    {"Calibracion/OziExplorer", "SI"},
                                    {"Calibracion/CompeGPS", "SI"}};
        keys.insert(changes);
        QByteArray text;
        QString section;
        for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
            const QStringList parts = it.key().split(u'/');
            if (parts[0] != section) {
                section = parts[0];
                text += "[" + section.toUtf8() + "]\r\n";
            }
            text += parts[1].toUtf8() + "=" + it.value().toUtf8() + "\r\n";
        }
        WriteAll(cwd.file(QStringLiteral("Morvel.ini")), text);
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

    // Presses "Descargar" and waits for the run to end.
    void download() {
        QTest::mouseClick(button("btnDescargar"), Qt::LeftButton);
        DownloadRun* run = window->run();
        if (run && run->isRunning()) {
            QSignalSpy done(run, &DownloadRun::finished);
            ASSERT_TRUE(done.wait(60000));
        }
    }

    template <typename T> T* find(const char* name) const {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton* button(const char* name) const { return find<QPushButton>(name); }
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

    // The board as the user would see it: a marker or a thumbnail shown in the cell.
    bool markerShown(int column, int row) const {
        const QLabel* m = window->tileBoard().marker(column, row);
        return m && !m->isHidden();
    }
    bool thumbnailShown(int column, int row) const {
        const QLabel* t = window->tileBoard().thumbnail(column, row);
        return t && !t->isHidden();
    }

    void expectFinishedState() const {
        EXPECT_FALSE(button("btnDescargar")->isEnabled());
        EXPECT_FALSE(find<QComboBox>("cbAncho")->isEnabled());
        EXPECT_TRUE(button("btnSalir")->isEnabled());
        EXPECT_TRUE(button("btnMosaico")->isEnabled());
        EXPECT_TRUE(button("btnSucesos")->isEnabled());
        EXPECT_TRUE(button("btnNueva")->isEnabled());
        EXPECT_TRUE(find<QAction>("Ver1")->isEnabled());
        EXPECT_EQ(window->state(), WindowState::Finished);
    }

    CurrentDirScope cwd;
    TestMapServer server;
    FakeDialogs dialogs;
    QString folder;
    std::unique_ptr<TfPrincipal> window;
    std::unique_ptr<TfElegirCarpeta> log;
    std::unique_ptr<TfMosaico> viewer;
    std::unique_ptr<TAboutBox> about;

private:
    bool m_quitOnClose = true;
};

TEST_F(RunWindowTest, ThreeByTwoAllFetched) {
    writeSettings();
    open();
    download();

    QStringList expected{". Comienzo de la descarga"};
    for (const QString& name : kThreeByTwo) {
        expected << ". Descargado mosaico " + name;
    }
    expected << ". Fin de la descarga"
             << ". Fichero BMP grabado"
             << ". Generada calibración para OZiExplorer"
             << ". Generada calibración para CompeGPS";
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(log->lines().first(), kStamp + ". Comienzo de la descarga");
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(files(), QStringList(kThreeByTwo) << "Prueba.bmp"
                                                << "Prueba.imp"
                                                << "Prueba.map");
    EXPECT_EQ(window->statusText(),
              QStringLiteral("Fichero de Calibración para CompeGPS generado."));
    EXPECT_EQ(progress()->maximum(), 6);
    EXPECT_EQ(progress()->value(), 6);
    expectFinishedState();

    // Six thumbnails at the top-left of the board, the rest of it empty.
    for (int column = 1; column <= 10; ++column) {
        for (int row = 1; row <= 10; ++row) {
            const bool inGrid = column <= 3 && row <= 2;
            EXPECT_EQ(thumbnailShown(column, row), inGrid) << column << "," << row;
            EXPECT_FALSE(markerShown(column, row)) << column << "," << row;
        }
    }
    EXPECT_EQ(window->tileBoard().thumbnail(3, 2)->toolTip(), QStringLiteral("B03.jpg"));
    EXPECT_TRUE(window->job().tile(3, 2).fetched);
    EXPECT_EQ(window->job().tile(3, 2).fileName, QStringLiteral("B03.jpg"));
    // The preview shows the last tile.
    const QPixmap preview = find<QLabel>("IJPG")->pixmap();
    ASSERT_FALSE(preview.isNull());
    EXPECT_TRUE(Near(preview.toImage().pixelColor(40, 36), colourOf(3, 2)));

    const QImage bmp(path("Prueba.bmp"), "BMP");
    ASSERT_EQ(bmp.size(), QSize(1200, 800));
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            const int x = (column - 1) * 400;
            const int y = (row - 1) * 400;
            for (const QPoint p : {QPoint(x, y), QPoint(x + 399, y + 399), QPoint(x + 200, y)}) {
                EXPECT_TRUE(Near(bmp.pixelColor(p), colourOf(column, row)))
                    << column << "," << row << " at " << p.x() << "," << p.y();
            }
        }
    }
    // The calibration names the image and its size.
    EXPECT_TRUE(ReadAll(path("Prueba.imp")).contains("BitmapWidth=1200\r\nBitmapHeight=800"));
    EXPECT_TRUE(ReadAll(path("Prueba.map")).contains("Prueba.bmp"));
}

TEST_F(RunWindowTest, BmpOptionOff) {
    writeSettings({{"Aplicacion/GrabarBMP", "NO"},
                   {"Calibracion/OziExplorer", "NO"},
                   {"Calibracion/CompeGPS", "NO"}});
    WriteAll(path("Prueba.bmp"), "old");
    open();
    download();
    EXPECT_EQ(messages(), (QStringList{". Comienzo de la descarga", ". Fin de la descarga"}));
    EXPECT_TRUE(dialogs.shown.empty()); // no overwrite question
    EXPECT_EQ(ReadAll(path("Prueba.bmp")), QByteArray("old"));
    EXPECT_EQ(files(), QStringList(kThreeByTwo) << "Prueba.bmp");
    EXPECT_TRUE(thumbnailShown(3, 2));
    expectFinishedState();
}

TEST_F(RunWindowTest, CancelAtTheOverwriteQuestion) {
    writeSettings();
    WriteAll(path("Prueba.bmp"), "old");
    open();
    dialogs.okAnswer = false;
    QTest::mouseClick(button("btnDescargar"), Qt::LeftButton);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("okCancel"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Grabar fichero BMP"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("El fichero ya existe. ¿ Sobreescribir ?"));
    EXPECT_EQ(messages(), QStringList{". Comienzo de la descarga"});
    // Back to Ready: the five controls enabled again, the rest as before.
    EXPECT_TRUE(button("btnDescargar")->isEnabled());
    EXPECT_TRUE(button("btnSalir")->isEnabled());
    for (const char* list : {"cbCobertura", "cbAncho", "cbAlto"}) {
        EXPECT_TRUE(find<QComboBox>(list)->isEnabled()) << list;
    }
    EXPECT_FALSE(button("btnNueva")->isEnabled());
    EXPECT_FALSE(find<QAction>("Ver1")->isEnabled());
    EXPECT_EQ(window->state(), WindowState::Ready);
    EXPECT_FALSE(markerShown(1, 1));
    QTest::qWait(50);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(files(), QStringList{"Prueba.bmp"});
}

TEST_F(RunWindowTest, MissingFolderFallsBackToTheCurrentDirectory) {
    folder = cwd.file(QStringLiteral("gone"));
    writeSettings({{"Aplicacion/GrabarBMP", "NO"},
                   {"Calibracion/OziExplorer", "NO"},
                   {"Calibracion/CompeGPS", "NO"}});
    open();
    download();
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("notice"));
    EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Carpeta destino"));
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("La carpeta destino no existe. Los ficheros se grabarán en la "
                             "carpeta actual"));
    const QString current = QDir::toNativeSeparators(QDir::currentPath());
    EXPECT_EQ(find<QLineEdit>("eCarpeta")->text(), current);
    EXPECT_EQ(window->job().folder, current);
    EXPECT_TRUE(QFileInfo::exists(cwd.file(QStringLiteral("B03.jpg"))));
    window->close();
    EXPECT_EQ(IniFile(cwd.file(QStringLiteral("Morvel.ini"))).value("Aplicacion", "Carpeta"),
              current);
}

TEST_F(RunWindowTest, SomeTilesFailWithTheDeleteOption) {
    writeSettings({{"Mosaicos/BorrarMosaico", "SI"}});
    open();
    const TileRect b = TileBounds(window->job(), 2, 2);
    server.setFault(b.xmin, b.ymin, Fault::Http500);
    download();
    const QStringList m = messages();
    ASSERT_GE(m.size(), 3);
    EXPECT_TRUE(m.contains(". Fallo en la descarga del mosaico B02.jpg"));
    EXPECT_EQ(m.mid(m.size() - 3),
              (QStringList{". Fin de la descarga", ". No se descargó algún mosaico",
                           ". Archivos del mosaico borrados"}));
    EXPECT_TRUE(files().isEmpty()); // tiles deleted, no BMP, no calibration
    EXPECT_TRUE(dialogs.shown.empty());
    // The failed tile's red marker with its label, and the fetch's reason as its hint.
    ASSERT_TRUE(markerShown(2, 2));
    const QLabel* marker = window->tileBoard().marker(2, 2);
    EXPECT_EQ(marker->text(), QStringLiteral("B02"));
    EXPECT_EQ(marker->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_FALSE(marker->toolTip().isEmpty());
    EXPECT_FALSE(thumbnailShown(2, 2));
    EXPECT_TRUE(thumbnailShown(3, 2)); // its copy of the picture outlives the file
    EXPECT_EQ(progress()->value(), 6);
    EXPECT_EQ(window->statusText(), QStringLiteral("Archivos del mosaico borrados."));
    expectFinishedState();
}

TEST_F(RunWindowTest, EveryTileFails) {
    writeSettings({{"Mosaicos/BorrarMosaico", "SI"}});
    WriteAll(path("A01.jpg"), "earlier");
    server.setFaultForAll(Fault::Http404);
    open();
    download();
    const QStringList m = messages();
    EXPECT_EQ(m.size(), 1 + 6 + 2);
    EXPECT_EQ(m.last(), QStringLiteral(". No se descargó ningún mosaico"));
    EXPECT_EQ(progress()->value(), progress()->maximum());
    EXPECT_EQ(progress()->maximum(), 6);
    EXPECT_EQ(files(), QStringList{"A01.jpg"}); // nothing deleted
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            EXPECT_TRUE(markerShown(column, row));
            EXPECT_FALSE(thumbnailShown(column, row));
        }
    }
    expectFinishedState();
}

TEST_F(RunWindowTest, TileThatDoesNotDecodeForThePreview) {
    writeSettings();
    open();
    QTest::mouseClick(button("btnDescargar"), Qt::LeftButton);
    DownloadRun* run = window->run();
    ASSERT_NE(run, nullptr);
    QList<int> values;
    QObject::connect(progress(), &QProgressBar::valueChanged, [&values](int v) { values << v; });
    // A02's file is spoilt between its writing and its reading back.
    QObject::connect(run, &DownloadRun::tileDownloaded, [this](int column, int row) {
        if (column == 2 && row == 1) {
            WriteAll(path("A02.jpg"), "not a picture");
        }
    });
    QSignalSpy done(run, &DownloadRun::finished);
    ASSERT_TRUE(done.wait(60000));
    EXPECT_EQ(values, (QList<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(markerShown(2, 1));
    EXPECT_FALSE(thumbnailShown(2, 1));
    EXPECT_TRUE(messages().contains(". Fallo en la descarga del mosaico A02.jpg"));
    EXPECT_FALSE(QFileInfo::exists(path("Prueba.bmp")));
    EXPECT_FALSE(QFileInfo::exists(path("Prueba.map")));
}

TEST_F(RunWindowTest, DeleteAndBmpOptionsBothOn) {
    writeSettings({{"Mosaicos/BorrarMosaico", "SI"}});
    open();
    download();
    const QStringList m = messages();
    const int cleanUp = m.indexOf(". Archivos del mosaico borrados");
    ASSERT_GE(cleanUp, 0);
    EXPECT_EQ(m.value(cleanUp + 1), QStringLiteral(". Fichero BMP grabado"));
    EXPECT_EQ(files(), (QStringList{"Prueba.bmp", "Prueba.imp", "Prueba.map"}));
    const QImage bmp(path("Prueba.bmp"), "BMP");
    ASSERT_EQ(bmp.size(), QSize(1200, 800));
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            EXPECT_TRUE(Near(bmp.pixelColor((column - 1) * 400 + 5, (row - 1) * 400 + 5),
                             colourOf(column, row)));
        }
    }
    // With the delete option the viewer's toggle is off as soon as it is shown.
    viewer->show();
    EXPECT_FALSE(viewer->findChild<QPushButton*>(QStringLiteral("btnMosaicos"))->isEnabled());
    viewer->hide();
}

TEST_F(RunWindowTest, NuevaDescargaBringsBackReady) {
    writeSettings();
    open();
    download();
    expectFinishedState();
    const QStringList logged = log->lines();
    QTest::mouseClick(button("btnNueva"), Qt::LeftButton);
    EXPECT_EQ(window->state(), WindowState::ReadyAgain);
    EXPECT_TRUE(button("btnDescargar")->isEnabled());
    EXPECT_FALSE(button("btnNueva")->isEnabled());
    EXPECT_FALSE(button("btnMosaico")->isEnabled());
    EXPECT_TRUE(find<QAction>("Ver1")->isEnabled());
    EXPECT_EQ(progress()->value(), 0);
    EXPECT_TRUE(find<QLabel>("IJPG")->pixmap().isNull());
    EXPECT_EQ(log->lines(), logged);
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            EXPECT_FALSE(thumbnailShown(column, row));
            EXPECT_FALSE(markerShown(column, row));
            EXPECT_FALSE(window->job().tile(column, row).fetched);
            EXPECT_TRUE(window->job().tile(column, row).fileName.isEmpty());
        }
    }
    EXPECT_EQ(viewer->pMosaico()->findChildren<QLabel*>().size(), 100);

    // A second run empties the log first and asks before replacing the BMP.
    download();
    EXPECT_EQ(messages().first(), QStringLiteral(". Comienzo de la descarga"));
    EXPECT_EQ(messages().count(". Comienzo de la descarga"), 1);
    EXPECT_EQ(dialogs.texts("okCancel").first(),
              QStringLiteral("El fichero ya existe. ¿ Sobreescribir ?"));
    expectFinishedState();
}

TEST_F(RunWindowTest, GridWithoutTilesDoesNotStart) {
    writeSettings();
    open();
    auto* across = find<QComboBox>("cbAncho");
    across->lineEdit()->selectAll();
    QTest::keyClicks(across->lineEdit(), QStringLiteral("12"));
    dialogs.shown.clear();
    QTest::mouseClick(button("btnDescargar"), Qt::LeftButton);
    EXPECT_EQ(dialogs.texts("message"), QStringList{"Seleccione el número de mosaicos"});
    EXPECT_EQ(window->run(), nullptr);
    EXPECT_TRUE(log->lines().isEmpty());
    EXPECT_TRUE(button("btnDescargar")->isEnabled());
    EXPECT_EQ(window->state(), WindowState::Ready);
}

TEST_F(RunWindowTest, BmpThatCannotBeWrittenIsShownAndTheRunFinishes) {
    writeSettings({{"Aplicacion/Fichero", "no/such/Prueba"}});
    open();
    download();
    const QStringList errors = dialogs.texts("error");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("No se ha podido grabar el fichero BMP "))
        << errors[0].toStdString();
    EXPECT_EQ(messages().last(), QStringLiteral(". Fin de la descarga"));
    EXPECT_EQ(files(), kThreeByTwo); // no calibration for an image that is not there
    expectFinishedState();
}

TEST_F(RunWindowTest, RefusedCalibrationOverwriteIsReportedAndTheOtherFileWritten) {
    writeSettings({{"Aplicacion/GrabarBMP", "NO"}});
    WriteAll(path("Prueba.map"), "old");
    open();
    dialogs.okAnswer = false;
    download();
    EXPECT_EQ(dialogs.texts("okCancel").size(), 1);
    EXPECT_EQ(dialogs.texts("message"),
              QStringList{"No se ha generado el fichero de calibración de OziExplorer"});
    const QStringList m = messages();
    EXPECT_EQ(m.mid(m.size() - 2), (QStringList{". No se ha generado calibración para OZiExplorer",
                                                ". Generada calibración para CompeGPS"}));
    EXPECT_EQ(window->statusText(),
              QStringLiteral("Fichero de Calibración para CompeGPS generado."));
    EXPECT_EQ(ReadAll(path("Prueba.map")), QByteArray("old"));
    EXPECT_TRUE(QFileInfo::exists(path("Prueba.imp")));
    expectFinishedState();
}

TEST_F(RunWindowTest, ClosingDuringARunStopsItAndWritesTheSettingsOnce) {
    writeSettings();
    open();
    const TileRect b = TileBounds(window->job(), 3, 1);
    server.setFault(b.xmin, b.ymin, Fault::Stall);
    QEventLoop loop;
    QObject::connect(&server, &TestMapServer::requestArrived, window.get(), [this, &loop] {
        if (server.requests().size() == 3) {
            QTimer::singleShot(20, window.get(), [this, &loop] {
                window->close();
                loop.quit();
            });
        }
    });
    QTest::mouseClick(button("btnDescargar"), Qt::LeftButton);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->isRunning());
    const QByteArray settings = ReadAll(cwd.file(QStringLiteral("Morvel.ini")));
    EXPECT_TRUE(settings.contains("Carpeta=" + folder.toUtf8()));
    // Nothing half-written: no temporary download, no BMP, no calibration.
    QTest::qWait(100);
    EXPECT_EQ(files(), (QStringList{"A01.jpg", "A02.jpg"}));
    EXPECT_EQ(server.requests().size(), 3);
    // A second close leaves the file as the first one wrote it.
    WriteAll(cwd.file(QStringLiteral("Morvel.ini")), "changed");
    window->close();
    EXPECT_EQ(ReadAll(cwd.file(QStringLiteral("Morvel.ini"))), QByteArray("changed"));
}

TEST_F(RunWindowTest, TenByTenLogOrderAndBmp) {
    writeSettings({{"Mosaicos/MosaicosAncho", "9"}, {"Mosaicos/MosaicosAlto", "9"}});
    open();
    download();
    const QStringList m = messages();
    ASSERT_EQ(m.size(), 1 + 100 + 4);
    const QString rows = QStringLiteral("ABCDEFGHIJ");
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(m.at(1 + i), QStringLiteral(". Descargado mosaico %1%2.jpg")
                                   .arg(rows.at(i / 10))
                                   .arg(i % 10 + 1, 2, 10, QChar(u'0')));
    }
    const QImage bmp(path("Prueba.bmp"), "BMP");
    ASSERT_EQ(bmp.size(), QSize(4000, 4000));
    EXPECT_TRUE(Near(bmp.pixelColor(3600, 3600), colourOf(10, 10)));
    EXPECT_TRUE(Near(bmp.pixelColor(3599, 3599), colourOf(9, 9)));
    EXPECT_TRUE(thumbnailShown(10, 10));
}

} // namespace
