// The exports from the real windows: the "&Exportar" menu and its settings, a run that writes
// them while the status bar names each, and a stop or a close while one is written.
#include "tests/ui/RunWindowFixture.h"

#include "job/RunMeasures.h"
#include "run/ExportOutput.h"
#include "run/MeasureStore.h"
#include "ui/ElidedLabel.h"
#include "ui/PrintSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QThreadPool>

namespace {

// The five entries, checkable, with their captions; ticked as the settings file says and
// usable with "Grabar fichero" off, since they need the joined image and not the BMP; the
// name field follows whatever needs it. At the end only the keys the file had or the user
// ticked are written.
TEST_F(RunWindowTest, TheExportMenuFollowsTheSettingsAndIsRemembered) {
    writeSettings({{"Aplicacion", "GrabarBMP", "NO"}, {"Exportar", "KMZ", "SI"}});
    open();
    auto* menu = find<QMenu>("Exportar1");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), "&Exportar");
    const struct {
        const char* name;
        const char* caption;
        bool ticked;
    } entries[] = {{"GeoTIFF1", "&GeoTIFF (.tif)", false},
                   {"GeoPackage1", "Geo&Package (.gpkg)", false},
                   {"MBTiles1", "&MBTiles (.mbtiles)", false},
                   {"KMZ1", "&KMZ de Garmin (.kmz)", true},
                   {"PDF1", "PDF para &imprimir (.pdf)", false}};
    for (const auto& e : entries) {
        QAction* action = entry(e.name);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text(), QString::fromUtf8(e.caption));
        EXPECT_TRUE(action->isCheckable());
        EXPECT_TRUE(action->isEnabled()) << e.name;
        EXPECT_EQ(action->isChecked(), e.ticked) << e.name;
        EXPECT_TRUE(menu->actions().contains(action));
    }
    // The PDF's entry says what reads it; the menu shows it.
    EXPECT_TRUE(menu->toolTipsVisible());
    for (const char* reader : {"Avenza Maps", "QGIS", "visor de PDF", "escala"}) {
        EXPECT_TRUE(entry("PDF1")->toolTip().contains(QLatin1String(reader))) << reader;
    }
    auto* name = find<QLineEdit>("eNombreFichero");
    EXPECT_TRUE(name->isEnabled());
    EXPECT_TRUE(window->job().exportWanted(ExportFormat::GarminKmz));
    auto* estimate = find<ElidedLabel>("stEstimacion");
    EXPECT_TRUE(estimate->fullText().contains("; KMZ de Garmin "))
        << estimate->fullText().toStdString();
    // Longer than the window with every export ticked: cut, whole in its tooltip, and the
    // window as wide as ever.
    const int width = window->width();
    for (const char* e : {"GeoTIFF1", "GeoPackage1", "MBTiles1", "PDF1"}) {
        if (!entry(e)->isChecked()) {
            entry(e)->trigger();
        }
    }
    QApplication::processEvents();
    EXPECT_EQ(window->width(), width);
    EXPECT_TRUE(estimate->text().endsWith(QStringLiteral("…"))) << estimate->text().toStdString();
    EXPECT_TRUE(estimate->fullText().endsWith(" aprox.")) << estimate->fullText().toStdString();
    EXPECT_EQ(estimate->toolTip(), estimate->fullText());
    EXPECT_LE(estimate->geometry().right(), window->width());
    for (const char* e : {"GeoTIFF1", "GeoPackage1", "MBTiles1", "PDF1"}) {
        entry(e)->trigger();
    }

    entry("KMZ1")->trigger();
    EXPECT_FALSE(window->job().exportWanted(ExportFormat::GarminKmz));
    EXPECT_FALSE(name->isEnabled());
    EXPECT_FALSE(find<ElidedLabel>("stEstimacion")->fullText().contains("KMZ"));
    entry("GeoTIFF1")->trigger();
    EXPECT_TRUE(window->job().exportWanted(ExportFormat::GeoTiff));
    EXPECT_TRUE(name->isEnabled());

    window->close();
    const QByteArray ini = ReadAll(cwd.file("Morvel.ini"));
    EXPECT_TRUE(ini.contains("[Exportar]")) << ini.constData();
    EXPECT_TRUE(ini.contains("KMZ=NO"));
    EXPECT_TRUE(ini.contains("GeoTIFF=SI"));
    EXPECT_FALSE(ini.contains("GeoPackage="));
    EXPECT_FALSE(ini.contains("MBTiles="));
}

// "Escala y papel…" opens its box over the window without a loop of its own: the scale and
// paper the window has, and how many pages the area (15 x 10 km) takes, following the choice.
// Only an accepted choice counts, and it is written back into [Imprimir].
TEST_F(RunWindowTest, TheScaleAndPaperOfThePdfAreChosenInABox) {
    writeSettings();
    open();
    const auto openBox = [this] {
        entry("EscalaPapel1")->trigger();
        auto* box = window->findChild<PrintSettingsDialog*>();
        EXPECT_NE(box, nullptr);
        EXPECT_TRUE(box != nullptr && box->isVisible() && box->isModal());
        return QPointer<PrintSettingsDialog>(box);
    };
    QPointer<PrintSettingsDialog> box = openBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(entry("EscalaPapel1")->text(), QStringLiteral("&Escala y papel…"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Escala y papel"));
    auto* scale = box->findChild<QComboBox*>(QStringLiteral("cbEscala"));
    auto* paper = box->findChild<QComboBox*>(QStringLiteral("cbPapel"));
    auto* pages = box->findChild<QLabel*>(QStringLiteral("stHojas"));
    ASSERT_TRUE(scale && paper && pages);
    EXPECT_EQ(scale->currentText(), QStringLiteral("1:25.000"));
    EXPECT_EQ(paper->currentText(), QStringLiteral("A4 (210 × 297 mm)"));
    EXPECT_EQ(pages->text(), QStringLiteral("A 1:25.000, la zona de 15 × 10 km ocupa 8 hojas A4 "
                                            "verticales."));
    scale->setCurrentIndex(scale->findText(QStringLiteral("1:50.000")));
    paper->setCurrentIndex(paper->findText(QStringLiteral("A3 (297 × 420 mm)")));
    EXPECT_EQ(pages->text(), QStringLiteral("A 1:50.000, la zona de 15 × 10 km ocupa 1 hoja A3 "
                                            "horizontal."));
    box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    EXPECT_TRUE(QTest::qWaitFor([&box] { return box.isNull(); }));
    EXPECT_EQ(window->job().printScale, 25000);
    EXPECT_EQ(window->job().printPaper, PrintPaper::A4);

    box = openBox();
    ASSERT_TRUE(box);
    box->findChild<QComboBox*>(QStringLiteral("cbEscala"))->setCurrentIndex(0);
    box->findChild<QComboBox*>(QStringLiteral("cbPapel"))->setCurrentIndex(1);
    box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_TRUE(QTest::qWaitFor([&box] { return box.isNull(); }));
    EXPECT_EQ(window->job().printScale, 10000);
    EXPECT_EQ(window->job().printPaper, PrintPaper::A3);
    window->close();
    const QByteArray ini = ReadAll(cwd.file("Morvel.ini"));
    EXPECT_TRUE(ini.contains("[Imprimir]\nEscala=10000\nPapel=A3\n")) << ini.constData();
}

// After the BMP, each export in its turn, the status bar naming the file as it is written;
// then the calibration files.
TEST_F(RunWindowTest, ARunWritesTheExportsWhileTheStatusBarNamesThem) {
    writeSettings({{"Exportar", "GeoTIFF", "SI"}, {"Exportar", "GeoPackage", "SI"}});
    open();
    press("btnDescargar");
    QStringList statuses;
    QObject::connect(window->run(), &DownloadRun::statusText,
                     [&statuses](const QString& text) { statuses << text; });
    waitForTheRun();
    EXPECT_EQ(
        messages().mid(8),
        (QStringList{". Fichero BMP grabado", ". Exportado Prueba.tif (GeoTIFF, ED50 / UTM 30N)",
                     ". Exportado Prueba.gpkg (GeoPackage, ED50 / UTM 30N)",
                     ". Generada calibración para OZiExplorer",
                     ". Generada calibración para CompeGPS"}));
    EXPECT_TRUE(statuses.contains("Exportando Prueba.tif (GeoTIFF): 0 %"));
    EXPECT_TRUE(statuses.contains("Exportado Prueba.gpkg."));
    EXPECT_LT(statuses.indexOf("Exportado Prueba.tif."),
              statuses.indexOf("Exportando Prueba.gpkg (GeoPackage): 0 %"));
    EXPECT_EQ(files(),
              (QStringList{"A01.jpg", "A02.jpg", "A03.jpg", "B01.jpg", "B02.jpg", "B03.jpg",
                           "Prueba.bmp", "Prueba.gpkg", "Prueba.imp", "Prueba.map", "Prueba.tif"}));
    expectFinished();
}

// "Detener la descarga", or closing the window, while an export is written: the window is
// back at once, the export leaves nothing once its thread is through, and the BMP already
// saved keeps its calibration files (written unasked when the window closes).
TEST_F(RunWindowTest, StoppingOrClosingDuringAnExportLeavesNoFile) {
    for (const bool close : {false, true}) {
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        writeSettings({{"Exportar", "MBTiles", "SI"},
                       {"Mosaicos", "MosaicosAncho", "5"},
                       {"Mosaicos", "MosaicosAlto", "5"}});
        open();
        press("btnDescargar");
        const auto exporting = [this] {
            return window->statusText().startsWith("Exportando Prueba.mbtiles");
        };
        if (close) {
            closeWhen(window->run(), &DownloadRun::statusText, exporting);
        } else {
            ASSERT_TRUE(QTest::qWaitFor(exporting, 60000));
            entry("Detener1")->trigger();
            EXPECT_FALSE(window->isRunning());
            EXPECT_EQ(messages().last(), ". Descarga detenida por el usuario");
            EXPECT_EQ(window->statusText(), "Descarga detenida.");
            expectFinished();
        }
        ExportWorkPool()->waitForDone();
        const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        EXPECT_EQ(left.filter("mbtiles").size(), 0) << left.join(' ').toStdString();
        EXPECT_TRUE(left.contains("Prueba.map")) << close;
        EXPECT_TRUE(left.contains("Prueba.imp")) << close;
        EXPECT_TRUE(left.contains("Prueba.morvel")) << close;
        window.reset();
    }
}

// While the files are written after the tiles the bar goes on moving, each file for its share
// of the run's estimated time, and the status bar says how long the run has left; the time
// left goes with the run, which leaves the bar full.
TEST_F(RunWindowTest, TheBarAndTheTimeLeftMoveWhileTheFilesAreWritten) {
    writeSettings({{"Exportar", "MBTiles", "SI"},
                   {"Mosaicos", "MosaicosAncho", "4"},
                   {"Mosaicos", "MosaicosAlto", "4"}});
    server.setLatency(100);
    // This build writes an MBTiles several times slower than the figures of a release build:
    // measured so by an earlier run, it is worth some steps of the bar.
    RunMeasures slow;
    slow.addOutput({QStringLiteral("MBTiles"), 2.56, 2.56 * kNominalTileBytes, 1.0, 1e6});
    ASSERT_TRUE(MeasureStore::Add(slow, MeasureStore::Path()));
    open();
    auto* left = find<QLabel>("stQuedan");
    EXPECT_FALSE(left->isVisible());
    struct Seen {
        QString status;
        int value;
        QString left;
    };
    std::vector<Seen> seen;
    QObject::connect(progress(), &QProgressBar::valueChanged, [&](int value) {
        seen.push_back({window->statusText(), value, left->isVisible() ? left->text() : QString()});
    });
    press("btnDescargar");
    waitForTheRun();
    ASSERT_FALSE(seen.empty());
    // 25 tiles, then the BMP, the MBTiles and the calibration files take their share.
    const int tiles = 25;
    EXPECT_GT(progress()->maximum(), tiles);
    EXPECT_EQ(progress()->value(), progress()->maximum());
    int during = 0;
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GT(seen[i].value, seen[i - 1].value) << seen[i].status.toStdString();
        if (seen[i].status.startsWith("Exportando Prueba.mbtiles") && seen[i].value > tiles) {
            ++during;
        }
    }
    EXPECT_GT(during, 1) << "the bar stood still while the MBTiles was written";
    // "Quedan 3 s", once the run has shown its pace for a second.
    const QRegularExpression time(
        QStringLiteral("^Quedan (menos de 1 s|\\d+ s|\\d+ min \\d\\d s)$"));
    int told = 0;
    for (const Seen& s : seen) {
        if (!s.left.isEmpty()) {
            ++told;
            EXPECT_TRUE(time.match(s.left).hasMatch()) << s.left.toStdString();
        }
    }
    EXPECT_GT(told, 0);
    EXPECT_FALSE(left->isVisible());
    EXPECT_TRUE(find<QLabel>("stEstimacion")->isVisible());
}

} // namespace
