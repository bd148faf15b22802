// The "Mapa" window on real screens of 1024 x 768 and 1280 x 900 (Xvfb with the openbox
// window manager, through tests/support/on-screen.sh; skipped elsewhere): within the screen
// whatever its estimate line says, beside the main window rather than over its buttons where
// the screen is wide enough, narrower when asked, and back where it was the next time.
#include "tests/support/QuickFetchLimits.h"
#include "tests/support/TestMapServer.h"
#include "ui/MapWindow.h"
#include "ui/WindowPlace.h"
#include "ui/fPruncipal.h"

#include "UiTestSupport.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::string Text(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4")
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height())
        .toStdString();
}

class MapWindowOnScreen : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            GTEST_SKIP() << "needs a screen and a window manager: see tests/support/on-screen.sh";
        }
        ASSERT_TRUE(server.listen());
        // A grid of 10 x 10 with the four exports: the longest estimate of one run.
        WriteAll(cwd.file("Morvel.ini"),
                 QStringLiteral("[Mosaicos]\r\nTipoMosaico=0\r\nCobertura=1\r\nMosaicosAncho=9\r\n"
                                "MosaicosAlto=9\r\nUTMSupIzqX=604000\r\nUTMSupIzqY=742000\r\n"
                                "[Aplicacion]\r\nServidor=%1\r\n[Exportar]\r\nGeoTIFF=SI\r\n"
                                "GeoPackage=SI\r\nMBTiles=SI\r\nKMZ=SI\r\n")
                     .arg(server.baseUrl())
                     .toUtf8());
    }
    void TearDown() override { window.reset(); }

    // The main window as the program shows it, then the map from its menu, both framed.
    void open() {
        window = std::make_unique<TfPrincipal>(&dialogs);
        window->setFetchLimits(QuickFetchLimits());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(framed(window.get()));
        window->findChild<QAction*>("ElegirMapa1")->trigger();
        map = window->mapWindow();
        ASSERT_NE(map, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(map));
        ASSERT_TRUE(framed(map));
    }
    // Once the window manager has put its frame around the window and stopped moving it.
    static bool framed(QWidget* w) {
        if (!QTest::qWaitFor([w] { return w->frameGeometry() != w->geometry(); }, 5000)) {
            return false;
        }
        QRect last;
        return QTest::qWaitFor(
            [w, &last] {
                QTest::qWait(100);
                const bool still = w->frameGeometry() == last;
                last = w->frameGeometry();
                return still;
            },
            5000);
    }
    QRect globalRect(const char* name) const {
        const QWidget* w = window->findChild<QWidget*>(QLatin1String(name));
        return {w->mapToGlobal(QPoint(0, 0)), w->size()};
    }

    CurrentDirScope cwd;
    TestMapServer server;
    FakeDialogs dialogs;
    std::unique_ptr<TfPrincipal> window;
    MapWindow* map = nullptr;
};

TEST_F(MapWindowOnScreen, WithinTheScreenBesideTheMainWindowAndBackWhereItWas) {
    open();
    const QRect screen = window->screen()->availableGeometry();
    const bool wide = screen.width() >= kWideScreen;
    SCOPED_TRACE(testing::Message() << screen.width() << "x" << screen.height());
    EXPECT_TRUE(screen.contains(map->frameGeometry())) << Text(map->frameGeometry());
    EXPECT_TRUE(screen.contains(window->frameGeometry())) << Text(window->frameGeometry());
    if (wide) {
        EXPECT_FALSE(map->frameGeometry().intersects(window->frameGeometry()))
            << Text(map->frameGeometry()) << " over " << Text(window->frameGeometry());
        for (const char* button :
             {"btnDescargar", "btnMosaico", "btnSucesos", "btnNueva", "btnSalir", "sbCarpeta"}) {
            EXPECT_FALSE(map->frameGeometry().intersects(globalRect(button))) << button;
        }
    }
    // Every control of the map on the screen, the last of each row too.
    for (const char* control : {"btnIr", "seMargen", "seSolape", "stEstimacion"}) {
        const QWidget* w = map->findChild<QWidget*>(QLatin1String(control));
        EXPECT_TRUE(screen.contains(QRect(w->mapToGlobal(QPoint(0, 0)), w->size()))) << control;
    }
    // The estimate of a run with every export does not fit: cut, the window unmoved.
    auto* line = map->findChild<QLabel*>("stEstimacion");
    ASSERT_GT(line->fontMetrics().horizontalAdvance(line->toolTip()), line->width());
    EXPECT_TRUE(line->text().endsWith(u'…')) << line->text().toStdString();
    EXPECT_TRUE(screen.contains(map->frameGeometry())) << Text(map->frameGeometry());

    // Asked to be narrower, it is.
    const int narrow = map->minimumSizeHint().width();
    map->resize(narrow, map->height());
    EXPECT_TRUE(QTest::qWaitFor([&] { return map->width() == narrow; }, 5000)) << map->width();
    map->move(screen.topLeft() + QPoint(20, 10));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return map->pos() == screen.topLeft() + QPoint(20, 10); }, 5000));
    const QRect before(map->pos(), map->size());
    window->close();
    window.reset();

    // The next session: where it was, and on a wide screen the main window beside it.
    open();
    EXPECT_EQ(QRect(map->pos(), map->size()), before);
    EXPECT_TRUE(screen.contains(window->frameGeometry())) << Text(window->frameGeometry());
    if (wide) {
        EXPECT_FALSE(map->frameGeometry().intersects(window->frameGeometry()))
            << Text(map->frameGeometry()) << " over " << Text(window->frameGeometry());
    }
}

} // namespace
