// The main window driven through its real widgets, offscreen: start-up with and without a
// settings file, the area displays, the options, the states and closing.
#include "download/MapKinds.h"
#include "ui/AcercaDe.h"
#include "ui/CornerEdit.h"
#include "ui/IniFile.h"
#include "ui/Settings.h"
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
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const QString kEnterCoordinates = QStringLiteral("Introduzca coordenadas UTM");
const QString kInvalidCoordinates = QStringLiteral("Introduzca coordenadas UTM válidas");
const QString kXOutOfRange = QStringLiteral("Coordenadas UTM X fuera de límites");
const QString kYOutOfRange = QStringLiteral("Coordenadas UTM Y fuera de límites");

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain)); }
    void TearDown() override {
        window.reset();
        QLocale::setDefault(previousLocale);
    }

    void writeSettings(const QByteArray& text) { WriteAll(cwd.file("Morvel.ini"), text); }
    QByteArray settingsFile() const { return ReadAll(cwd.file("Morvel.ini")); }

    TfPrincipal& open() {
        window = std::make_unique<TfPrincipal>(&dialogs);
        return *window;
    }
    void showActive() {
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
    QString text(const char* label) const { return find<QLabel>(label)->text(); }

    // The value of a key in the settings file as the program reads it.
    QString stored(const char* section, const char* key) const {
        return IniFile(cwd.file("Morvel.ini")).value(section, key).value_or(QStringLiteral("?"));
    }

    CurrentDirScope cwd;
    FakeDialogs dialogs;
    QLocale previousLocale;
    std::unique_ptr<TfPrincipal> window;
};

// --- Start-up ----------------------------------------------------------------------------

TEST_F(MainWindowTest, StartsReadyWithTheDefaultArea) {
    open();
    EXPECT_EQ(window->windowTitle(), "Morvel 1.0.4");
    EXPECT_TRUE(dialogs.shown.empty());
    // 585000 + 5 x 5000 and 4,730,000 - 5 x 5000; 5 tiles of 5000 m and of 400 px.
    EXPECT_EQ(text("stX"), "610.000");
    EXPECT_EQ(text("stY"), "4.705.000");
    EXPECT_EQ(text("stMAncho"), "25.000");
    EXPECT_EQ(text("stMAlto"), "25.000");
    EXPECT_EQ(text("stPAncho"), "2.000");
    EXPECT_EQ(text("stPAlto"), "2.000");

    EXPECT_TRUE(find<QRadioButton>("rbOrto")->isChecked());
    const auto* coverage = find<QComboBox>("cbCobertura");
    ASSERT_EQ(coverage->count(), 5);
    EXPECT_EQ(coverage->itemText(0), "5000x5000");
    EXPECT_EQ(coverage->currentText(), "5000x5000");
    EXPECT_EQ(find<QComboBox>("cbAncho")->currentText(), "5");
    EXPECT_EQ(find<QComboBox>("cbAlto")->currentText(), "5");
    EXPECT_EQ(find<QLineEdit>("meUTMx")->displayText(), "585.000");
    EXPECT_EQ(find<QLineEdit>("meUTMy")->displayText(), "730.000");
    EXPECT_EQ(find<QLineEdit>("eCarpeta")->text(), QDir::toNativeSeparators(cwd.path()));
    EXPECT_EQ(find<QLineEdit>("eNombreFichero")->text(), "Prueba");

    EXPECT_TRUE(find<QCheckBox>("cbGrabarBMP")->isChecked());
    EXPECT_TRUE(entry("GrabarBMP1")->isChecked());
    for (const char* option : {"cbBorrarMosaico", "cbOzi", "cbCompe"}) {
        EXPECT_FALSE(find<QCheckBox>(option)->isChecked()) << option;
    }

    const DownloadJob& job = window->job();
    EXPECT_EQ(job.kind, MapKind::Orto);
    EXPECT_EQ(job.tileSize, 5000);
    EXPECT_EQ(job.requestPrefix, MapServerBase() + "/navegar/asp/mime.aspx?TIPO=0&Xmin=");
    EXPECT_EQ(job.rowLetters, "ABCDEFGHIJ");
    EXPECT_EQ(job.bmpName, "Prueba");
    EXPECT_TRUE(job.saveBmp);
    EXPECT_EQ(window->serverBase(), MapServerBase());
}

TEST_F(MainWindowTest, StartUpEnabling) {
    open();
    showActive();
    EXPECT_EQ(window->state(), WindowState::Ready);
    EXPECT_TRUE(find<QPushButton>("btnDescargar")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("btnSalir")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("btnMosaico")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("btnSucesos")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("btnNueva")->isEnabled());
    EXPECT_FALSE(entry("Ver1")->isEnabled());
    EXPECT_TRUE(entry("OziExplorer1")->isEnabled());
    EXPECT_TRUE(entry("CompeGPS1")->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), find<QWidget>("meUTMx"));
}

// Places of the layout: relative to the group box, or to the client area for the top line.
struct Place {
    const char* name;
    const char* parent;
    QRect rect;
};

constexpr Place kPlaces[] = {
    {"eCarpeta", "client", {328, 8, 281, 21}},
    {"sbCarpeta", "client", {608, 8, 23, 22}},
    {"GroupBox1", "client", {8, 8, 177, 177}},
    {"GroupBox2", "GroupBox1", {8, 16, 161, 73}},
    {"meUTMx", "GroupBox2", {48, 16, 49, 21}},
    {"meUTMy", "GroupBox2", {48, 40, 49, 21}},
    {"GroupBox3", "GroupBox1", {8, 96, 161, 73}},
    {"stX", "GroupBox3", {48, 24, 65, 17}},
    {"stY", "GroupBox3", {48, 48, 65, 17}},
    {"GroupBox4", "client", {8, 192, 177, 161}},
    {"GroupBox6", "GroupBox4", {8, 16, 161, 65}},
    {"stMAncho", "GroupBox6", {56, 16, 57, 17}},
    {"stMAlto", "GroupBox6", {56, 40, 57, 17}},
    {"GroupBox7", "GroupBox4", {8, 88, 161, 65}},
    {"stPAncho", "GroupBox7", {56, 16, 57, 17}},
    {"stPAlto", "GroupBox7", {56, 40, 57, 17}},
    {"GroupBox8", "client", {432, 48, 201, 217}},
    {"cbCobertura", "GroupBox8", {104, 16, 89, 21}},
    {"cbAncho", "GroupBox8", {56, 64, 41, 21}},
    {"cbAlto", "GroupBox8", {56, 88, 41, 21}},
    {"rbCarto", "GroupBox8", {16, 136, 89, 17}},
    {"rbOrto", "GroupBox8", {16, 152, 81, 17}},
    {"rbMDT", "GroupBox8", {16, 168, 89, 17}},
    {"IJPG", "GroupBox8", {112, 136, 81, 73}},
    {"GroupBox5", "client", {192, 48, 233, 217}},
    {"cbGrabarBMP", "GroupBox5", {16, 24, 97, 17}},
    {"eNombreFichero", "GroupBox5", {56, 56, 169, 21}},
    {"cbBorrarMosaico", "GroupBox5", {16, 96, 209, 17}},
    {"cbOzi", "GroupBox5", {16, 152, 97, 17}},
    {"cbCompe", "GroupBox5", {16, 176, 97, 17}},
    {"pbMosaico", "client", {192, 288, 281, 16}},
    {"btnDescargar", "client", {192, 320, 89, 25}},
    {"btnMosaico", "client", {296, 320, 81, 25}},
    {"btnSucesos", "client", {392, 320, 81, 25}},
    {"btnNueva", "client", {496, 272, 129, 25}},
    {"btnSalir", "client", {550, 320, 75, 25}},
};

TEST_F(MainWindowTest, ControlsStayInTheirPlacesWhenResized) {
    open();
    showActive();
    for (const QSize size : {window->size(), QSize(900, 640), QSize(500, 300)}) {
        window->resize(size);
        QTest::qWait(5);
        for (const Place& p : kPlaces) {
            const QWidget* w = find<QWidget>(p.name);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(w->parentWidget()->objectName(), p.parent) << p.name;
            EXPECT_EQ(w->geometry(), p.rect) << p.name;
        }
        const QStatusBar* bar = find<QStatusBar>("sbEstado");
        EXPECT_EQ(bar->geometry().bottom(), window->height() - 1);
        EXPECT_EQ(bar->width(), window->width());
    }
}

TEST_F(MainWindowTest, TabVisitsTheControlsInOrder) {
    open();
    showActive();
    const char* const expected[] = {"meUTMy",       "cbCobertura",     "cbAncho",  "cbAlto",
                                    "rbOrto",       "btnSalir",        "eCarpeta", "eNombreFichero",
                                    "cbGrabarBMP",  "cbBorrarMosaico", "cbOzi",    "cbCompe",
                                    "btnDescargar", "meUTMx"};
    // Disabled buttons are passed over; the ticked map-kind button stands for its group.
    for (const char* name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QLatin1String(name));
    }
    // Within the map-kind group the arrow keys move and tick.
    auto* orto = find<QRadioButton>("rbOrto");
    orto->setFocus(Qt::TabFocusReason);
    QTest::keyClick(orto, Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "rbMDT");
    EXPECT_TRUE(find<QRadioButton>("rbMDT")->isChecked());
    EXPECT_EQ(window->job().kind, MapKind::MDT);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "rbCarto");
    EXPECT_EQ(window->job().kind, MapKind::Carto);
}

// A stored corner that fails a check shows its message once for each recompute made while
// the window is created: two, before the window is shown.
struct BadCornerCase {
    const char* file;
    const QString* message;
};

class StoredCornerTest : public MainWindowTest,
                         public ::testing::WithParamInterface<BadCornerCase> {};

TEST_P(StoredCornerTest, MessageTwiceDuringCreation) {
    writeSettings(GetParam().file);
    open();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(dialogs.texts("message"), QStringList(2, *GetParam().message));
    EXPECT_EQ(dialogs.shown.size(), 2u);
    // The displays were never filled.
    EXPECT_EQ(text("stX"), "");
    EXPECT_EQ(text("stMAncho"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoredCornerTest,
    ::testing::Values(
        BadCornerCase{"[Mosaicos]\nUTMSupIzqX=12ab56\n", &kInvalidCoordinates},
        BadCornerCase{"[Mosaicos]\nUTMSupIzqX=\n", &kEnterCoordinates},
        BadCornerCase{"[Mosaicos]\nUTMSupIzqX=536999\n", &kXOutOfRange},
        BadCornerCase{"[Mosaicos]\nUTMSupIzqX=690001\nUTMSupIzqY=999999\n", &kXOutOfRange},
        BadCornerCase{"[Mosaicos]\nUTMSupIzqY=639999\n", &kYOutOfRange},
        // The kind's own button does not recompute on its own while loading.
        BadCornerCase{"[Mosaicos]\nTipoMosaico=2\nUTMSupIzqY=800001\n", &kYOutOfRange},
        BadCornerCase{"[Mosaicos]\nTipoMosaico=0\nUTMSupIzqY=800001\n", &kYOutOfRange}));

TEST_F(MainWindowTest, StoredCornerAtTheLimitsIsAccepted) {
    writeSettings("[Mosaicos]\nUTMSupIzqX=690000\nUTMSupIzqY=640000\nTipoMosaico=2\n"
                  "MosaicosAncho=9\nMosaicosAlto=0\n");
    open();
    EXPECT_TRUE(dialogs.shown.empty());
    // M.D.T. position 0 is 10000 m: 690000 + 10 x 10000; 4,640,000 - 10000.
    EXPECT_EQ(text("stX"), "790.000");
    EXPECT_EQ(text("stY"), "4.630.000");
    EXPECT_EQ(text("stMAncho"), "100.000");
    EXPECT_EQ(text("stPAncho"), "4.000");
    EXPECT_EQ(text("stPAlto"), "400");
}

// Files that are damaged in some way start the program with defaults or messages.
class DamagedSettingsTest : public MainWindowTest,
                            public ::testing::WithParamInterface<QByteArray> {};

TEST_P(DamagedSettingsTest, StartsAndCloses) {
    writeSettings(GetParam());
    open();
    for (const FakeDialogs::Shown& s : dialogs.shown) {
        EXPECT_EQ(s.kind, "message");
        EXPECT_TRUE(
            QStringList({kEnterCoordinates, kInvalidCoordinates, kXOutOfRange, kYOutOfRange})
                .contains(s.text))
            << s.text.toStdString();
    }
    for (const char* list : {"cbCobertura", "cbAncho", "cbAlto"}) {
        EXPECT_GE(find<QComboBox>(list)->currentIndex(), 0) << list;
    }
    showActive();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(settingsFile().isEmpty());
}

QByteArray Binary() {
    QByteArray bytes(4096, '\0');
    for (int i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 7919 + 13) % 256);
    }
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedSettingsTest,
    ::testing::Values(QByteArray(), Binary(),
                      "[Aplicacion]\nCarpeta=" + QByteArray(3 * 1024 * 1024, 'c') + "\n",
                      QByteArray("[Mosaicos]\nCobertura=9\nCobertura=2\nTipoMosaico=x\n"
                                 "[Mosaicos]\nMosaicosAncho=0x10\n"),
                      QByteArray("[Aplicacion]\nFichero=a\x01\x02\x1b[0m\tb\x7f\n"
                                 "[Mosaicos]\nUTMSupIzqX=\x05\x06\n"),
                      QByteArray("[Mosaicos]\nUTMSupIzqX=12ab56\nUTMSupIzqY=-1\n")));

TEST_F(MainWindowTest, ServerFromTheSettings) {
    writeSettings("[Aplicacion]\nServidor=http://10.1.2.3:8037/\n");
    open();
    EXPECT_EQ(window->serverBase(), "http://10.1.2.3:8037");
    EXPECT_EQ(window->job().requestPrefix,
              "http://10.1.2.3:8037/navegar/asp/mime.aspx?TIPO=0&Xmin=");
    find<QRadioButton>("rbCarto")->click();
    EXPECT_EQ(window->job().requestPrefix,
              "http://10.1.2.3:8037/navegar/asp/mime.aspx?TIPO=6&Xmin=");
    window->close();
    EXPECT_EQ(stored("Aplicacion", "Servidor"), "http://10.1.2.3:8037/");
}

// --- Settings written at close -----------------------------------------------------------------

TEST_F(MainWindowTest, NoFileGivesDefaultsAndClosingWritesTwelveKeys) {
    open();
    showActive();
    ASSERT_TRUE(window->close());
    const QByteArray file = settingsFile();
    EXPECT_EQ(file.count('='), 12) << file.constData();
    EXPECT_FALSE(file.contains("Servidor"));
    EXPECT_EQ(stored("Mosaicos", "Cobertura"), "0");
    EXPECT_EQ(stored("Mosaicos", "MosaicosAlto"), "4");
    EXPECT_EQ(stored("Mosaicos", "MosaicosAncho"), "4");
    EXPECT_EQ(stored("Mosaicos", "UTMSupIzqX"), "585000");
    EXPECT_EQ(stored("Mosaicos", "UTMSupIzqY"), "730000");
    EXPECT_EQ(stored("Aplicacion", "Carpeta"), QDir::toNativeSeparators(cwd.path()));
    EXPECT_EQ(stored("Aplicacion", "Fichero"), "Prueba");
    EXPECT_EQ(stored("Mosaicos", "BorrarMosaico"), "NO");
    EXPECT_EQ(stored("Aplicacion", "GrabarBMP"), "SI");
    EXPECT_EQ(stored("Mosaicos", "TipoMosaico"), "1");
    EXPECT_EQ(stored("Calibracion", "OziExplorer"), "NO");
    EXPECT_EQ(stored("Calibracion", "CompeGPS"), "NO");
}

TEST_F(MainWindowTest, NineTilesAcrossGivesTenAndIsWrittenBack) {
    writeSettings("[Mosaicos]\nMosaicosAncho=9\n");
    open();
    EXPECT_EQ(find<QComboBox>("cbAncho")->currentText(), "10");
    EXPECT_EQ(window->job().tilesAcross, 10);
    EXPECT_EQ(text("stMAncho"), "50.000");
    window->close();
    EXPECT_EQ(stored("Mosaicos", "MosaicosAncho"), "9");
}

TEST_F(MainWindowTest, LowerCaseSiReadsAsOffAndIsWrittenNo) {
    writeSettings("[Aplicacion]\nGrabarBMP=si\n");
    open();
    EXPECT_FALSE(find<QCheckBox>("cbGrabarBMP")->isChecked());
    EXPECT_FALSE(entry("GrabarBMP1")->isChecked());
    EXPECT_FALSE(window->job().saveBmp);
    EXPECT_FALSE(find<QLineEdit>("eNombreFichero")->isEnabled());
    EXPECT_FALSE(find<QCheckBox>("cbOzi")->isEnabled());
    EXPECT_FALSE(find<QCheckBox>("cbCompe")->isEnabled());
    // Loading does not run the box's handler when its tick does not change, so the
    // calibration entries stay enabled and switch the disabled boxes.
    EXPECT_TRUE(entry("OziExplorer1")->isEnabled());
    entry("OziExplorer1")->trigger();
    EXPECT_TRUE(find<QCheckBox>("cbOzi")->isChecked());
    EXPECT_TRUE(window->job().saveOzi);
    window->close();
    EXPECT_EQ(stored("Aplicacion", "GrabarBMP"), "NO");
    EXPECT_EQ(stored("Calibracion", "OziExplorer"), "SI");
}

TEST_F(MainWindowTest, KindSevenTicksCartography) {
    writeSettings("[Mosaicos]\nTipoMosaico=7\n");
    open();
    EXPECT_TRUE(find<QRadioButton>("rbCarto")->isChecked());
    EXPECT_EQ(find<QComboBox>("cbCobertura")->currentText(), "2000x2000");
    // 585000 + 5 x 2000, 4,730,000 - 5 x 2000.
    EXPECT_EQ(text("stX"), "595.000");
    EXPECT_EQ(text("stY"), "4.720.000");
    EXPECT_EQ(text("stMAncho"), "10.000");
}

TEST_F(MainWindowTest, CoveragePositionIsRememberedNotChosen) {
    writeSettings("[Mosaicos]\nCobertura=3\n");
    open();
    auto* coverage = find<QComboBox>("cbCobertura");
    EXPECT_EQ(coverage->currentIndex(), 3);
    EXPECT_EQ(window->job().tileSize, 250);
    coverage->setCurrentIndex(1);
    EXPECT_EQ(window->job().tileSize, 1000);
    EXPECT_EQ(text("stMAncho"), "5.000");
    // Another kind selects the remembered position, not the chosen one.
    find<QRadioButton>("rbMDT")->click();
    EXPECT_EQ(coverage->currentText(), "4000x4000");
    EXPECT_EQ(window->job().tileSize, 4000);
    find<QRadioButton>("rbCarto")->click();
    EXPECT_EQ(coverage->currentIndex(), 3);
    EXPECT_EQ(coverage->itemText(0), "2000x2000");
    EXPECT_EQ(window->job().tileSize, 250);
    coverage->setCurrentIndex(1);
    window->close();
    EXPECT_EQ(stored("Mosaicos", "Cobertura"), "3");
}

TEST_F(MainWindowTest, NamesInAnotherCaseAreFound) {
    writeSettings("[MOSAICOS]\ncobertura=2\nmosaicosalto=0\n[aplicacion]\nFICHERO=Sierra\n");
    open();
    EXPECT_EQ(find<QComboBox>("cbCobertura")->currentIndex(), 2);
    EXPECT_EQ(window->job().tilesDown, 1);
    EXPECT_EQ(window->job().bmpName, "Sierra");
    window->close();
    const QByteArray file = settingsFile();
    // The file's own spelling is kept and no second section appears.
    EXPECT_EQ(file.count("[MOSAICOS]"), 1);
    EXPECT_EQ(file.toLower().count("[mosaicos]"), 1);
    EXPECT_TRUE(file.contains("cobertura=2"));
    EXPECT_TRUE(file.contains("FICHERO=Sierra"));
}

TEST_F(MainWindowTest, UnwritableFileShowsTheErrorAndStillCloses) {
    const QByteArray old = "[Mosaicos]\nCobertura=2\n";
    writeSettings(old);
    open();
    showActive();
    const ReadOnlyFolder readOnly(cwd.path());
    if (!readOnly.active()) {
        GTEST_SKIP() << "this system lets every write through";
    }
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(dialogs.texts("error"), QStringList{"Unable to write to ./Morvel.ini"});
    EXPECT_EQ(settingsFile(), old);
}

TEST_F(MainWindowTest, SettingsAreWrittenOnceWhenClosedTwice) {
    open();
    showActive();
    find<QPushButton>("btnSalir")->click();
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(QFile::remove(cwd.file("Morvel.ini")));
    QCloseEvent again;
    QApplication::sendEvent(window.get(), &again);
    EXPECT_TRUE(again.isAccepted());
    EXPECT_FALSE(QFile::exists(cwd.file("Morvel.ini")));
}

TEST_F(MainWindowTest, SalirMenuEntryClosesLikeTheButton) {
    open();
    showActive();
    entry("Salir1")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(QFile::exists(cwd.file("Morvel.ini")));
}

// --- The options ---------------------------------------------------------------------------

TEST_F(MainWindowTest, ClearingGrabarFicheroDisablesWhatDependsOnIt) {
    open();
    showActive();
    auto* grabar = find<QCheckBox>("cbGrabarBMP");
    entry("OziExplorer1")->trigger();
    ASSERT_TRUE(find<QCheckBox>("cbOzi")->isChecked());

    QTest::mouseClick(grabar, Qt::LeftButton, {}, QPoint(8, grabar->height() / 2));
    EXPECT_FALSE(grabar->isChecked());
    EXPECT_FALSE(window->job().saveBmp);
    EXPECT_FALSE(entry("GrabarBMP1")->isChecked());
    EXPECT_FALSE(find<QLineEdit>("eNombreFichero")->isEnabled());
    EXPECT_FALSE(find<QCheckBox>("cbOzi")->isEnabled());
    EXPECT_FALSE(find<QCheckBox>("cbCompe")->isEnabled());
    EXPECT_FALSE(entry("OziExplorer1")->isEnabled());
    EXPECT_FALSE(entry("CompeGPS1")->isEnabled());
    // The ticks stay as they were.
    EXPECT_TRUE(find<QCheckBox>("cbOzi")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("cbCompe")->isChecked());

    entry("GrabarBMP1")->trigger();
    EXPECT_TRUE(grabar->isChecked());
    EXPECT_TRUE(window->job().saveBmp);
    EXPECT_TRUE(entry("GrabarBMP1")->isChecked());
    for (const char* name : {"eNombreFichero", "cbOzi", "cbCompe"}) {
        EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(entry("OziExplorer1")->isEnabled());
    EXPECT_TRUE(entry("CompeGPS1")->isEnabled());
}

struct OptionCase {
    const char* box;
    const char* entry;
    bool DownloadJob::*flag;
};

class OptionTest : public MainWindowTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionTest, EntryTicksTheBoxAndTheBoxClearsBoth) {
    const OptionCase& c = GetParam();
    open();
    showActive();
    auto* box = find<QCheckBox>(c.box);
    QAction* menuEntry = entry(c.entry);
    const bool before = window->job().*c.flag;
    ASSERT_EQ(box->isChecked(), before);

    menuEntry->trigger();
    EXPECT_EQ(window->job().*c.flag, !before);
    EXPECT_EQ(box->isChecked(), !before);
    EXPECT_EQ(menuEntry->isChecked(), !before);

    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_EQ(window->job().*c.flag, before);
    EXPECT_EQ(box->isChecked(), before);
    EXPECT_EQ(menuEntry->isChecked(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionTest,
    ::testing::Values(OptionCase{"cbBorrarMosaico", "BorraFicheros", &DownloadJob::deleteTiles},
                      OptionCase{"cbOzi", "OziExplorer1", &DownloadJob::saveOzi},
                      OptionCase{"cbCompe", "CompeGPS1", &DownloadJob::saveCompe},
                      OptionCase{"cbGrabarBMP", "GrabarBMP1", &DownloadJob::saveBmp}));

// --- The area's triggers --------------------------------------------------------------------

TEST_F(MainWindowTest, IncompleteCornerKeepsTheFocusAndDoesNotRecompute) {
    open();
    showActive();
    auto* x = find<CornerEdit>("meUTMx");
    auto* y = find<CornerEdit>("meUTMy");
    // A northing out of range, not yet checked: a recompute would say so.
    y->setValue(QStringLiteral("900000"));
    ASSERT_EQ(QApplication::focusWidget(), x);
    x->setCursorPosition(7);
    QTest::keyClick(x, Qt::Key_Backspace);

    QTest::keyClick(x, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), x);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.texts("error").size(), 1, 1000);
    EXPECT_EQ(dialogs.texts("error").front(),
              "Invalid input value.  Use escape key to abandon changes");
    EXPECT_TRUE(dialogs.texts("message").isEmpty());

    QTest::keyClick(x, Qt::Key_Escape);
    EXPECT_EQ(x->displayText(), "585.000");
    QTest::keyClick(x, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), y);
    EXPECT_EQ(dialogs.texts("message"), QStringList{kYOutOfRange});
}

TEST_F(MainWindowTest, LeavingAChangedCornerRecomputes) {
    open();
    showActive();
    auto* x = find<CornerEdit>("meUTMx");
    x->selectAll();
    QTest::keyClicks(x, QStringLiteral("600000"));
    QTest::keyClick(x, Qt::Key_Tab);
    EXPECT_EQ(text("stX"), "625.000");
    EXPECT_EQ(window->job().easting, 600000);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MainWindowTest, TypedCountThatNamesNoItemGivesZeroTiles) {
    open();
    showActive();
    auto* across = find<QComboBox>("cbAncho");
    across->lineEdit()->selectAll();
    QTest::keyClicks(across->lineEdit(), QStringLiteral("x"));
    EXPECT_EQ(window->job().tilesAcross, 0);
    EXPECT_EQ(text("stMAncho"), "0");
    EXPECT_EQ(text("stPAncho"), "0");
    EXPECT_EQ(text("stX"), "585.000");
    // Typing the text of an item counts as choosing it.
    across->lineEdit()->selectAll();
    QTest::keyClicks(across->lineEdit(), QStringLiteral("7"));
    EXPECT_EQ(window->job().tilesAcross, 7);
    EXPECT_EQ(text("stMAncho"), "35.000");
}

TEST_F(MainWindowTest, TypedCoverageThatNamesNoItemKeepsTheTileSize) {
    open();
    showActive();
    auto* coverage = find<QComboBox>("cbCobertura");
    coverage->setCurrentIndex(2);
    ASSERT_EQ(window->job().tileSize, 500);
    coverage->lineEdit()->selectAll();
    QTest::keyClicks(coverage->lineEdit(), QStringLiteral("3000"));
    EXPECT_EQ(window->job().tileSize, 500);
    EXPECT_EQ(text("stMAncho"), "2.500");
}

TEST_F(MainWindowTest, CountChangeWhileEastingOutOfRange) {
    writeSettings("[Mosaicos]\nUTMSupIzqX=700000\n");
    open();
    ASSERT_EQ(dialogs.texts("message").size(), 2);
    find<QComboBox>("cbAncho")->setCurrentIndex(9);
    EXPECT_EQ(dialogs.texts("message"), QStringList(3, kXOutOfRange));
    EXPECT_EQ(window->job().tilesAcross, 10);
    EXPECT_EQ(window->job().cornerEasting, 750000);
    EXPECT_EQ(window->job().widthMetres, 0);
    EXPECT_EQ(text("stMAncho"), "");
}

TEST_F(MainWindowTest, NameAndFolderFields) {
    open();
    showActive();
    auto* name = find<QLineEdit>("eNombreFichero");
    name->setFocus();
    name->end(false);
    QTest::keyClicks(name, QStringLiteral("X"));
    EXPECT_EQ(window->job().bmpName, "PruebaX");
    name->selectAll();
    QTest::keyClick(name, Qt::Key_Delete);
    EXPECT_EQ(window->job().bmpName, "");

    auto* folder = find<QLineEdit>("eCarpeta");
    folder->setFocus();
    folder->selectAll();
    QTest::keyClicks(folder, QStringLiteral("/datos/mapas"));
    EXPECT_EQ(window->job().folder, QDir::toNativeSeparators(cwd.path()));
    QTest::keyClick(folder, Qt::Key_Return);
    EXPECT_EQ(window->job().folder, "/datos/mapas");
}

TEST_F(MainWindowTest, FolderChooser) {
    open();
    showActive();
    auto* button = find<QToolButton>("sbCarpeta");
    const QString before = window->job().folder;
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(dialogs.texts("chooseFolder"), QStringList{"Seleccione carpeta destino del mosaico"});
    EXPECT_EQ(window->job().folder, before);
    EXPECT_EQ(find<QLineEdit>("eCarpeta")->text(), before);

    dialogs.folderAnswer = QStringLiteral("/");
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(window->job().folder, "/");
    EXPECT_EQ(find<QLineEdit>("eCarpeta")->text(), "/");
    window->setFolder(QStringLiteral("/otra"));
    EXPECT_EQ(find<QLineEdit>("eCarpeta")->text(), "/otra");
    window->close();
    EXPECT_EQ(stored("Aplicacion", "Carpeta"), "/otra");
}

// --- States ---------------------------------------------------------------------------------

struct StateCase {
    WindowState state;
    bool descargar, lists, salir, mosaico, sucesos, nueva;
};

class StateTest : public MainWindowTest, public ::testing::WithParamInterface<StateCase> {};

// The state table: which controls each state enables.
TEST_P(StateTest, SetsEveryControlOfTheTable) {
    const StateCase& c = GetParam();
    open();
    for (const WindowState from :
         {WindowState::Finished, WindowState::Running, WindowState::Ready}) {
        window->ApplyState(from);
        const bool verBefore = entry("Ver1")->isEnabled();
        window->ApplyState(c.state);
        EXPECT_EQ(window->state(), c.state);
        EXPECT_EQ(find<QPushButton>("btnDescargar")->isEnabled(), c.descargar);
        for (const char* list : {"cbCobertura", "cbAncho", "cbAlto"}) {
            EXPECT_EQ(find<QComboBox>(list)->isEnabled(), c.lists) << list;
        }
        EXPECT_EQ(find<QPushButton>("btnSalir")->isEnabled(), c.salir);
        EXPECT_EQ(find<QPushButton>("btnMosaico")->isEnabled(), c.mosaico);
        EXPECT_EQ(find<QPushButton>("btnSucesos")->isEnabled(), c.sucesos);
        EXPECT_EQ(find<QPushButton>("btnNueva")->isEnabled(), c.nueva);
        const bool ver =
            c.state == WindowState::Running ? verBefore : c.state != WindowState::Ready;
        EXPECT_EQ(entry("Ver1")->isEnabled(), ver);
        // Always enabled, in every state.
        EXPECT_TRUE(find<QWidget>("meUTMx")->isEnabled());
        EXPECT_TRUE(find<QWidget>("rbCarto")->isEnabled());
        EXPECT_TRUE(find<QWidget>("sbCarpeta")->isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StateTest,
    ::testing::Values(StateCase{WindowState::Ready, true, true, true, false, false, false},
                      StateCase{WindowState::Running, false, false, false, false, false, false},
                      StateCase{WindowState::Finished, false, false, true, true, true, true},
                      StateCase{WindowState::ReadyAgain, true, true, true, false, false, false}));

TEST_F(MainWindowTest, NuevaDescargaResetsForTheNextRun) {
    open();
    showActive();
    window->ApplyState(WindowState::Finished);
    auto* progress = find<QProgressBar>("pbMosaico");
    progress->setRange(0, 25);
    progress->setValue(25);
    QPixmap tile(40, 40);
    tile.fill(Qt::green);
    find<QLabel>("IJPG")->setPixmap(tile);
    window->job().tile(3, 2).fetched = true;
    window->job().tile(3, 2).fileName = QStringLiteral("B03.jpg");
    window->setStatusText(QStringLiteral("Fin"));

    QTest::mouseClick(find<QPushButton>("btnNueva"), Qt::LeftButton);
    EXPECT_EQ(window->state(), WindowState::ReadyAgain);
    EXPECT_TRUE(find<QPushButton>("btnDescargar")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("btnMosaico")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("btnSucesos")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("btnNueva")->isEnabled());
    EXPECT_TRUE(entry("Ver1")->isEnabled());
    EXPECT_EQ(progress->value(), 0);
    EXPECT_EQ(progress->maximum(), 25);
    EXPECT_TRUE(find<QLabel>("IJPG")->pixmap().isNull());
    EXPECT_FALSE(window->job().tile(3, 2).fetched);
    EXPECT_TRUE(window->job().tile(3, 2).fileName.isEmpty());
    EXPECT_EQ(window->statusText(), "Fin");
    EXPECT_EQ(text("stX"), "610.000");
}

// --- The other windows ---------------------------------------------------------------------------

TEST_F(MainWindowTest, ButtonsAndEntriesShowTheOtherWindowsModally) {
    open();
    TfElegirCarpeta log;
    TfMosaico viewer;
    TAboutBox about;
    window->attachWindows(&log, &viewer, &about);
    showActive();
    window->ApplyState(WindowState::Finished);

    struct Opening {
        std::function<void()> trigger;
        QDialog* expected;
    };
    const Opening openings[] = {
        {[&] { QTest::mouseClick(find<QPushButton>("btnSucesos"), Qt::LeftButton); }, &log},
        {[&] { QTest::mouseClick(find<QPushButton>("btnMosaico"), Qt::LeftButton); }, &viewer},
        {[&] { entry("Ver1")->trigger(); }, &viewer},
        {[&] { entry("Ayuda1")->trigger(); }, &about},
    };
    for (const Opening& o : openings) {
        QWidget* modal = nullptr;
        QTimer::singleShot(0, [&] {
            modal = QApplication::activeModalWidget();
            if (modal != nullptr) {
                modal->close();
            }
        });
        o.trigger();
        EXPECT_EQ(modal, o.expected);
        EXPECT_FALSE(o.expected->isVisible());
    }
    EXPECT_TRUE(window->close());
}

} // namespace
