// Sets of sheets in the real windows, offscreen, against a map server on 127.0.0.1: a box
// drawn larger than one run, two corners typed or a track's corridor become numbered sheets
// on the map and a line in the main window; "Descargar" then fetches them sheet after sheet
// with "Hoja n de N" on the status and progress bars; the failed tiles of every sheet are
// tried again; and the set goes to the settings file and comes back from it.
#include "download/OverviewLoader.h"
#include "job/NumberFormat.h"
#include "run/SheetSetRun.h"
#include "ui/CornerEdit.h"
#include "ui/ElidedLabel.h"
#include "ui/MapView.h"
#include "ui/MapWindow.h"

#include "RunWindowFixture.h"

#include <QFrame>
#include <QGroupBox>
#include <QSpinBox>

#include <cmath>

namespace {

QString Fixture(const char* name) {
    return QStringLiteral(MORVEL_TEST_DATA_DIR "/tracks/") + QLatin1String(name);
}

const QString kTwelve = QStringLiteral("El recuadro necesita 12 × 1 mosaicos de 5.000 m; una "
                                       "descarga tiene como máximo 10 × 10. ¿Descargarlo en 2 "
                                       "hojas? (Cancelar: solo los 10 × 1 de la esquina "
                                       "superior izquierda)");

class SheetWindowTest : public RunWindowTest {
protected:
    // The map, once its first images are in: its requests do not mix with a run's.
    MapWindow* openMap() {
        entry("ElegirMapa1")->trigger();
        MapWindow* map = window->mapWindow();
        EXPECT_NE(map, nullptr);
        if (map) {
            QSignalSpy settled(map->view(), &MapView::settled);
            EXPECT_TRUE(settled.wait(3000));
            EXPECT_TRUE(QTest::qWaitFor([map] { return map->loader()->pending() == 0; }, 10000));
        }
        return map;
    }
    // A box a little inside 585000..645000 by 4725000..4730000, drawn on the map: twelve
    // tiles of 5 km across and one down.
    void drawTwelve(MapWindow* map) {
        emit map->view()->boxDrawn({585200, 4725300, 644800, 4729800});
    }
    QString line() const { return find<QLabel>("stHojas")->text(); }
    QStringList displays() const {
        QStringList out;
        for (const char* name : {"stX", "stY", "stMAncho", "stMAlto", "stPAncho", "stPAlto"}) {
            out << find<QLabel>(name)->text();
        }
        return out;
    }
    bool lineShown() const { return !find<QFrame>("pnHojas")->isHidden(); }
    void waitForTheSet() {
        SheetSetRun* run = window->setRun();
        if (run && run->isRunning()) {
            QSignalSpy done(run, &SheetSetRun::finished);
            ASSERT_TRUE(done.wait(60000));
        }
    }
    static QList<QPair<int, GroundRect>> Rects(std::initializer_list<double> wests,
                                               std::initializer_list<double> easts) {
        QList<QPair<int, GroundRect>> out;
        auto e = easts.begin();
        int number = 1;
        for (const double w : wests) {
            out.append({number++, GroundRect{w, 4725000, *e++, 4730000}});
        }
        return out;
    }
    static auto Key(const QPair<int, GroundRect>& s) {
        return std::make_tuple(s.first, s.second.west, s.second.south, s.second.east,
                               s.second.north);
    }
    static std::vector<std::tuple<int, double, double, double, double>>
    Keys(const QList<QPair<int, GroundRect>>& sheets) {
        std::vector<std::tuple<int, double, double, double, double>> out;
        for (const auto& s : sheets) {
            out.push_back(Key(s));
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(SheetWindowTest, ABoxLargerThanOneRunBecomesNumberedSheetsUntilOneRunIsChosen) {
    writeSettings();
    open();
    MapWindow* map = openMap();
    const int height = window->height();
    EXPECT_FALSE(lineShown());

    drawTwelve(map);
    EXPECT_EQ(dialogs.texts("okCancel"), QStringList{kTwelve});
    ASSERT_NE(window->sheets(), nullptr);
    EXPECT_TRUE(lineShown());
    EXPECT_EQ(line(), "Hojas: 2 (Prueba_01 … Prueba_02) · recuadro de X 585.000, Y 4.730.000 a "
                      "X 645.000, Y 4.725.000");
    EXPECT_EQ(window->height(), height + find<QFrame>("pnHojas")->height() + 2);
    // Two sheets of six tiles, not ten and two.
    EXPECT_EQ(Keys(map->sheetsShown()), Keys(Rects({585000, 615000}, {615000, 645000})));
    EXPECT_TRUE(window->estimateText().startsWith("2 hojas, 12 mosaicos, "))
        << window->estimateText().toStdString();
    EXPECT_TRUE(find<ElidedLabel>("stEstimacion")->fullText().startsWith("2 hojas, 12 mosaicos, "));
    // The fields hold the box's upper-left corner, as the settings file will.
    EXPECT_EQ(find<CornerEdit>("meUTMx")->value(), "585000");
    EXPECT_EQ(find<CornerEdit>("meUTMy")->value(), "730000");

    // Neighbours sharing a tile: thirteen tiles between them, seven and six.
    map->findChild<QSpinBox*>("seSolape")->setValue(1);
    EXPECT_EQ(Keys(map->sheetsShown()), Keys(Rects({585000, 615000}, {620000, 645000})));
    EXPECT_TRUE(line().endsWith(", solape de 1 mosaico")) << line().toStdString();
    // Another coverage cuts the same box again: 25 tiles of 1000 m... across 60 km.
    find<QComboBox>("cbCobertura")->setCurrentIndex(1);
    EXPECT_TRUE(line().startsWith("Hojas: 7 (Prueba_01 … Prueba_07)")) << line().toStdString();
    find<QComboBox>("cbCobertura")->setCurrentIndex(0);
    // The name names the sheets.
    typeAndLeave("eNombreFichero", "Sierra");
    EXPECT_TRUE(line().startsWith("Hojas: 2 (Sierra_01 … Sierra_02)")) << line().toStdString();

    // A box of one run chosen on the map is one run again; so is the line's button.
    emit map->view()->boxDrawn({600000, 4720000, 610000, 4725000});
    EXPECT_EQ(window->sheets(), nullptr);
    EXPECT_FALSE(lineShown());
    EXPECT_EQ(window->height(), height);
    EXPECT_TRUE(map->sheetsShown().isEmpty());
    EXPECT_EQ(window->job().tilesAcross, 2);
    drawTwelve(map);
    ASSERT_NE(window->sheets(), nullptr);
    press("btnUnaDescarga");
    EXPECT_EQ(window->sheets(), nullptr);
    EXPECT_FALSE(lineShown());
    // The fields hold the first sheet: seven tiles, with the overlap of one still chosen.
    EXPECT_TRUE(find<ElidedLabel>("stEstimacion")->fullText().startsWith("7 mosaicos"))
        << find<ElidedLabel>("stEstimacion")->fullText().toStdString();
}

// While a set is chosen the main window's fields show what "Descargar" fetches: the whole
// extent of the sheets, from its upper-left corner, and take nothing typed; the way back
// to one run gives the fields back.
TEST_F(SheetWindowTest, TheFieldsShowTheWholeSetWhileOneIsChosen) {
    writeSettings();
    open();
    MapWindow* map = openMap();
    const QStringList oneRun = displays();
    drawTwelve(map);
    ASSERT_NE(window->sheets(), nullptr);
    EXPECT_EQ(displays(), (QStringList{"645.000", "4.725.000", "60.000", "5.000", "4.800", "400"}));
    EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), "Coordenadas de las hojas");
    EXPECT_EQ(find<QGroupBox>("GroupBox4")->title(), "Tamaño de todas las hojas");
    for (const char* name : {"meUTMx", "meUTMy", "cbAncho", "cbAlto"}) {
        EXPECT_FALSE(find<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(find<QWidget>("cbCobertura")->isEnabled());
    // Tab passes over them and reaches the line's button.
    find<QWidget>("btnSalir")->setFocus(Qt::TabFocusReason);
    for (const char* name : {"btnUnaDescarga", "eCarpeta"}) {
        QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(window->focusWidget()->objectName(), QLatin1String(name));
    }

    // A track's sheets: the fields go to the upper-left corner of all of them.
    QSignalSpy read(map, &MapWindow::trackRead);
    map->openTrack(Fixture("loop.gpx"));
    ASSERT_TRUE(read.wait(10000));
    QTest::mouseClick(map->findChild<QPushButton*>("btnHojasRuta"), Qt::LeftButton);
    // Cut on a worker: the set comes once it is done.
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->sheets() != nullptr; }, 10000));
    const SheetSet* set = window->sheets();
    const GroundRect e = set->extent();
    EXPECT_EQ(find<CornerEdit>("meUTMx")->value().toInt(), std::lround(e.west));
    EXPECT_EQ(find<CornerEdit>("meUTMy")->value().toInt(), std::lround(e.north) - kNorthingOffset);
    EXPECT_EQ(displays().mid(0, 4),
              (QStringList{GroupedNumber(std::lround(e.east)), GroupedNumber(std::lround(e.south)),
                           GroupedNumber(std::lround(e.width())),
                           GroupedNumber(std::lround(e.height()))}));
    EXPECT_TRUE(dialogs.texts("message").isEmpty());

    press("btnUnaDescarga");
    for (const char* name : {"meUTMx", "meUTMy", "cbAncho", "cbAlto"}) {
        EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), "Coordenadas UTM");
    EXPECT_EQ(find<QGroupBox>("GroupBox4")->title(), "Tamaño");
    EXPECT_NE(displays(), oneRun); // the grid of the set's corner, not the one before
    EXPECT_EQ(displays().at(2), GroupedNumber(window->job().widthMetres));
}

TEST_F(SheetWindowTest, TwoCornersTypedOrATracksCorridorGiveSheets) {
    writeSettings();
    open();
    MapWindow* map = openMap();
    map->findChild<QLineEdit*>("eDesde")->setText("585000 730000");
    map->findChild<QLineEdit*>("eHasta")->setText("642000 4722000");
    QTest::mouseClick(map->findChild<QPushButton*>("btnRecuadro"), Qt::LeftButton);
    ASSERT_NE(window->sheets(), nullptr);
    // Out to whole tiles: 12 across and 2 down.
    EXPECT_EQ(line(), "Hojas: 2 (Prueba_01 … Prueba_02) · recuadro de X 585.000, Y 4.730.000 a "
                      "X 642.000, Y 4.722.000");
    EXPECT_EQ(window->sheets()->tiles(), 24);
    // A place that is none says so and changes nothing.
    map->findChild<QLineEdit*>("eHasta")->setText("aquí");
    QTest::mouseClick(map->findChild<QPushButton*>("btnRecuadro"), Qt::LeftButton);
    EXPECT_EQ(dialogs.texts("message").size(), 1);
    EXPECT_EQ(window->sheets()->tiles(), 24);

    QSignalSpy read(map, &MapWindow::trackRead);
    map->openTrack(Fixture("loop.gpx"));
    ASSERT_TRUE(read.wait(10000));
    map->findChild<QSpinBox*>("seMargen")->setValue(3000);
    QTest::mouseClick(map->findChild<QPushButton*>("btnHojasRuta"), Qt::LeftButton);
    // Cut on a worker: the line says so meanwhile, and "Descargar" waits for it.
    EXPECT_TRUE(window->cuttingSheets());
    EXPECT_TRUE(line().startsWith("Hojas: calculando… · ruta «loop.gpx»")) << line().toStdString();
    press("btnDescargar");
    EXPECT_EQ(dialogs.texts("message").back(), "Las hojas de la ruta aún se están calculando.");
    EXPECT_EQ(window->setRun(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->sheets() != nullptr; }, 10000));
    EXPECT_TRUE(line().endsWith("ruta «loop.gpx» con 3.000 m de margen")) << line().toStdString();
    EXPECT_EQ(map->sheetsShown().size(), static_cast<int>(window->sheets()->sheets.size()));
}

// "Descargar" fetches the sheets one after another: the status bar and the progress bar say
// which, the viewer shows the sheet being fetched, and each sheet's files go to its folder.
TEST_F(SheetWindowTest, DescargarFetchesTheSheetsSayingWhichAndRetriesTheFailedOfEvery) {
    writeSettings();
    open();
    drawTwelve(openMap());
    ASSERT_NE(window->sheets(), nullptr);
    // A tile of the first sheet fails.
    DownloadJob first = SheetJob(window->job(), window->sheets()->sheets[0]);
    const TileRect bad = TileBounds(first, 4, 1);
    server.setFault(bad.xmin, bad.ymin, Fault::Http500);

    press("btnDescargar");
    ASSERT_NE(window->setRun(), nullptr);
    QStringList statuses;
    QObject::connect(window->setRun(), &SheetSetRun::statusText,
                     [&statuses](const QString& text) { statuses << text; });
    waitForTheSet();
    expectFinished();
    EXPECT_TRUE(statuses.contains("Hoja 1 de 2: Descargando mosaico A01.jpg"));
    EXPECT_TRUE(statuses.contains("Hoja 1 de 2: Fallo en la descarga del mosaico A04.jpg"));
    EXPECT_TRUE(statuses.contains("Hoja 2 de 2: Fichero BMP grabado."));
    EXPECT_EQ(window->statusText(), "Fin de descarga de las hojas: 1 de 2 terminadas.");
    EXPECT_EQ(progress()->format(), "Hoja 2 de 2");
    EXPECT_TRUE(progress()->isTextVisible());
    // The tiles of both sheets, and the files written after each.
    EXPECT_GT(progress()->maximum(), 12);
    EXPECT_EQ(progress()->value(), progress()->maximum());
    // The viewer holds the second sheet's six tiles.
    EXPECT_TRUE(thumbnailShown(1, 1));
    EXPECT_TRUE(thumbnailShown(6, 1));
    EXPECT_FALSE(thumbnailShown(7, 1));
    EXPECT_TRUE(messages().contains(". Hoja 2 de 2: Prueba_02"));
    EXPECT_TRUE(QFileInfo::exists(path("Prueba_02/Prueba_02.bmp")));
    EXPECT_TRUE(QFileInfo::exists(path("Prueba_02/Prueba_02.map")));
    EXPECT_FALSE(QFileInfo::exists(path("Prueba_01/Prueba_01.bmp")));
    EXPECT_TRUE(QFileInfo::exists(path("Prueba_hojas.kml")));

    // Only the failed tile is asked for again, without a question.
    ASSERT_TRUE(entry("Reintentar1")->isEnabled());
    server.clearFaults();
    const qsizetype before = server.requests().size();
    const size_t questions = dialogs.shown.size();
    entry("Reintentar1")->trigger();
    waitForTheSet();
    EXPECT_EQ(server.requests().size(), before + 1);
    EXPECT_EQ(dialogs.shown.size(), questions);
    EXPECT_EQ(window->statusText(), "Fin de descarga de las hojas: 2 de 2 terminadas.");
    EXPECT_EQ(progress()->format(), "Hoja 1 de 2");
    EXPECT_TRUE(QFileInfo::exists(path("Prueba_01/Prueba_01.bmp")));
    EXPECT_FALSE(entry("Reintentar1")->isEnabled());

    // "Nueva descarga", then "Descargar" again: the set is there already, and OK keeps it.
    press("btnNueva");
    press("btnDescargar");
    waitForTheSet();
    EXPECT_EQ(dialogs.texts("okCancel").back(),
              "Estas mismas hojas ya se descargaron todas (2). ¿Conservarlas sin volver a "
              "pedirlas? (Cancelar las descarga de nuevo)");
    EXPECT_EQ(server.requests().size(), before + 1);
}

TEST_F(SheetWindowTest, TheSetGoesToTheSettingsFileAndComesBack) {
    writeSettings();
    open();
    drawTwelve(openMap());
    window->mapWindow()->findChild<QSpinBox*>("seSolape")->setValue(2);
    // Chosen at 1000 m: the sheets at the coverage they were chosen at come back, while
    // "Cobertura" keeps the position it was read with.
    find<QComboBox>("cbCobertura")->setCurrentIndex(1);
    const QString chosen = line();
    ASSERT_TRUE(chosen.startsWith("Hojas: 8 (Prueba_01 … Prueba_08)")) << chosen.toStdString();
    window->close();
    IniFile ini(cwd.file(QStringLiteral("Morvel.ini")));
    EXPECT_EQ(ini.value("Mosaicos", "Hasta"), QStringLiteral("645000,725000"));
    EXPECT_EQ(ini.value("Mosaicos", "Solape"), QStringLiteral("2"));
    EXPECT_EQ(ini.value("Mosaicos", "UTMSupIzqX"), QStringLiteral("585000"));
    EXPECT_EQ(ini.value("Mosaicos", "CoberturaHojas"), QStringLiteral("1000"));
    EXPECT_EQ(ini.value("Mosaicos", "TipoHojas"), QStringLiteral("1"));
    EXPECT_EQ(ini.value("Mosaicos", "Cobertura"), QStringLiteral("0"));
    EXPECT_FALSE(ini.value("Mosaicos", "Ruta"));

    // Opened again, the set is there as it was chosen; one run chosen, the file says so.
    open();
    ASSERT_NE(window->sheets(), nullptr);
    EXPECT_TRUE(lineShown());
    EXPECT_EQ(line(), chosen);
    EXPECT_EQ(find<QComboBox>("cbCobertura")->currentText(), "1000x1000");
    EXPECT_EQ(window->job().tileSize, 1000);
    press("btnUnaDescarga");
    window->close();
    const IniFile after(cwd.file(QStringLiteral("Morvel.ini")));
    EXPECT_EQ(after.value("Mosaicos", "Hasta"), QString());
    EXPECT_EQ(after.value("Mosaicos", "Solape"), QStringLiteral("2"));
    EXPECT_EQ(after.value("Mosaicos", "CoberturaHojas"), QString());
    EXPECT_EQ(after.value("Mosaicos", "Cobertura"), QStringLiteral("0"));
    // One run again: the coverage of "Cobertura".
    open();
    EXPECT_EQ(window->job().tileSize, 5000);
    window->close();

    // A track in the file: read on a worker, its sheets shown once it is.
    IniFile withTrack(cwd.file(QStringLiteral("Morvel.ini")));
    withTrack.writeString("Mosaicos", "Ruta", Fixture("loop.gpx"));
    withTrack.writeString("Mosaicos", "Margen", QStringLiteral("800"));
    ASSERT_TRUE(withTrack.save());
    open();
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->sheets() != nullptr; }, 10000));
    EXPECT_EQ(line(), "Hojas: 1 (Prueba_01) · ruta «loop.gpx» con 800 m de margen, solape de 2 "
                      "mosaicos");
    window->close();
    const IniFile kept(cwd.file(QStringLiteral("Morvel.ini")));
    EXPECT_EQ(kept.value("Mosaicos", "Ruta"), Fixture("loop.gpx"));
    EXPECT_EQ(kept.value("Mosaicos", "Margen"), QStringLiteral("800"));
}

} // namespace
