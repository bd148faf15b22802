// RunBench: a whole 10 x 10 download run in the real windows, offscreen, against the
// tests' map server on loopback, with the joined BMP and both calibration files. Prints
// the whole time, the time per tile, the longest time the event loop was kept from
// running (a 1 ms timer that notes the gaps between its ticks) and the peak memory.
#include "run/DownloadRun.h"
#include "tests/support/TestMapServer.h"
#include "ui/AcercaDe.h"
#include "ui/Dialogs.h"
#include "ui/fPruncipal.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRuns = 3;
constexpr double kTargetSeconds = 3.0;
constexpr double kTargetStallMs = 50.0;
constexpr double kTargetPeakMb = 200.0;

// No box may stop the bench: anything shown is printed, and questions are answered OK.
class PrintedDialogs : public Dialogs {
public:
    void message(const QString& text) override { print("message", text); }
    void error(const QString& text) override { print("error", text); }
    void notice(const QString& caption, const QString& text) override { print(caption, text); }
    bool okCancel(const QString& caption, const QString& text) override {
        print(caption, text);
        return true;
    }

private:
    static void print(const QString& kind, const QString& text) {
        std::fprintf(stderr, "  [%s] %s\n", qPrintable(kind), qPrintable(text));
    }
};

// Notes the longest gap between the ticks of a 1 ms timer.
class StallProbe : public QObject {
public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longestNs = std::max(m_longestNs, m_clock.nsecsElapsed());
            m_clock.restart();
        });
    }
    void start() {
        m_longestNs = 0;
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double longestMs() const { return static_cast<double>(m_longestNs) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longestNs = 0;
};

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

void WriteSettings(const QString& path, const QString& server, const QString& folder) {
    QFile ini(path);
    if (!ini.open(QIODevice::WriteOnly)) {
        return;
    }
    ini.write("[Aplicacion]\r\nServidor=" + server.toUtf8() + "\r\nCarpeta=" + folder.toUtf8() +
              "\r\nFichero=Prueba\r\nGrabarBMP=SI\r\n"
              "[Mosaicos]\r\nMosaicosAncho=9\r\nMosaicosAlto=9\r\nTipoMosaico=1\r\n"
              "Cobertura=0\r\nUTMSupIzqX=585000\r\nUTMSupIzqY=730000\r\nBorrarMosaico=NO\r\n"
              "[Calibracion]\r\nOziExplorer=SI\r\nCompeGPS=SI\r\n");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QTemporaryDir dir;
    TestMapServer server;
    if (!dir.isValid() || !server.listen()) {
        std::fprintf(stderr, "RunBench: no temporary folder or no loopback port\n");
        return 1;
    }
    const QString folder = dir.filePath(QStringLiteral("mapas"));
    QDir().mkpath(folder);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    WriteSettings(dir.filePath(QStringLiteral("Morvel.ini")), server.baseUrl(), folder);

    PrintedDialogs dialogs;
    TfPrincipal window(&dialogs);
    TfElegirCarpeta log;
    TfMosaico viewer;
    TAboutBox about;
    window.attachWindows(&log, &viewer, &about);
    window.show();
    viewer.show(); // the cells are painted as the tiles arrive

    auto* download = window.findChild<QPushButton*>(QStringLiteral("btnDescargar"));
    auto* again = window.findChild<QPushButton*>(QStringLiteral("btnNueva"));
    const int tiles = window.job().tilesAcross * window.job().tilesDown;
    std::printf("RunBench: %d tiles (%d x %d), BMP %d x %d, OziExplorer and CompeGPS files\n",
                tiles, window.job().tilesAcross, window.job().tilesDown, window.job().widthPixels,
                window.job().heightPixels);

    StallProbe probe;
    double worstSeconds = 0;
    double worstStallMs = 0;
    bool allWritten = true;
    for (int pass = 1; pass <= kRuns; ++pass) {
        QElapsedTimer clock;
        QElapsedTimer saveClock;
        qint64 saveNs = 0;
        QEventLoop loop;
        probe.start();
        clock.start();
        download->click();
        DownloadRun* run = window.run();
        if (!run || !run->isRunning()) {
            std::fprintf(stderr, "RunBench: the run did not start\n");
            return 1;
        }
        QObject::connect(run, &DownloadRun::statusText, run, [&](const QString& text) {
            if (text == QStringLiteral("Grabando el mosaico a .BMP.")) {
                saveClock.start();
            } else if (text == QStringLiteral("Fichero BMP grabado.")) {
                saveNs = saveClock.nsecsElapsed();
            }
        });
        // After the window's own handler, which writes the calibration files.
        QObject::connect(run, &DownloadRun::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        probe.stop();

        const QStringList written =
            QDir(folder).entryList({QStringLiteral("Prueba.bmp"), QStringLiteral("Prueba.map"),
                                    QStringLiteral("Prueba.imp")},
                                   QDir::Files);
        allWritten = allWritten && written.size() == 3;
        std::printf("run %d: whole %.3f s, %.1f ms per tile, BMP save %.1f ms, longest "
                    "event-loop stall %.1f ms, files %s\n",
                    pass, seconds, seconds * 1000.0 / tiles, static_cast<double>(saveNs) / 1e6,
                    probe.longestMs(), written.size() == 3 ? "written" : "MISSING");
        worstSeconds = std::max(worstSeconds, seconds);
        worstStallMs = std::max(worstStallMs, probe.longestMs());
        again->click();
    }
    const double peak = PeakMegabytes();
    std::printf("worst whole time %.3f s (target < %.1f s)\n", worstSeconds, kTargetSeconds);
    std::printf("worst event-loop stall %.1f ms (target < %.0f ms)\n", worstStallMs,
                kTargetStallMs);
    std::printf("peak memory %.1f MB (target < %.0f MB)\n", peak, kTargetPeakMb);
    QDir::setCurrent(previous);
    const bool met = allWritten && worstSeconds < kTargetSeconds && worstStallMs < kTargetStallMs &&
                     peak < kTargetPeakMb;
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 2;
}
