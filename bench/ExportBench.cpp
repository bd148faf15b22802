// ExportBench: the five exports of a 10 x 10 run (a 4000 x 4000 image of 1000 m tiles near
// Pamplona), each alone and then all five one after another as a run writes them. Prints
// the time of each, their sum, the files' sizes and the peak memory of the process, image
// included. The image has the fine grain of an orthophoto, which is what makes JPEG work;
// a flat image would flatter every figure. The files go to a folder under the current
// directory, on the ordinary disk (a tmpfs would hide the cost of syncing them). Last, the
// five two at a time on two threads, for comparison, with the peak memory that takes.
// `ExportBench PDF` writes the PDF to print alone (10 x 10 km at 1:25.000 on A4, six
// pages), so that the peak memory is its own.
#include "exports/MapExport.h"
#include "geo/DatumChange.h"
#include "job/AreaRecalc.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <future>
#include <vector>

namespace {

constexpr double kTargetAllSeconds = 3.0;
constexpr double kTargetPeakMb = 350.0;
constexpr double kTargetPdfSeconds = 1.5;
constexpr double kTargetPdfPeakMb = 300.0;

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

// Processor time of the whole process, every thread: what the exports cost whatever else runs
// on the machine.
double ProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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
    std::printf("image %d x %d made in %.2f s; datum change %s\n", input.image.width(),
                input.image.height(), clock.elapsed() / 1000.0,
                qPrintable(change->operationName()));

    // Formats named on the command line (GeoTIFF, GeoPackage, MBTiles, KMZ, PDF) alone, for a
    // profiler; all five by default.
    std::vector<ExportFormat> formats;
    for (const ExportFormat format : kExportFormats) {
        if (argc == 1 || app.arguments().contains(QLatin1String(FormatName(format)))) {
            formats.push_back(format);
        }
    }
    const std::atomic<bool> stop{false};
    bool met = true;
    // The first round warms GDAL and the disk; the second is the one a run sees.
    for (int round = 1; round <= 2; ++round) {
        double all = 0.0;
        for (const ExportFormat format : formats) {
            clock.restart();
            const double processorBefore = ProcessorSeconds();
            const ExportResult result = WriteExport(format, input, stop);
            const double seconds = clock.nsecsElapsed() / 1e9;
            const double processor = ProcessorSeconds() - processorBefore;
            all += seconds;
            const QString path =
                PathPrefix(input.job.folder) + ExportFileName(format, input.job.bmpName);
            if (!result.ok) {
                std::printf("%-10s failed: %s\n", FormatName(format), qPrintable(result.error));
                met = false;
                continue;
            }
            if (round == 2) {
                std::printf("%-10s %6.2f s (processor %5.2f s) %6.1f MB  %s\n", FormatName(format),
                            seconds, processor, QFileInfo(path).size() / 1048576.0,
                            qPrintable(result.logLines.join(u' ')));
                if (format == ExportFormat::PrintPdf) {
                    std::printf("PDF        %6.2f s (target < %.1f s)\n", seconds,
                                kTargetPdfSeconds);
                    met = met && seconds < kTargetPdfSeconds;
                }
            }
        }
        if (round == 2 && formats.size() > 1) {
            std::printf("all %zu      %6.2f s (target < %.1f s)\n", formats.size(), all,
                        kTargetAllSeconds);
            met = met && all < kTargetAllSeconds;
        }
    }
    const double peakOneAfterAnother = PeakMegabytes();
    const bool pdfAlone = formats.size() == 1 && formats.front() == ExportFormat::PrintPdf;
    const double targetPeak = pdfAlone ? kTargetPdfPeakMb : kTargetPeakMb;
    std::printf("peak memory %.1f MB, the 46 MB image included (target < %.0f MB)\n",
                peakOneAfterAnother, targetPeak);
    met = met && peakOneAfterAnother < targetPeak;
    // The same ones two at a time, as a run could write them on two workers.
    clock.restart();
    const double processorBefore = ProcessorSeconds();
    std::vector<std::future<ExportResult>> running;
    std::atomic<size_t> next{0};
    const auto worker = [&] {
        // A worker left without a format has nothing that failed.
        ExportResult last;
        last.ok = true;
        for (size_t i = next++; i < formats.size(); i = next++) {
            last = WriteExport(formats[i], input, stop);
            if (!last.ok) {
                break;
            }
        }
        return last;
    };
    for (int thread = 0; thread < 2; ++thread) {
        running.push_back(std::async(std::launch::async, worker));
    }
    for (auto& r : running) {
        met = r.get().ok && met;
    }
    std::printf("two at once %5.2f s (processor %5.2f s)\n", clock.nsecsElapsed() / 1e9,
                ProcessorSeconds() - processorBefore);
    std::printf("peak memory with two at once %.1f MB\n", PeakMegabytes());
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
