// EstimateBench: the estimate a run is given before it starts against the time it takes, in
// the real windows (offscreen), against the tests' map server on loopback answering after
// 50 ms, with 2 transfers at once. Three jobs, each run twice in a fresh set of windows, as
// two sessions would: 3 x 3 tiles with the BMP and both calibration files; 10 x 10 with
// those and the four exports; a box cut into three sheets (10 x 10, 10 x 10 and 5 x 10 tiles)
// with the BMP and both calibration files. Every run starts from what the runs before it
// measured, kept in a cache folder of the bench's own (the user's is never touched). The
// files go to a folder under the current directory, on the ordinary disk.
#include "bench/PrintedDialogs.h"
#include "job/RunEstimate.h"
#include "job/SheetSource.h"
#include "run/DownloadRun.h"
#include "run/MeasureStore.h"
#include "run/SheetSetRun.h"
#include "tests/support/TestMapServer.h"
#include "ui/AcercaDe.h"
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

#include <cstdio>
#include <optional>

namespace {

constexpr int kLatencyMs = 50;
constexpr int kConnections = 2;
// What the target asks of the second run of a job.
constexpr double kLowest = 0.67;
constexpr double kHighest = 1.5;

struct Job {
    const char* name;
    int across;
    int down;
    bool exports;
    // A set: the box's lower-right corner, full metres; none for one run.
    int boxEast = 0;
    int boxSouth = 0;
};

void WriteSettings(const QString& server, const QString& folder, const Job& job) {
    QFile ini(QStringLiteral("Morvel.ini"));
    if (!ini.open(QIODevice::WriteOnly)) {
        return;
    }
    ini.write(
        "[Aplicacion]\r\nServidor=" + server.toUtf8() + "\r\nCarpeta=" + folder.toUtf8() +
        "\r\nFichero=Prueba\r\nGrabarBMP=SI\r\nConexiones=" + QByteArray::number(kConnections) +
        "\r\n[Mosaicos]\r\nMosaicosAncho=" + QByteArray::number(job.across - 1) +
        "\r\nMosaicosAlto=" + QByteArray::number(job.down - 1) +
        "\r\nTipoMosaico=1\r\nCobertura=0\r\nUTMSupIzqX=585000\r\nUTMSupIzqY=730000\r\n"
        "BorrarMosaico=NO\r\n[Calibracion]\r\nOziExplorer=SI\r\nCompeGPS=SI\r\n" +
        QByteArray(job.exports
                       ? "[Exportar]\r\nGeoTIFF=SI\r\nGeoPackage=SI\r\nMBTiles=SI\r\nKMZ=SI\r\n"
                       : ""));
}

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Result {
    QString text;
    std::optional<double> estimated; // seconds, unrounded
    double took = 0;
};

// One run of the job in a fresh set of windows, as a new session of the program.
Result RunOnce(const QString& server, const QString& folder, PrintedDialogs& dialogs,
               const Job& job) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    WriteSettings(server, folder, job);
    TfPrincipal window(&dialogs);
    TfElegirCarpeta log;
    TfMosaico viewer;
    TAboutBox about;
    window.attachWindows(&log, &viewer, &about);
    window.show();
    if (job.boxEast > 0) {
        SheetSource box;
        box.box = {585000, double(job.boxSouth), double(job.boxEast), 4730000};
        window.setSheets(box);
    }
    // The measures of the sessions before are read on a worker; the first paint is no part
    // of a run either.
    Wait(500);

    Result r;
    const RunEstimate e = window.estimate();
    r.text = window.estimateText();
    if (e.seconds) {
        double seconds = 0;
        for (const RunPlan& p : e.plan) {
            seconds += p.tileSeconds;
            for (const TimedOutput& o : p.outputs) {
                seconds += o.seconds;
            }
        }
        r.estimated = seconds;
    }
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    window.findChild<QPushButton*>(QStringLiteral("btnDescargar"))->click();
    if (job.boxEast > 0) {
        SheetSetRun* run = window.setRun();
        if (!run) {
            std::fprintf(stderr, "EstimateBench: the set did not start\n");
            return r;
        }
        QObject::connect(run, &SheetSetRun::finished, &loop, &QEventLoop::quit);
    } else {
        DownloadRun* run = window.run();
        if (!run || !run->isRunning()) {
            std::fprintf(stderr, "EstimateBench: the run did not start\n");
            return r;
        }
        QObject::connect(run, &DownloadRun::finished, &loop, &QEventLoop::quit);
    }
    loop.exec();
    r.took = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    window.close();
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // On the ordinary disk, under the folder the bench is started from.
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("estimatebench-XXXXXX")));
    if (!dir.isValid()) {
        std::fprintf(stderr, "EstimateBench: no folder under %s\n",
                     qPrintable(QDir::currentPath()));
        return 1;
    }
    // A cache folder of the bench's own, empty: the first run knows nothing.
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestMapServer server;
    if (!server.listen()) {
        std::fprintf(stderr, "EstimateBench: no loopback port\n");
        return 1;
    }
    server.setLatency(kLatencyMs);
    const QString folder = dir.filePath(QStringLiteral("mapas"));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    PrintedDialogs dialogs;

    std::printf("EstimateBench: each job run twice, as two sessions, against a server that "
                "answers after %d ms, %d transfers at once, in %s; measures kept in %s\n",
                kLatencyMs, kConnections, qPrintable(folder), qPrintable(MeasureStore::Path()));
    std::printf("%-34s %-4s %12s %10s %7s\n", "job", "run", "estimate (s)", "took (s)", "ratio");
    const Job jobs[] = {
        {"3 x 3, BMP, .map, .imp", 3, 3, false},
        {"10 x 10, BMP, .map, .imp, 4 exports", 10, 10, true},
        // Orthophoto tiles of 5 km: 125 km by 50 km.
        {"3 sheets (250 tiles), BMP, .map, .imp", 10, 10, false, 710000, 4680000},
    };
    bool met = true;
    for (const Job& job : jobs) {
        for (int pass = 1; pass <= 2; ++pass) {
            const Result r = RunOnce(server.baseUrl(), folder, dialogs, job);
            if (r.estimated) {
                const double ratio = *r.estimated / r.took;
                std::printf("%-34s %-4d %12.2f %10.2f %7.2f\n", job.name, pass, *r.estimated,
                            r.took, ratio);
                if (pass == 2) {
                    met = met && ratio >= kLowest && ratio <= kHighest;
                }
            } else {
                std::printf("%-34s %-4d %12s %10.2f %7s\n", job.name, pass, "-", r.took, "-");
                met = met && pass == 1;
            }
            std::printf("    Estimación: %s\n", qPrintable(r.text));
        }
    }
    MeasureStore::WaitForWrites();
    QDir::setCurrent(previous);
    std::printf("target: the second run of each job estimated within %.2f and %.2f of its "
                "time\n%s\n",
                kLowest, kHighest, met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 2;
}
