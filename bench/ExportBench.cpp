// ExportBench: the five exports of a 10 x 10 run (a 4000 x 4000 image of 1000 m tiles near
// Pamplona; the PDF is 10 x 10 km at 1:25.000 on A4, six pages) as a run writes them: one after
// another on a worker thread, their progress posted to the main thread, whose event loop runs
// meanwhile as the window's does. Prints the time of each, the processor time it took (every
// thread), their sum, the files' sizes, the peak memory of the process (image included) and the
// longest the event loop was held. The image has the fine grain of an orthophoto, which is what
// makes JPEG work; a flat image would flatter every figure. The files go to a folder under the
// current directory, on the ordinary disk (a tmpfs would hide the cost of syncing them).
//
// Then, in the same run, the same image as a BMP through GDAL's own command-line tools
// (gdal-bin) for comparison, and how close the warp is to gdalwarp's on the same grid and
// PROJ pipeline. `ExportBench PDF` (or any format's name) writes that one alone, so that the
// peak memory is its own.
#include "bench/BenchFigures.h"
#include "exports/ExportGeometry.h"
#include "exports/GdalSupport.h"
#include "exports/ImageWarp.h"
#include "exports/MapExport.h"
#include "geo/DatumChange.h"
#include "job/AreaRecalc.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <gdal_utils.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// The four that GIS programs, phones and Garmin devices read; the PDF to print apart.
constexpr double kTargetAllSeconds = 3.0;
constexpr double kTargetPdfSeconds = 1.5;
constexpr double kTargetPeakMb = 300.0;
constexpr double kTargetStallMs = 50.0;

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// Smooth noise of one scale: a random value every `cell` pixels, blended between them.
double ValueNoise(int x, int y, int cell, uint32_t seed) {
    const int cx = x / cell;
    const int cy = y / cell;
    const double fx = static_cast<double>(x % cell) / cell;
    const double fy = static_cast<double>(y % cell) / cell;
    const auto v = [&](int i, int j) {
        return static_cast<double>(
            Hash(static_cast<uint32_t>(cx + i), static_cast<uint32_t>(cy + j), seed) & 0xFF);
    };
    const double top = v(0, 0) * (1 - fx) + v(1, 0) * fx;
    const double bottom = v(0, 1) * (1 - fx) + v(1, 1) * fx;
    return top * (1 - fy) + bottom * fy;
}

// Fields, trees and tracks: broad patches, finer texture and a grain of single pixels.
QImage OrthophotoLike(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double broad = ValueNoise(x, y, 97, 1);
            const double fine = ValueNoise(x, y, 9, 2);
            const double grain = static_cast<double>(
                Hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 3) & 0x1F);
            const double light = 0.45 * broad + 0.35 * fine + grain;
            line[3 * x] = static_cast<uchar>(std::min(255.0, 0.8 * light + 30));
            line[3 * x + 1] = static_cast<uchar>(std::min(255.0, 0.9 * light + 40));
            line[3 * x + 2] = static_cast<uchar>(std::min(255.0, 0.6 * light + 20));
        }
    }
    return image;
}

const char* FormatName(ExportFormat format) {
    switch (format) {
    case ExportFormat::GeoTiff:
        return "GeoTIFF";
    case ExportFormat::GeoPackage:
        return "GeoPackage";
    case ExportFormat::MbTiles:
        return "MBTiles";
    case ExportFormat::GarminKmz:
        return "KMZ";
    case ExportFormat::PrintPdf:
        return "PDF";
    }
    return "";
}

double Megabytes(const QString& path) {
    return static_cast<double>(QFileInfo(path).size()) / 1048576.0;
}

struct Timed {
    ExportResult result;
    double seconds = 0.0;
    double processor = 0.0;
};

// The exports one after another, as a run's worker writes them.
std::vector<Timed> ExportAll(const std::vector<ExportFormat>& formats, const ExportInput& input,
                             const ExportProgressObserver& observer) {
    const std::atomic<bool> stop{false};
    std::vector<Timed> timed;
    for (const ExportFormat format : formats) {
        QElapsedTimer clock;
        clock.start();
        const double processor = ProcessorSeconds();
        Timed t;
        t.result = WriteExport(format, input, stop, observer);
        t.seconds = clock.nsecsElapsed() / 1e9;
        t.processor = ProcessorSeconds() - processor;
        timed.push_back(t);
    }
    return timed;
}

// One of GDAL's tools, timed; false when it is missing or fails.
bool RunTool(const QString& tool, const QStringList& arguments, double* seconds) {
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty()) {
        std::printf("  %s is missing: install Debian's gdal-bin\n", qPrintable(tool));
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(program, arguments);
    const bool done = process.waitForFinished(600000) &&
                      process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    *seconds += clock.nsecsElapsed() / 1e9;
    if (!done) {
        std::printf("  %s failed: %s\n", qPrintable(tool),
                    process.readAllStandardError().constData());
    }
    return done;
}

// The world file of the joined image (pixel centres), which GDAL reads beside a BMP.
void WriteWorldFile(const QString& path, const GridArea& a) {
    const std::array<double, 6> t = a.geoTransform();
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        const QString text = QStringLiteral("%1\n0\n0\n%2\n%3\n%4\n")
                                 .arg(t[1], 0, 'f', 10)
                                 .arg(t[5], 0, 'f', 10)
                                 .arg(t[0] + t[1] / 2, 0, 'f', 10)
                                 .arg(t[3] + t[5] / 2, 0, 'f', 10);
        file.write(text.toLatin1());
    }
}

// The same four from the BMP through gdal_translate, gdalwarp and gdaladdo, with the options
// closest to the program's: the sum of their times, 0 when a tool is missing or fails.
double GdalChain(const QString& folder, const ExportInput& input, const GridArea& area) {
    const QString bmp = QDir(folder).filePath(QStringLiteral("Gdal.bmp"));
    if (!input.image.save(bmp, "BMP")) {
        std::printf("  cannot write the BMP\n");
        return 0.0;
    }
    WriteWorldFile(QDir(folder).filePath(QStringLiteral("Gdal.bpw")), area);
    const auto in = [&](const char* name) { return QDir(folder).filePath(QLatin1String(name)); };
    const QString srs = QStringLiteral("EPSG:23030");
    struct Step {
        const char* format;
        const char* how;
        const char* file;
        std::vector<std::pair<QString, QStringList>> tools;
    };
    const QString pipeline =
        QString::fromStdString(PipelineTo(MovedCrs::Wgs84, input.datum.pipeline));
    const std::vector<Step> steps{
        {"GeoTIFF",
         "gdal_translate -of COG, JPEG 90",
         "Gdal.tif",
         {{"gdal_translate",
           {"-q", "-of", "COG", "-a_srs", srs, "-co", "COMPRESS=JPEG", "-co", "QUALITY=90", "-co",
            "BLOCKSIZE=512", "-co", "RESAMPLING=AVERAGE", bmp, in("Gdal.tif")}}}},
        {"GeoPackage",
         "gdal_translate -of GPKG, JPEG 90; gdaladdo -r average",
         "Gdal.gpkg",
         {{"gdal_translate",
           {"-q", "-of", "GPKG", "-a_srs", srs, "-co", "TILE_FORMAT=JPEG", "-co", "QUALITY=90", bmp,
            in("Gdal.gpkg")}},
          {"gdaladdo", {"-q", "-r", "average", in("Gdal.gpkg"), "2", "4", "8", "16"}}}},
        {"MBTiles",
         "gdal_translate -of MBTiles, JPEG 85, UPPER; gdaladdo -r average",
         "Gdal.mbtiles",
         {{"gdal_translate",
           {"-q", "-of", "MBTiles", "-a_srs", srs, "-co", "TILE_FORMAT=JPEG", "-co", "QUALITY=85",
            "-co", "ZOOM_LEVEL_STRATEGY=UPPER", bmp, in("Gdal.mbtiles")}},
          {"gdaladdo", {"-q", "-r", "average", in("Gdal.mbtiles"), "2", "4", "8", "16", "32"}}}},
        {"KMZ",
         "gdalwarp -ct to WGS 84; gdal_translate -of KMLSUPEROVERLAY, JPEG",
         "Gdal.kmz",
         {{"gdalwarp",
           {"-q", "-overwrite", "-of", "VRT", "-s_srs", srs, "-t_srs", "EPSG:4326", "-ct", pipeline,
            "-r", "bilinear", bmp, in("Gdal.vrt")}},
          {"gdal_translate",
           {"-q", "-of", "KMLSUPEROVERLAY", "-co", "FORMAT=JPEG", in("Gdal.vrt"),
            in("Gdal.kmz")}}}},
    };
    double all = 0.0;
    for (const Step& step : steps) {
        double seconds = 0.0;
        bool done = true;
        for (const auto& [tool, arguments] : step.tools) {
            done = done && RunTool(tool, arguments, &seconds);
        }
        if (!done) {
            return 0.0;
        }
        all += seconds;
        std::printf("  %-10s %6.2f s %6.1f MB  %s\n", step.format, seconds,
                    Megabytes(in(step.file)), step.how);
    }
    return all;
}

struct WarpDifference {
    double psnr = 0.0;
    int largest = 0;
    bool ok = false;
};

// The warp against gdalwarp's on the same grid of Web Mercator's most detailed zoom and the
// same pipeline: a 1024 x 1024 window in the middle of the area, pixels inside it only.
WarpDifference CompareWarp(const ExportInput& input, const GridArea& area) {
    constexpr int kSide = 1024;
    const std::string pipeline = PipelineTo(MovedCrs::WebMercator, input.datum.pipeline);
    MovedArea m;
    if (!MoveArea(area, MovedCrs::WebMercator, pipeline, &m, nullptr)) {
        return {};
    }
    const ZoomRange zooms =
        WebMercatorZooms(m.maxX - m.minX, m.maxY - m.minY, std::min(m.stepX, m.stepY));
    const double pixel = WebMercatorPixel(zooms.maxZoom);
    const double west = std::floor(((m.minX + m.maxX) / 2) / pixel) * pixel - kSide / 2 * pixel;
    const double north = std::floor(((m.minY + m.maxY) / 2) / pixel) * pixel + kSide / 2 * pixel;
    const TargetGrid grid{MovedCrs::WebMercator, {west, pixel, 0, north, 0, -pixel}, kSide, kSide};

    std::vector<uint8_t> ours(4u * kSide * kSide);
    ImageWarp warp(SourcePixels::Of(input.image), area, grid, pipeline);
    if (!warp.valid() || !warp.warp(0, 0, kSide, kSide, ours.data(), 4u * kSide)) {
        return {};
    }
    const GdalDataset source = ImageDataset(input.image, area.geoTransform(), EpsgWkt(23030));
    GdalArguments arguments{"-of",    "MEM", "-t_srs",   "EPSG:3857", "-ct",
                            pipeline, "-r",  "bilinear", "-te"};
    arguments.add(GdalArguments::Number(west))
        .add(GdalArguments::Number(north - kSide * pixel))
        .add(GdalArguments::Number(west + kSide * pixel))
        .add(GdalArguments::Number(north))
        .add("-ts")
        .add(std::to_string(kSide))
        .add(std::to_string(kSide));
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(arguments.list(), nullptr);
    GDALDatasetH from = source.get();
    const GdalDataset theirs(options ? GDALWarp("", nullptr, 1, &from, options, nullptr) : nullptr);
    GDALWarpAppOptionsFree(options);
    std::vector<uint8_t> reference(3u * kSide * kSide);
    if (!theirs ||
        GDALDatasetRasterIO(theirs.get(), GF_Read, 0, 0, kSide, kSide, reference.data(), kSide,
                            kSide, GDT_Byte, 3, nullptr, 3, 3 * kSide, 1) != CE_None) {
        return {};
    }
    WarpDifference d;
    double squares = 0.0;
    size_t count = 0;
    for (size_t i = 0; i < static_cast<size_t>(kSide) * kSide; ++i) {
        if (ours[4 * i + 3] != 255) {
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            const int diff = ours[4 * i + c] - reference[3 * i + c];
            squares += diff * diff;
            d.largest = std::max(d.largest, std::abs(diff));
            ++count;
        }
    }
    const double mse = count == 0 ? 0.0 : squares / count;
    d.psnr = mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
    d.ok = count > 0;
    return d;
}

} // namespace

int main(int argc, char** argv) {
    // The PDF's texts need the toolkit's fonts, which need no display on this platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    DownloadJob start;
    AreaInputs in;
    in.eastingText = QStringLiteral("585000");
    in.northingText = QStringLiteral("730000");
    in.acrossPosition = 9;
    in.downPosition = 9;
    in.coveragePosition = 1;
    in.serverBase = QStringLiteral("http://maps.test");
    ExportInput input;
    input.job = RecalcArea(start, in).job;
    input.job.bmpName = QStringLiteral("Bench");
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("exportbench-XXXXXX")));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a folder here\n");
        return 2;
    }
    // --keep leaves the files, to be looked at.
    const bool keep = app.arguments().contains(QStringLiteral("--keep"));
    dir.setAutoRemove(!keep);
    input.job.folder = dir.path();
    const auto change =
        DatumChange::ForArea(input.job.easting, input.job.cornerNorthingField + kNorthingOffset,
                             input.job.cornerEasting, input.job.northingField + kNorthingOffset);
    if (!change) {
        std::fprintf(stderr, "no datum change for the area\n");
        return 2;
    }
    input.datum = {change->operationName(), change->pipeline()};
    QElapsedTimer clock;
    clock.start();
    input.image = OrthophotoLike(input.job.widthPixels, input.job.heightPixels);
    GridArea area;
    GridAreaOfJob(input.job, input.image.width(), input.image.height(), &area, nullptr);
    std::printf("image %d x %d made in %.2f s; datum change %s\n", input.image.width(),
                input.image.height(), clock.elapsed() / 1000.0,
                qPrintable(change->operationName()));

    // Formats named on the command line (GeoTIFF, GeoPackage, MBTiles, KMZ, PDF) alone, for a
    // profiler, and without GDAL's tools; all five and the tools otherwise.
    std::vector<ExportFormat> formats;
    for (const ExportFormat format : kExportFormats) {
        if (app.arguments().contains(QLatin1String(FormatName(format)))) {
            formats.push_back(format);
        }
    }
    const bool everything = formats.empty();
    if (everything) {
        formats.assign(kExportFormats.begin(), kExportFormats.end());
    }
    // The first round warms GDAL and the disk; the second is the one a run sees. Both run on
    // the one worker thread, as a run's exports do, so that the memory the first frees is
    // there for the second.
    QThreadPool worker;
    worker.setMaxThreadCount(1);
    worker.setExpiryTimeout(-1);
    QtConcurrent::run(&worker, [&] { return ExportAll(formats, input, {}); }).waitForFinished();

    // The main thread's event loop ticks every millisecond and takes the progress the worker
    // posts, a message for each whole percent, as the window takes it.
    QElapsedTimer sinceTick;
    qint64 longestTick = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestTick = std::max(longestTick, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    int shown = 0;
    auto percent = std::make_shared<std::atomic<int>>(-1);
    const ExportProgressObserver observer = [&app, &shown, percent](double part) {
        const int now = static_cast<int>(std::floor(part * 100.0));
        if (now != percent->exchange(now)) {
            QMetaObject::invokeMethod(
                &app, [&shown] { ++shown; }, Qt::QueuedConnection);
        }
    };
    QFutureWatcher<std::vector<Timed>> watcher;
    QObject::connect(&watcher, &QFutureWatcher<std::vector<Timed>>::finished, &app,
                     &QCoreApplication::quit);
    clock.restart();
    const double processorBefore = ProcessorSeconds();
    watcher.setFuture(
        QtConcurrent::run(&worker, [&] { return ExportAll(formats, input, observer); }));
    sinceTick.start();
    ticker.start();
    app.exec();
    ticker.stop();
    const double allSeconds = clock.nsecsElapsed() / 1e9;
    const double allProcessor = ProcessorSeconds() - processorBefore;
    const std::vector<Timed> timed = watcher.result();

    bool met = true;
    double fourSeconds = 0.0;
    double fourProcessor = 0.0;
    std::printf("Morvel, one after another on a worker thread while the event loop runs:\n");
    for (size_t i = 0; i < formats.size(); ++i) {
        const Timed& t = timed[i];
        const QString path =
            PathPrefix(input.job.folder) + ExportFileName(formats[i], input.job.bmpName);
        if (!t.result.ok) {
            std::printf("  %-10s failed: %s\n", FormatName(formats[i]), qPrintable(t.result.error));
            met = false;
            continue;
        }
        std::printf("  %-10s %6.2f s (processor %5.2f s) %6.1f MB  %s\n", FormatName(formats[i]),
                    t.seconds, t.processor, Megabytes(path),
                    qPrintable(t.result.logLines.join(u' ')));
        if (formats[i] == ExportFormat::PrintPdf) {
            std::printf("  %-10s target <= %.1f s\n", "", kTargetPdfSeconds);
            met = met && t.seconds <= kTargetPdfSeconds;
        } else {
            fourSeconds += t.seconds;
            fourProcessor += t.processor;
        }
    }
    const double stallMs = longestTick / 1e6;
    const double peak = PeakMegabytes();
    if (everything) {
        std::printf("  all four   %6.2f s (processor %5.2f s; target <= %.1f s), without the PDF\n",
                    fourSeconds, fourProcessor, kTargetAllSeconds);
        std::printf("  all five   %6.2f s (processor %5.2f s)\n", allSeconds, allProcessor);
        met = met && fourSeconds <= kTargetAllSeconds;
    }
    std::printf("  peak memory %.1f MB, the 46 MB image included (target <= %.0f MB)\n", peak,
                kTargetPeakMb);
    std::printf(
        "  longest event-loop stall %.1f ms, %d progress messages taken (target <= %.0f ms)\n",
        stallMs, shown, kTargetStallMs);
    met = met && peak <= kTargetPeakMb && stallMs <= kTargetStallMs;

    if (keep) {
        std::printf("files kept in %s\n", qPrintable(dir.path()));
    }
    if (everything) {
        std::printf("GDAL's command-line tools on the same image as a BMP:\n");
        const double gdal = GdalChain(dir.path(), input, area);
        if (gdal > 0.0) {
            std::printf("  all four   %6.2f s\n", gdal);
        }
        const WarpDifference d = CompareWarp(input, area);
        std::printf("warp against gdalwarp -r bilinear, same grid and pipeline: %s\n",
                    d.ok ? qPrintable(QStringLiteral("PSNR %1 dB, largest difference %2 levels")
                                          .arg(d.psnr, 0, 'f', 1)
                                          .arg(d.largest))
                         : "could not be compared");
        met = met && d.ok;
    }
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
