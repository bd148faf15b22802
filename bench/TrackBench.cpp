// TrackBench: tracks that once froze the program or took gigabytes. Reads a GPS log of a
// million points (a few centimetres apart, in segments of a hundred) and lays it on the
// grid, draws it as the map does for a view of the whole track and for one of a kilometre,
// cuts the corridor of the 4.3 MB zig-zag that took 87 s to refuse and of a track that runs
// north and south over twenty rows of sheets 300,000 times. Prints the time of each (wall
// and processor, the machine being shared) and the peak memory after each.
#include "bench/BenchFigures.h"
#include "geo/TrackFile.h"
#include "job/SheetCut.h"
#include "tests/support/LongTracks.h"
#include "ui/TrackPicture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

template <typename Work> auto Timed(const char* what, Work work) {
    QElapsedTimer clock;
    clock.start();
    const double processor = ProcessorSeconds();
    auto result = work();
    std::printf("%-58s %8.3f s  (processor %7.3f s)  peak %6.0f MB\n", what,
                static_cast<double>(clock.nsecsElapsed()) / 1e9, ProcessorSeconds() - processor,
                PeakMegabytes());
    std::fflush(stdout);
    return result;
}

GroundTrack ReadOrEmpty(const QString& path) {
    GroundTrackRead read = ReadTrackOnGrid(path);
    if (!read.error.isEmpty()) {
        std::printf("  refused: %s\n", qPrintable(read.error));
    }
    return std::move(read.track);
}

void Cut(const char* what, const GroundTrack& track) {
    const SheetCut cut = Timed(what, [&] {
        return CutCorridor(track.lines, track.points, 500, {100, 0, QStringLiteral("Ruta")});
    });
    std::printf("  %s\n", cut.set ? qPrintable(QStringLiteral("%1 hojas").arg(cut.sheetCount))
                                  : qPrintable(cut.message));
}

} // namespace

int main(int argc, char** argv) {
    // The pictures are drawn without a screen, as the map's workers draw them.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("trackbench-XXXXXX")));
    std::printf("Start: peak %.0f MB\n", PeakMegabytes());

    const QString dense = dir.filePath(QStringLiteral("denso.gpx"));
    constexpr int kDense = 1'000'000;
    if (!WriteDense(dense, kDense)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(dense));
        return 1;
    }
    const GroundTrack track =
        Timed("1,000,000 points read and laid on the grid", [&] { return ReadOrEmpty(dense); });
    const GroundRect whole = track.extent.grown(track.extent.width() / 2);
    const QImage wide = Timed("  drawn for the whole track (1800 pixels across)",
                              [&] { return DrawTrack(track, whole, whole.width() / 1800); });
    const GroundPoint middle = track.lines[track.lines.size() / 2].front();
    const GroundRect near{middle.easting - 1000, middle.northing - 700, middle.easting + 1000,
                          middle.northing + 700};
    const QImage close = Timed("  drawn for 2 km around its middle (1 m a pixel)",
                               [&] { return DrawTrack(track, near, 1.0); });
    Cut("  its corridor cut (100 m tiles, 500 m of margin)", track);

    const QString zigzag = dir.filePath(QStringLiteral("zigzag.gpx"));
    constexpr int kZigZag = 100'000;
    if (!WriteZigZag(zigzag, kZigZag)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(zigzag));
        return 1;
    }
    const GroundTrack zig =
        Timed("The 100,000-point zig-zag read", [&] { return ReadOrEmpty(zigzag); });
    Cut("  its corridor cut, refused past 400 sheets", zig);
    Timed("  drawn for the whole track (1800 pixels across)", [&] {
        const GroundRect all = zig.extent.grown(zig.extent.width() / 2);
        return DrawTrack(zig, all, all.width() / 1800);
    });

    const QString idas = dir.filePath(QStringLiteral("idas.gpx"));
    constexpr int kIdas = 300'000;
    if (!WriteNorthAndSouth(idas, kIdas)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(idas));
        return 1;
    }
    const GroundTrack runs =
        Timed("300,000 runs north and south read", [&] { return ReadOrEmpty(idas); });
    Cut("  its corridor cut, each segment across 20 rows", runs);

    std::printf("Done.\n");
    return wide.isNull() || close.isNull() ? 1 : 0;
}
