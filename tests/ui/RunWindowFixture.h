#pragma once

// The real windows, offscreen, against a map server on 127.0.0.1: a settings file in a
// fresh current directory, the four windows as the program makes them, and what they show.

#include "run/DownloadRun.h"
#include "tests/support/QuickFetchLimits.h"
#include "tests/support/TestMapServer.h"
#include "ui/AcercaDe.h"
#include "ui/IniFile.h"
#include "ui/fPruncipal.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include "UiTestSupport.h"

#include <QAction>
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
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using Fault = TestMapServer::Fault;

// Every line of these tests carries this stamp.
const QString kStamp = QStringLiteral("07/12/2026 13:05:09");
const QStringList kThreeByTwo{"A01.jpg", "A02.jpg", "A03.jpg", "B01.jpg", "B02.jpg", "B03.jpg"};
const QString kStart = QStringLiteral(". Comienzo de la descarga");
const QString kEnd = QStringLiteral(". Fin de la descarga");

// The start line and one line per tile of the 3 x 2 grid, those of `failed` failed for
// `reason`.
inline QStringList TileLines(const QStringList& failed = {}, const QString& reason = {}) {
    QStringList lines{kStart};
    for (const QString& name : kThreeByTwo) {
        lines << (failed.contains(name)
                      ? ". Fallo en la descarga del mosaico " + name + ": " + reason
                      : ". Descargado mosaico " + name);
    }
    return lines << kEnd;
}

inline bool Near(const QColor& a, const QColor& b, int tolerance = 6) {
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
        window->setFetchLimits(QuickFetchLimits());
        window->attachWindows(log.get(), viewer.get(), about.get());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void press(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    QAction* entry(const char* name) const {
        auto* action = window->findChild<QAction*>(QLatin1String(name));
        EXPECT_NE(action, nullptr) << name;
        return action;
    }
    // Gives the window the focus, as the user's first click would.
    void activate() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // Replaces the text of a field by typing, then leaves it with Tab.
    void typeAndLeave(const char* name, const char* typed) {
        auto* edit = find<QLineEdit>(name);
        edit->setFocus(Qt::TabFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(typed));
        QTest::keyClick(edit, Qt::Key_Tab);
    }
    // Waits for the latest run to finish, if one is going.
    void waitForTheRun() {
        DownloadRun* run = window->run();
        if (run && run->isRunning()) {
            QSignalSpy done(run, &DownloadRun::finished);
            ASSERT_TRUE(done.wait(60000));
        }
    }

    // Presses "Descargar" and waits for the run to end.
    void download() {
        press("btnDescargar");
        waitForTheRun();
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
