#include "job/RunEstimate.h"

#include "job/MapKinds.h"
#include "job/NumberFormat.h"

#include <algorithm>
#include <array>
#include <cmath>

qint64 BmpFileBytes(int64_t width, int64_t height) {
    constexpr qint64 kHeaderBytes = 54;
    const qint64 row = (width * 3 + 3) / 4 * 4;
    return kHeaderBytes + row * height;
}

namespace {

constexpr double kPixelsPerMegapixel = 1e6;
// The bytes of the tiles of a megapixel when each weighs kNominalTileBytes: what the
// nominal sizes of the exports are given for.
constexpr double kNominalTileBytesPerMegapixel =
    kNominalTileBytes * kPixelsPerMegapixel / (double(kTilePixels) * kTilePixels);

} // namespace

TileBytesGuess GuessTileBytes(const RunMeasures& measures, MapKind kind, int32_t side) {
    if (const std::optional<double> exact = measures.tileBytes(kind, side)) {
        return {*exact, false};
    }
    // Map images of other scales hold more or less detail in their 400 pixels: only those
    // within twice or half the side say something of it, the nearest on each hand.
    std::optional<std::pair<int32_t, double>> below;
    std::optional<std::pair<int32_t, double>> above;
    for (const auto& [s, bytes] : measures.tileBytesOfKind(kind)) {
        if (s < side && 2 * int64_t{s} >= side) {
            below = std::make_pair(s, bytes);
        } else if (s > side && int64_t{s} <= 2 * int64_t{side} && !above) {
            above = std::make_pair(s, bytes);
        }
    }
    if (below && above) {
        // Straight between them on logarithmic scales.
        const double t =
            std::log(double(side) / below->first) / std::log(double(above->first) / below->first);
        return {std::exp(std::log(below->second) * (1.0 - t) + std::log(above->second) * t), true};
    }
    if (below || above) {
        return {(below ? below : above)->second, true};
    }
    return {};
}

RunEstimate EstimateRun(const DownloadJob& job, const RunMeasures& measures, int connections) {
    RunEstimate e;
    e.tiles = std::max(0, job.tilesAcross) * std::max(0, job.tilesDown);
    e.connections = std::max(1, connections);
    const TileBytesGuess tile = GuessTileBytes(measures, job.kind, job.tileSize);
    e.tileFiles = {QStringLiteral("mosaicos"), std::llround(tile.bytes * e.tiles),
                   tile.approximate};
    const int64_t width = int64_t{std::max(0, job.tilesAcross)} * kTilePixels;
    const int64_t height = int64_t{std::max(0, job.tilesDown)} * kTilePixels;
    const double megapixels = double(width) * double(height) / kPixelsPerMegapixel;
    const double tileBytesPerMegapixel = megapixels > 0.0 ? tile.bytes * e.tiles / megapixels : 0;

    RunPlan plan;
    plan.tiles = e.tiles;
    const std::optional<double> answerMs = measures.answerMs(ServerBaseOf(job.requestPrefix));
    const int64_t turns = (e.tiles + e.connections - 1) / e.connections;
    plan.tileSeconds = double(turns) * answerMs.value_or(kNominalAnswerMs) / 1000.0;
    double seconds = plan.tileSeconds;
    for (const QString& key : OutputKeysAsked(job)) {
        const OutputFigures nominal = NominalOutputFigures(key);
        const RunMeasures::OutputMeasure* measured = measures.output(key);
        const std::optional<double> speed =
            measured ? measured->seconds.estimate() : std::optional<double>();
        e.secondsApproximate = e.secondsApproximate || !speed;
        const double outputSeconds =
            speed.value_or(nominal.seconds) * (nominal.perMegapixel ? megapixels : 1.0);
        plan.outputs.push_back({key, outputSeconds});
        seconds += outputSeconds;
        if (key == BmpOutputKey()) {
            e.outputs.push_back({key, BmpFileBytes(width, height), false});
        } else if (nominal.bytesPerMegapixel > 0.0) {
            // An export's JPEG weighs with the tiles it is made of: what those written here
            // weighed, for the weight of their own tiles.
            const std::optional<double> bytes =
                measured ? measured->bytes.estimate() : std::optional<double>();
            const std::optional<double> ofTiles =
                measured ? measured->tileBytes.estimate() : std::optional<double>();
            const bool known = bytes && ofTiles && *ofTiles > 0.0;
            const double perMegapixel = known ? *bytes * tileBytesPerMegapixel / *ofTiles
                                              : nominal.bytesPerMegapixel * tileBytesPerMegapixel /
                                                    kNominalTileBytesPerMegapixel;
            e.outputs.push_back(
                {key, std::llround(perMegapixel * megapixels), !known || tile.approximate});
        }
    }
    if (answerMs && e.tiles > 0) {
        e.seconds = std::llround(seconds);
    }
    e.plan.push_back(std::move(plan));
    return e;
}

RunEstimate EstimateSheets(const DownloadJob& job, const SheetSet& set, const RunMeasures& measures,
                           int connections) {
    RunEstimate total;
    total.connections = std::max(1, connections);
    bool timed = true;
    for (const Sheet& sheet : set.sheets) {
        // Each sheet is a run of its own: its time is that of its grid and files alone.
        RunEstimate e = EstimateRun(SheetJob(job, sheet), measures, connections);
        if (total.sheets++ == 0) {
            total.tileFiles = e.tileFiles;
            total.outputs = e.outputs;
        } else {
            total.tileFiles.bytes += e.tileFiles.bytes;
            for (size_t i = 0; i < e.outputs.size() && i < total.outputs.size(); ++i) {
                total.outputs[i].bytes += e.outputs[i].bytes;
            }
        }
        total.tiles += e.tiles;
        total.secondsApproximate = total.secondsApproximate || e.secondsApproximate;
        total.plan.push_back(std::move(e.plan.front()));
        timed = timed && e.seconds.has_value();
        total.seconds =
            timed ? std::optional<qint64>(total.seconds.value_or(0) + e.seconds.value_or(0))
                  : std::nullopt;
    }
    return total;
}

QString SizeText(qint64 bytes) {
    constexpr qint64 kKilo = 1000;
    constexpr qint64 kMega = 1000 * 1000;
    if (bytes < kMega) {
        return QStringLiteral("%1 KB").arg(std::max<qint64>(1, (bytes + kKilo / 2) / kKilo));
    }
    // A set of sheets reaches gigabytes.
    const bool giga = bytes >= 1000 * kMega - kMega / 20;
    const qint64 unit = giga ? 1000 * kMega : kMega;
    const qint64 tenths = (bytes + unit / 20) / (unit / 10);
    return QStringLiteral("%1,%2 %3")
        .arg(GroupedNumber(tenths / 10))
        .arg(tenths % 10)
        .arg(giga ? QStringLiteral("GB") : QStringLiteral("MB"));
}

QString RunTimeText(qint64 seconds) {
    if (seconds < 1) {
        return QStringLiteral("menos de 1 s");
    }
    if (seconds < 60) {
        return QStringLiteral("%1 s").arg(seconds);
    }
    if (seconds < 3600) {
        return QStringLiteral("%1 min %2 s")
            .arg(seconds / 60)
            .arg(seconds % 60, 2, 10, QChar(u'0'));
    }
    const qint64 minutes = (seconds + 30) / 60;
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QChar(u'0'));
}

QString EstimateText(const RunEstimate& e) {
    const auto file = [](const FileEstimate& f) {
        return SizeText(f.bytes) + (f.approximate ? QStringLiteral(" aprox.") : QString());
    };
    QString text = e.sheets == 0   ? QString()
                   : e.sheets == 1 ? QStringLiteral("1 hoja, ")
                                   : QStringLiteral("%1 hojas, ").arg(GroupedNumber(e.sheets));
    text += QStringLiteral("%1 %2, %3")
                .arg(e.sheets > 0 ? GroupedNumber(e.tiles) : QString::number(e.tiles))
                .arg(e.tiles == 1 ? QStringLiteral("mosaico") : QStringLiteral("mosaicos"),
                     file(e.tileFiles));
    // The time before the files' sizes: where the line is cut short, those go first.
    const QString with = e.connections == 1
                             ? QStringLiteral("con 1 conexión")
                             : QStringLiteral("con %1 conexiones").arg(e.connections);
    if (e.seconds) {
        text += QStringLiteral("; tiempo %1%2 %3")
                    .arg(RunTimeText(*e.seconds),
                         e.secondsApproximate ? QStringLiteral(" aprox.") : QString(), with);
    } else {
        text += QStringLiteral("; tiempo sin medir aún");
    }
    for (const FileEstimate& f : e.outputs) {
        text += QStringLiteral("; %1 %2").arg(f.what, file(f));
    }
    return text;
}
