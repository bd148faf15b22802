// What a first user meets in the real windows before and around a run: a recompute that
// stopped on a message, a corner field that keeps the focus, names that leave the folder,
// the viewer's toggle.
#include "tests/ui/RunWindowFixture.h"
#include "ui/CornerEdit.h"

#include <QCheckBox>

namespace {

// "Descargar" recomputes from the fields as they stand; when that stops on a message, the
// message is shown and nothing else happens: no request, no file, no state change.
TEST_F(RunWindowTest, AStoppedRecomputeStartsNoRun) {
    const struct {
        const char* name;
        std::vector<std::array<const char*, 3>> settings;
        const char* typedEasting; // nothing typed when null
        int acrossPosition;       // chosen afterwards, -1 for none
        int messagesBefore;       // shown before "Descargar"
        const char* message;
    } table[] = {
        // Cartography of 2000 m, 3 x 3; X = 700000, then one tile across.
        {"CartographyThenOneAcross",
         {{"Mosaicos", "TipoMosaico", "0"},
          {"Mosaicos", "MosaicosAncho", "2"},
          {"Mosaicos", "MosaicosAlto", "2"}},
         "700000",
         0,
         2,
         "Coordenadas UTM X fuera de límites"},
        // Terrain model of 10 km, 10 x 10; X = 170000, then nine across.
        {"TerrainModelThenNineAcross",
         {{"Mosaicos", "TipoMosaico", "2"},
          {"Mosaicos", "MosaicosAncho", "9"},
          {"Mosaicos", "MosaicosAlto", "9"}},
         "170000",
         8,
         2,
         "Coordenadas UTM X fuera de límites"},
        // A corner read from the settings that is no corner: its message at start-up, twice.
        {"StoredCorner",
         {{"Mosaicos", "UTMSupIzqX", "170000"},
          {"Mosaicos", "UTMSupIzqY", "1"},
          {"Mosaicos", "MosaicosAncho", "9"},
          {"Mosaicos", "MosaicosAlto", "9"}},
         nullptr,
         -1,
         2,
         "Introduzca coordenadas UTM válidas"},
    };
    for (const auto& row : table) {
        QFile::remove(cwd.file("Morvel.ini"));
        writeSettings(row.settings);
        dialogs.shown.clear();
        open();
        activate();
        if (row.typedEasting) {
            typeAndLeave("meUTMx", row.typedEasting);
        }
        if (row.acrossPosition >= 0) {
            find<QComboBox>("cbAncho")->setCurrentIndex(row.acrossPosition);
        }
        const QString message = QString::fromUtf8(row.message);
        ASSERT_EQ(dialogs.texts("message"), QStringList(row.messagesBefore, message)) << row.name;
        // The corner field the focus leaves may recompute too: every box says the same.
        press("btnDescargar");
        const QStringList after = dialogs.texts("message");
        EXPECT_GT(after.size(), row.messagesBefore) << row.name;
        EXPECT_EQ(after, QStringList(after.size(), message)) << row.name;
        EXPECT_EQ(window->run(), nullptr) << row.name;
        EXPECT_EQ(window->state(), WindowState::Ready) << row.name;
        EXPECT_TRUE(log->lines().isEmpty()) << row.name;
        QTest::qWait(20);
        EXPECT_TRUE(server.requests().isEmpty()) << row.name;
        EXPECT_TRUE(files().isEmpty()) << row.name;
        window->close();
    }
}

// With "_85.000" in X the focus stays in the field, and the click that tried to take it
// does nothing: no run, no close. Closing the window stores the last complete value.
TEST_F(RunWindowTest, AClickRefusedByACornerFieldDoesNothing) {
    writeSettings();
    open();
    activate();
    auto* x = find<CornerEdit>("meUTMx");
    x->setFocus(Qt::TabFocusReason);
    x->setCursorPosition(1);
    QTest::keyClick(x, Qt::Key_Backspace);
    ASSERT_EQ(x->displayText(), "_85.000");

    press("btnDescargar");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.texts("error").size(), 1, 1000);
    EXPECT_EQ(QApplication::focusWidget(), x);
    EXPECT_EQ(window->run(), nullptr);
    QTest::qWait(20);
    EXPECT_TRUE(server.requests().isEmpty());

    press("btnSalir");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.texts("error").size(), 2, 1000);
    EXPECT_TRUE(window->isVisible());
    // A check box is not ticked by a refused click either.
    auto* ozi = find<QCheckBox>("cbOzi");
    const bool ticked = ozi->isChecked();
    QTest::mouseClick(ozi, Qt::LeftButton, {}, QPoint(6, ozi->height() / 2));
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.texts("error").size(), 3, 1000);
    EXPECT_EQ(ozi->isChecked(), ticked);

    // Escape gives the field its value back; then a click acts at once.
    QTest::keyClick(x, Qt::Key_Escape);
    download();
    ASSERT_NE(window->run(), nullptr);
    EXPECT_EQ(server.requests().size(), 6);

    // The close box still closes with an incomplete entry; what is stored is the value the
    // field had when the focus came in, not "85000", which would read back as 850.00_.
    x->setFocus(Qt::TabFocusReason);
    x->setCursorPosition(1);
    QTest::keyClick(x, Qt::Key_Backspace);
    ASSERT_EQ(x->displayText(), "_85.000");
    window->close();
    EXPECT_EQ(IniFile(cwd.file("Morvel.ini")).value("Mosaicos", "UTMSupIzqX"),
              QStringLiteral("585000"));
}

// A BMP name that would leave the folder, hide the files or not fit the calibration files
// is refused when "Descargar" is pressed, with a message naming what is wrong.
TEST_F(RunWindowTest, NamesThatCannotBeUsedAreRefused) {
    const struct {
        const char* name;
        const char* message;
    } table[] = {
        {"../escape", "El nombre del fichero BMP no puede contener «/»"},
        {"", "Introduzca el nombre del fichero BMP"},
        {"   ", "Introduzca el nombre del fichero BMP"},
        {".oculto", "El nombre del fichero BMP no puede empezar por un punto"},
        {"mapa.", "El nombre del fichero BMP no puede acabar en un punto ni en un espacio"},
        {"a:b", "El nombre del fichero BMP no puede contener «:»"},
        {"Ωmega", "El nombre del fichero BMP no puede contener «Ω», que no cabe en los ficheros "
                  "de calibración"},
    };
    writeSettings();
    open();
    auto* name = find<QLineEdit>("eNombreFichero");
    for (const auto& row : table) {
        name->setText(QString::fromUtf8(row.name));
        dialogs.shown.clear();
        press("btnDescargar");
        EXPECT_EQ(dialogs.texts("message"), QStringList{QString::fromUtf8(row.message)})
            << row.name;
        EXPECT_EQ(window->run(), nullptr) << row.name;
    }
    QTest::qWait(20);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(files().isEmpty());
    EXPECT_EQ(QDir(cwd.path()).entryList(QDir::Files), QStringList{"Morvel.ini"});
    // Accented names are fine: Windows-1252 holds them.
    name->setText(QStringLiteral("Río Ebro ñ"));
    download();
    EXPECT_TRUE(files().contains(QStringLiteral("Río Ebro ñ.bmp")));
    EXPECT_TRUE(ReadAll(path("Río Ebro ñ.map")).contains("R\xEDo Ebro \xF1.bmp"));
}

// The viewer's toggle follows the delete option each time the viewer is shown, and a new
// board offers the markers again.
TEST_F(RunWindowTest, TheViewerToggleRecoversAfterTheDeleteOption) {
    writeSettings({{"Mosaicos", "BorrarMosaico", "SI"}});
    open();
    download();
    auto* toggle = viewer->findChild<QPushButton*>(QStringLiteral("btnMosaicos"));
    viewer->show();
    EXPECT_FALSE(toggle->isEnabled());
    viewer->hide();
    find<QCheckBox>("cbBorrarMosaico")->click();
    viewer->show();
    EXPECT_TRUE(toggle->isEnabled());
    toggle->click();
    EXPECT_EQ(toggle->text(), QStringLiteral("Imagen"));
    viewer->hide();
    press("btnNueva");
    viewer->show();
    EXPECT_EQ(toggle->text(), QStringLiteral("Mosaico"));
    EXPECT_FALSE(viewer->markersShown());
    viewer->hide();
}

} // namespace
