// The main window driven through its real widgets, offscreen: start-up with and without a
// settings file, the area displays, the options, the states and closing.
#include "job/WriteError.h"
#include "ui/AcercaDe.h"
#include "ui/CornerEdit.h"
#include "ui/IniFile.h"
#include "ui/fPruncipal.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include "UiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include <memory>
#include <sys/stat.h>
#include <tuple>

namespace {

const QString kXOutOfRange = QStringLiteral("Coordenadas UTM X fuera de límites");
const QString kYOutOfRange = QStringLiteral("Coordenadas UTM Y fuera de límites");

class MainWindowTest : public ::testing::Test {
protected:
    // The numbers are Spanish whatever the system's locale: the window is tried under C.
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override {
        window.reset();
        QLocale::setDefault(previousLocale);
    }

    void writeSettings(const QByteArray& text) { WriteAll(cwd.file("Morvel.ini"), text); }
    QByteArray settingsFile() const { return ReadAll(cwd.file("Morvel.ini")); }

    void open() { window = std::make_unique<TfPrincipal>(&dialogs); }
    void openShown() {
        open();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    template <typename T> T* find(const char* name) const {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QAction* entry(const char* name) const { return find<QAction>(name); }
    bool enabled(const char* name) const { return find<QWidget>(name)->isEnabled(); }
    QString text(const char* label) const { return find<QLabel>(label)->text(); }
    void click(const char* name) const {
        QWidget* w = find<QWidget>(name);
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
    }
    // Replaces the text of a field or of a list's edit by typing.
    QLineEdit* type(const char* name, const char* typed) const {
        auto* list = window->findChild<QComboBox*>(name);
        QLineEdit* edit = list ? list->lineEdit() : find<QLineEdit>(name);
        edit->setFocus(Qt::TabFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(typed));
        return edit;
    }
    // The join-into-BMP option and everything that follows it, calibration entries included
    // unless `entriesFollow` is false.
    void expectSaveBmp(bool on, bool entriesFollow = true) const {
        EXPECT_EQ(window->job().saveBmp, on);
        EXPECT_EQ(find<QCheckBox>("cbGrabarBMP")->isChecked(), on);
        EXPECT_EQ(entry("GrabarBMP1")->isChecked(), on);
        for (const char* name : {"eNombreFichero", "cbOzi", "cbCompe"}) {
            EXPECT_EQ(enabled(name), on) << name;
        }
        for (const char* name : {"OziExplorer1", "CompeGPS1"}) {
            EXPECT_EQ(entry(name)->isEnabled(), on || !entriesFollow) << name;
        }
    }
    // The value of a key in the settings file as the program reads it.
    QString stored(const char* section, const char* key) const {
        return IniFile(cwd.file("Morvel.ini")).value(section, key).value_or(QStringLiteral("?"));
    }

    CurrentDirScope cwd;
    FakeDialogs dialogs;
    QLocale previousLocale;
    std::unique_ptr<TfPrincipal> window;
};

TEST_F(MainWindowTest, NoSettingsFileGivesTheDefaultAreaAndClosingWritesTwelveKeys) {
    openShown();
    EXPECT_EQ(window->windowTitle(), "Morvel 1.0.4");
    EXPECT_TRUE(dialogs.shown.empty());
    // 585000 + 5 x 5000 and 4,730,000 - 5 x 5000; 5 tiles of 5000 m and of 400 px.
    // The typed corner and the computed one, grouped alike.
    EXPECT_EQ(find<QLineEdit>("meUTMx")->displayText(), "585.000");
    EXPECT_EQ(text("stX"), "610.000");
    EXPECT_EQ(text("stY"), "4.705.000");
    EXPECT_EQ(text("stMAncho"), "25.000");
    EXPECT_EQ(text("stMAlto"), "25.000");
    EXPECT_EQ(text("stPAncho"), "2.000");
    EXPECT_EQ(text("stPAlto"), "2.000");
    EXPECT_EQ(find<QComboBox>("cbCobertura")->currentText(), "5000x5000");

    EXPECT_EQ(window->state(), WindowState::Ready);
    for (const char* on : {"btnDescargar", "btnSalir"}) {
        EXPECT_TRUE(enabled(on)) << on;
    }
    for (const char* off : {"btnMosaico", "btnSucesos", "btnNueva"}) {
        EXPECT_FALSE(enabled(off)) << off;
    }
    EXPECT_FALSE(entry("Ver1")->isEnabled());
    expectSaveBmp(true);
    EXPECT_EQ(QApplication::focusWidget(), find<QWidget>("meUTMx"));

    // The menu's "Salir" closes like the button.
    entry("Salir1")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(settingsFile(), "[Mosaicos]\nCobertura=0\nMosaicosAlto=4\nMosaicosAncho=4\n"
                              "UTMSupIzqX=585000\nUTMSupIzqY=730000\nBorrarMosaico=NO\n"
                              "TipoMosaico=1\n\n[Aplicacion]\nCarpeta=" +
                                  QDir::toNativeSeparators(cwd.path()).toUtf8() +
                                  "\nFichero=Prueba\nGrabarBMP=SI\n\n"
                                  "[Calibracion]\nOziExplorer=NO\nCompeGPS=NO\n");
    // A close asked for again (as during a run) does not write the file twice.
    ASSERT_TRUE(QFile::remove(cwd.file("Morvel.ini")));
    QCloseEvent again;
    QApplication::sendEvent(window.get(), &again);
    EXPECT_FALSE(QFile::exists(cwd.file("Morvel.ini")));
}

TEST_F(MainWindowTest, ResizingKeepsTheControlsInPlaceAndTheStatusBarAtTheBottom) {
    openShown();
    const QList<QWidget*> controls = find<QWidget>("client")->findChildren<QWidget*>();
    QList<QRect> places;
    for (const QWidget* w : controls) {
        places << w->geometry();
    }
    for (const QSize size : {QSize(900, 640), QSize(500, 300)}) {
        window->resize(size);
        QTest::qWait(5);
        for (int i = 0; i < controls.size(); ++i) {
            EXPECT_EQ(controls[i]->geometry(), places[i])
                << controls[i]->objectName().toStdString();
        }
        const QStatusBar* bar = find<QStatusBar>("sbEstado");
        EXPECT_EQ(bar->geometry().bottom(), window->height() - 1);
        EXPECT_EQ(bar->width(), window->width());
    }
}

TEST_F(MainWindowTest, TabVisitsTheControlsInReadingOrder) {
    openShown();
    // Disabled and hidden buttons are passed over; the ticked map-kind button stands for its
    // group. The folder button is reached.
    for (const char* name : {"meUTMy", "eCarpeta", "sbCarpeta", "cbGrabarBMP", "eNombreFichero",
                             "cbBorrarMosaico", "cbOzi", "cbCompe", "cbCobertura", "cbAncho",
                             "cbAlto", "rbOrto", "btnDescargar", "btnSalir", "meUTMx"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QLatin1String(name));
    }
}

// Every control says what it is for when the pointer rests on it, and each entry of
// "Exportar" which programs and devices read its file.
TEST_F(MainWindowTest, ControlsAndExportEntriesHaveTooltips) {
    openShown();
    for (QWidget* w : find<QWidget>("client")->findChildren<QWidget*>()) {
        const bool control =
            qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
            qobject_cast<QProgressBar*>(w) ||
            (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parent()));
        const bool display = qobject_cast<QLabel*>(w) && w->objectName().startsWith("st");
        // The line of a set of sheets says its own while it is shown.
        if ((control || display || w->objectName() == "IJPG") && w->isVisibleTo(window.get())) {
            EXPECT_FALSE(w->toolTip().isEmpty()) << w->objectName().toStdString();
        }
    }
    EXPECT_TRUE(find<QMenu>("Exportar1")->toolTipsVisible());
    const std::pair<const char*, QStringList> readers[] = {
        {"GeoTIFF1", {"QGIS", "ArcGIS", "Global Mapper", "Avenza Maps"}},
        {"GeoPackage1", {"QGIS", "AlpineQuest"}},
        {"MBTiles1", {"Locus Map", "OruxMaps", "AlpineQuest"}},
        {"KMZ1", {"GPS de mano Garmin", "Google Earth"}},
    };
    for (const auto& [name, programs] : readers) {
        for (const QString& program : programs) {
            EXPECT_TRUE(entry(name)->toolTip().contains(program))
                << name << ": " << program.toStdString();
        }
    }
}

QByteArray Binary() {
    QByteArray bytes(4096, '\0');
    for (int i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 7919 + 13) % 256);
    }
    return bytes;
}

// Damaged files start the program with the defaults, and it closes. A stored corner that
// fails a check shows its message once for each recompute made while the window is
// created: two, before it is shown, and the displays stay empty.
TEST_F(MainWindowTest, DamagedFilesAndBadCornersAtStartUp) {
    const std::pair<QByteArray, QString> cases[] = {
        {"", {}},
        {Binary(), {}},
        {"[Aplicacion]\nCarpeta=" + QByteArray(900 * 1024, 'c'), {}},
        {"[Mosaicos]\nCobertura=9\nCobertura=2\nTipoMosaico=x\n[Mosaicos]\nMosaicosAncho=0x10", {}},
        {"[Aplicacion]\nFichero=a\x01\x1b[0m\tb\x7f\n[Mosaicos]\nUTMSupIzqX=\x05\x06",
         "Introduzca coordenadas UTM"},
        {"[Mosaicos]\nUTMSupIzqX=12ab56", "Introduzca coordenadas UTM válidas"},
        {"[Mosaicos]\nUTMSupIzqX=536999", kXOutOfRange},
        // The kind's own button does not recompute on its own while loading.
        {"[Mosaicos]\nTipoMosaico=2\nUTMSupIzqY=800001", kYOutOfRange},
    };
    for (const auto& [file, message] : cases) {
        writeSettings(file);
        dialogs.shown.clear();
        open();
        const QStringList expected = message.isEmpty() ? QStringList() : QStringList(2, message);
        EXPECT_EQ(dialogs.texts("message"), expected) << file.left(60).constData();
        EXPECT_EQ(dialogs.shown.size(), expected.size());
        EXPECT_EQ(text("stMAncho").isEmpty(), !message.isEmpty());
        for (const char* list : {"cbCobertura", "cbAncho", "cbAlto"}) {
            EXPECT_GE(find<QComboBox>(list)->currentIndex(), 0) << list;
        }
        window->show();
        EXPECT_TRUE(window->close());
        EXPECT_FALSE(settingsFile().isEmpty());
    }
}

// A settings file beyond 1 MB, no file at all under the name, or one that fails to read, is
// not read: the window says so, starts with the defaults and leaves the file as it was when
// it closes.
TEST_F(MainWindowTest, ASettingsFileThatIsNoSettingsFileIsNeitherReadNorReplaced) {
    const QString path = cwd.file("Morvel.ini");
    const QByteArray huge = "[Aplicacion]\nFichero=Grande\n" + QByteArray(1024 * 1024, '#');
    const struct {
        const char* name;
        std::function<void()> make;
        const char* problem;
    } cases[] = {
        {"over 1 MB", [&] { WriteAll(path, huge); }, "ocupa más de 1 MB"},
        {"a pipe", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0); },
         "no es un fichero normal"},
        // A file that fails to read (tests run as root, whom no permission stops): the
        // process's own memory, whose first page is never mapped.
        {"unreadable", [&] { ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), path)); },
         "error de lectura del disco"},
    };
    for (const auto& c : cases) {
        QFile::remove(path);
        c.make();
        dialogs.shown.clear();
        open();
        EXPECT_EQ(dialogs.texts("message"),
                  QStringList{QStringLiteral("No se ha leído el fichero de configuración "
                                             "./Morvel.ini: %1. Se usan los valores por defecto y "
                                             "el fichero no se modificará")
                                  .arg(QString::fromUtf8(c.problem))})
            << c.name;
        EXPECT_EQ(find<QLineEdit>("eNombreFichero")->text(), QStringLiteral("Prueba")) << c.name;
        window->show();
        EXPECT_TRUE(window->close());
        window.reset();
        EXPECT_TRUE(dialogs.texts("error").isEmpty()) << c.name;
        // Still the very file: the huge one, or the pipe.
        struct stat after {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &after), 0);
        if (S_ISREG(after.st_mode)) {
            EXPECT_EQ(ReadAll(path), huge) << c.name;
        } else {
            EXPECT_TRUE(S_ISFIFO(after.st_mode) || S_ISLNK(after.st_mode)) << c.name;
        }
    }
}

// One file with a value for each reading rule the window shows, names in another case.
TEST_F(MainWindowTest, StoredSettingsAreShownAndWrittenBack) {
    writeSettings("[MOSAICOS]\nmosaicosancho=9\nmosaicosalto=0\ntipomosaico=7\ncobertura=3\n"
                  "[aplicacion]\nGRABARBMP=si\nServidor=http://10.1.2.3:8037/\n");
    open();
    EXPECT_TRUE(dialogs.shown.empty());
    // Kind 7 is out of range, so 0: cartography, whose position 3 is 250 m; position 9 is
    // ten tiles across, 0 one down.
    EXPECT_TRUE(find<QRadioButton>("rbCarto")->isChecked());
    EXPECT_EQ(find<QComboBox>("cbAncho")->currentText(), "10");
    EXPECT_EQ(text("stMAncho"), "2.500");
    EXPECT_EQ(text("stMAlto"), "250");
    EXPECT_EQ(window->job().requestPrefix,
              "http://10.1.2.3:8037/navegar/asp/mime.aspx?TIPO=6&Xmin=");
    // Only the exact "SI" is on. Loading does not run the box's handler when its tick does
    // not change, so the calibration entries stay enabled and switch the disabled boxes.
    expectSaveBmp(false, false);
    entry("OziExplorer1")->trigger();
    EXPECT_TRUE(find<QCheckBox>("cbOzi")->isChecked());

    // Another kind selects the remembered coverage position, not the chosen one.
    auto* coverage = find<QComboBox>("cbCobertura");
    coverage->setCurrentIndex(1);
    EXPECT_EQ(window->job().tileSize, 1000);
    find<QRadioButton>("rbMDT")->click();
    EXPECT_EQ(coverage->currentText(), "4000x4000");
    find<QRadioButton>("rbCarto")->click();
    EXPECT_EQ(coverage->currentIndex(), 3);
    EXPECT_EQ(window->job().tileSize, 250);
    coverage->setCurrentIndex(1);

    window->close();
    // The file's own spelling stays and no second section appears.
    const QByteArray file = settingsFile();
    EXPECT_TRUE(file.startsWith("[MOSAICOS]\nmosaicosancho=9\nmosaicosalto=0\ntipomosaico=0\n"
                                "cobertura=3\n"))
        << file.constData();
    EXPECT_EQ(file.toLower().count("[mosaicos]"), 1);
    EXPECT_TRUE(file.contains("\nGRABARBMP=NO\n"));
    EXPECT_TRUE(file.contains("\nServidor=http://10.1.2.3:8037/\n"));
    EXPECT_TRUE(file.contains("\nOziExplorer=SI\n"));
}

TEST_F(MainWindowTest, UnwritableFileShowsTheErrorAndStillCloses) {
    const QByteArray old = "[Mosaicos]\nCobertura=2\n";
    writeSettings(old);
    openShown();
    const ReadOnlyFolder readOnly(cwd.path());
    if (!readOnly.active()) {
        GTEST_SKIP() << "this system lets every write through";
    }
    click("btnSalir");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(dialogs.texts("error"),
              QStringList{"No se ha podido grabar el fichero de configuración ./Morvel.ini: " +
                          LocalWriteErrorFor(EACCES).reason});
    EXPECT_EQ(settingsFile(), old);
}

TEST_F(MainWindowTest, OptionsKeepFlagBoxAndCheckMarkEqual) {
    openShown();
    const std::tuple<const char*, const char*, bool DownloadJob::*> options[] = {
        {"cbBorrarMosaico", "BorraFicheros", &DownloadJob::deleteTiles},
        {"cbOzi", "OziExplorer1", &DownloadJob::saveOzi},
        {"cbCompe", "CompeGPS1", &DownloadJob::saveCompe}};
    // The menu entry ticks the box, the box clears both.
    for (const auto& [box, menu, flag] : options) {
        for (const bool on : {true, false}) {
            on ? entry(menu)->trigger() : click(box);
            EXPECT_EQ(window->job().*flag, on) << box;
            EXPECT_EQ(find<QCheckBox>(box)->isChecked(), on) << box;
            EXPECT_EQ(entry(menu)->isChecked(), on) << box;
        }
    }
    // Clearing "Grabar fichero" disables what depends on it; the ticks stay as they were.
    entry("OziExplorer1")->trigger();
    click("cbGrabarBMP");
    expectSaveBmp(false);
    EXPECT_TRUE(find<QCheckBox>("cbOzi")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("cbCompe")->isChecked());
    entry("GrabarBMP1")->trigger();
    expectSaveBmp(true);
}

TEST_F(MainWindowTest, IncompleteCornerKeepsTheFocusAndDoesNotRecompute) {
    openShown();
    auto* x = find<CornerEdit>("meUTMx");
    auto* y = find<CornerEdit>("meUTMy");
    // A northing out of range, not yet checked: a recompute would say so.
    y->setValue(QStringLiteral("900000"));
    x->setCursorPosition(7);
    QTest::keyClick(x, Qt::Key_Backspace);
    ASSERT_EQ(x->displayText(), "585.00_");

    QTest::keyClick(x, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), x);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.texts("error").size(), 1, 1000);
    EXPECT_EQ(dialogs.texts("error").front(),
              "Invalid input value.  Use escape key to abandon changes");
    // A click elsewhere is refused the same way.
    QTest::mouseClick(find<QWidget>("eNombreFichero"), Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), x);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.texts("error").size(), 2, 1000);
    EXPECT_TRUE(dialogs.texts("message").isEmpty());

    // Escape brings back the value at entry; then the field lets go and recomputes.
    QTest::keyClick(x, Qt::Key_Escape);
    EXPECT_EQ(x->displayText(), "585.000");
    QTest::keyClick(x, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), y);
    EXPECT_EQ(dialogs.texts("message"), QStringList{kYOutOfRange});
}

// Each field and list recomputes the area. A typed list text that names no item gives no
// tiles for a count and keeps the tile size for the coverage.
TEST_F(MainWindowTest, FieldsAndListsRecompute) {
    openShown();
    type("meUTMy", "700000");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(text("stY"), "4.675.000");
    type("cbAlto", "x");
    EXPECT_EQ(window->job().tilesDown, 0);
    EXPECT_EQ(text("stMAlto"), "0");
    EXPECT_EQ(text("stPAlto"), "0");
    EXPECT_EQ(text("stY"), "4.700.000");
    type("cbAncho", "7"); // the text of an item counts as choosing it
    EXPECT_EQ(text("stMAncho"), "35.000");
    find<QComboBox>("cbCobertura")->setCurrentIndex(2);
    EXPECT_EQ(text("stMAncho"), "3.500");
    type("cbCobertura", "3000");
    EXPECT_EQ(window->job().tileSize, 500);
    EXPECT_EQ(text("stMAncho"), "3.500");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MainWindowTest, NameAndFolderFieldsAndTheFolderChooser) {
    openShown();
    type("eNombreFichero", "Sierra");
    EXPECT_EQ(window->job().bmpName, "Sierra");
    // The typed folder is taken when editing finishes.
    QLineEdit* folder = type("eCarpeta", "/datos/mapas");
    EXPECT_EQ(window->job().folder, QDir::toNativeSeparators(cwd.path()));
    QTest::keyClick(folder, Qt::Key_Return);
    EXPECT_EQ(window->job().folder, "/datos/mapas");
    click("sbCarpeta"); // cancelled
    EXPECT_EQ(dialogs.texts("chooseFolder"), QStringList{"Seleccione carpeta destino del mosaico"});
    EXPECT_EQ(window->job().folder, "/datos/mapas");
    dialogs.folderAnswer = QStringLiteral("/");
    click("sbCarpeta");
    EXPECT_EQ(window->job().folder, "/");
    EXPECT_EQ(folder->text(), "/");
    window->close();
    EXPECT_EQ(stored("Aplicacion", "Carpeta"), "/");
}

// Each state sets every control of its row, whatever the state before.
TEST_F(MainWindowTest, EachStateSetsEveryControlOfItsRow) {
    open();
    const struct {
        WindowState state;
        bool descargar, lists, salir, mosaico, sucesos, nueva;
    } rows[] = {{WindowState::Ready, true, true, true, false, false, false},
                {WindowState::Running, false, false, false, false, false, false},
                {WindowState::Finished, false, false, true, true, true, true},
                {WindowState::ReadyAgain, true, true, true, false, false, false}};
    for (const auto& r : rows) {
        for (const WindowState from :
             {WindowState::Finished, WindowState::Running, WindowState::Ready}) {
            window->ApplyState(from);
            const bool verBefore = entry("Ver1")->isEnabled();
            window->ApplyState(r.state);
            const int row = static_cast<int>(r.state);
            EXPECT_EQ(window->state(), r.state);
            EXPECT_EQ(enabled("btnDescargar"), r.descargar) << row;
            for (const char* list : {"cbCobertura", "cbAncho", "cbAlto"}) {
                EXPECT_EQ(enabled(list), r.lists) << row << list;
            }
            EXPECT_EQ(enabled("btnSalir"), r.salir) << row;
            EXPECT_EQ(enabled("btnMosaico"), r.mosaico) << row;
            EXPECT_EQ(enabled("btnSucesos"), r.sucesos) << row;
            EXPECT_EQ(enabled("btnNueva"), r.nueva) << row;
            // "Ver" is kept during a run, else on once a run has finished.
            const bool ver =
                r.state == WindowState::Running ? verBefore : r.state != WindowState::Ready;
            EXPECT_EQ(entry("Ver1")->isEnabled(), ver) << row;
            for (const char* always : {"meUTMx", "rbCarto", "sbCarpeta"}) {
                EXPECT_TRUE(enabled(always)) << row << always;
            }
            // A run can be stopped only while it goes on; no run has failed tiles here.
            EXPECT_EQ(entry("Detener1")->isEnabled(), r.state == WindowState::Running) << row;
            EXPECT_FALSE(entry("Reintentar1")->isEnabled()) << row;
        }
    }
}

// The datum entries are exclusive, ED50 by default; the world file is an option of its own.
// Both follow the BMP option as the calibration entries do, and survive in Morvel.ini.
TEST_F(MainWindowTest, DatumAndWorldFileEntries) {
    open();
    QAction* ed50 = entry("DatumED501");
    QAction* wgs84 = entry("DatumWGS841");
    QAction* world = entry("Georreferencia1");
    EXPECT_EQ(ed50->text(), "Datum ED50 (European 1950)");
    EXPECT_EQ(wgs84->text(), "Datum WGS 84 (ETRS89)");
    EXPECT_EQ(world->text(), "Fichero de georreferencia (.bpw)");
    EXPECT_TRUE(ed50->isChecked());
    EXPECT_FALSE(wgs84->isChecked());
    EXPECT_EQ(window->job().datum, CalibrationDatum::Ed50);
    wgs84->trigger();
    EXPECT_TRUE(wgs84->isChecked());
    EXPECT_FALSE(ed50->isChecked());
    EXPECT_EQ(window->job().datum, CalibrationDatum::Wgs84);
    world->trigger();
    EXPECT_TRUE(window->job().saveWorldFile);
    entry("GrabarBMP1")->trigger();
    EXPECT_FALSE(wgs84->isEnabled());
    EXPECT_FALSE(world->isEnabled());
    entry("GrabarBMP1")->trigger();
    EXPECT_TRUE(world->isEnabled());
    window->close();
    EXPECT_EQ(stored("Calibracion", "Datum"), "WGS84");
    EXPECT_EQ(stored("Calibracion", "Georreferencia"), "SI");

    open();
    EXPECT_TRUE(entry("DatumWGS841")->isChecked());
    EXPECT_TRUE(entry("Georreferencia1")->isChecked());
    entry("DatumED501")->trigger();
    entry("Georreferencia1")->trigger();
    window->close();
    EXPECT_EQ(stored("Calibracion", "Datum"), "ED50");
    EXPECT_EQ(stored("Calibracion", "Georreferencia"), "NO");
}

TEST_F(MainWindowTest, ButtonsAndEntriesShowTheOtherWindowsModally) {
    open();
    TfElegirCarpeta log;
    TfMosaico viewer;
    TAboutBox about;
    window->attachWindows(&log, &viewer, &about);
    window->show();
    window->ApplyState(WindowState::Finished);
    const std::pair<std::function<void()>, QDialog*> openings[] = {
        {[&] { click("btnSucesos"); }, &log},
        {[&] { click("btnMosaico"); }, &viewer},
        {[&] { entry("Ver1")->trigger(); }, &viewer},
        {[&] { entry("Ayuda1")->trigger(); }, &about},
    };
    for (const auto& [trigger, expected] : openings) {
        QWidget* modal = nullptr;
        QTimer::singleShot(0, [&] {
            if ((modal = QApplication::activeModalWidget()) != nullptr) {
                modal->close();
            }
        });
        trigger();
        EXPECT_EQ(modal, expected);
        EXPECT_FALSE(expected->isVisible());
    }
}

} // namespace
