#include "job/RunEstimate.h"

#include "job/NumberFormat.h"

#include <algorithm>
#include <array>
#include <cmath>

void ServerMeasures::addTileBytes(MapKind kind, int32_t tileSize, qint64 bytes) {
    if (bytes <= 0) {
        return;
    }
    Sum& s = m_bytes[{static_cast<int>(kind), tileSize}];
    s.bytes += bytes;
    ++s.count;
}

void ServerMeasures::addAnswerTime(qint64 ms) {
    m_answers.push_back(std::max<qint64>(0, ms));
    while (m_answers.size() > kRecentAnswers) {
        m_answers.pop_front();
    }
}

std::optional<double> ServerMeasures::tileBytes(MapKind kind, int32_t tileSize) const {
    const auto it = m_bytes.constFind({static_cast<int>(kind), tileSize});
    if (it == m_bytes.cend() || it->count == 0) {
        return std::nullopt;
    }
    return double(it->bytes) / double(it->count);
}

std::optional<double> ServerMeasures::nearestTileBytes(MapKind kind, int32_t tileSize) const {
    std::optional<double> best;
    double bestDistance = 0.0;
    for (auto it = m_bytes.cbegin(); it != m_bytes.cend(); ++it) {
        // Another kind is farther than any coverage of the same kind.
        const double distance = std::abs(std::log2(double(it.key().second) / tileSize)) +
                                (it.key().first == static_cast<int>(kind) ? 0.0 : 100.0);
        if (!best || distance < bestDistance) {
            best = double(it->bytes) / double(it->count);
            bestDistance = distance;
        }
    }
    return best;
}

std::optional<double> ServerMeasures::answerMs() const {
    if (m_answers.empty()) {
        return std::nullopt;
    }
    qint64 sum = 0;
    for (const qint64 ms : m_answers) {
        sum += ms;
    }
    return double(sum) / double(m_answers.size());
}

qint64 BmpFileBytes(int64_t width, int64_t height) {
    constexpr qint64 kHeaderBytes = 54;
    const qint64 row = (width * 3 + 3) / 4 * 4;
    return kHeaderBytes + row * height;
}

namespace {

// Bytes of each export per byte of the BMP of the same image, by ExportFormat, as
// bench/ExportBench measures them on its 4000 x 4000 image with the grain of an orthophoto:
// JPEG keeps about a tenth of such a picture, and the moved formats cover a little more
// ground than the image; the PDF's pages keep more of it, and their overlaps twice. Flat
// maps compress further, so the figure is only a bound.
constexpr std::array<double, kExportFormats.size()> kExportBytesPerBmpByte{0.10, 0.10, 0.13, 0.10,
                                                                           0.16};

} // namespace

RunEstimate EstimateRun(const DownloadJob& job, const ServerMeasures& measures, int connections) {
    RunEstimate e;
    e.tiles = std::max(0, job.tilesAcross) * std::max(0, job.tilesDown);
    e.connections = std::max(1, connections);
    std::optional<double> perTile = measures.tileBytes(job.kind, job.tileSize);
    e.tileFiles.what = QStringLiteral("mosaicos");
    e.tileFiles.approximate = !perTile;
    if (!perTile) {
        perTile = measures.nearestTileBytes(job.kind, job.tileSize);
    }
    e.tileFiles.bytes = std::llround(perTile.value_or(double(kNominalTileBytes)) * e.tiles);
    const qint64 bmpBytes =
        BmpFileBytes(int64_t{job.tilesAcross} * kTilePixels, int64_t{job.tilesDown} * kTilePixels);
    if (job.saveBmp) {
        e.outputs.push_back({QStringLiteral("BMP"), bmpBytes, false});
    }
    for (const ExportFormat format : kExportFormats) {
        if (job.exportWanted(format)) {
            const double ratio = kExportBytesPerBmpByte.at(static_cast<size_t>(format));
            e.outputs.push_back(
                {ExportFormatName(format), std::llround(ratio * double(bmpBytes)), true});
        }
    }
    if (const auto ms = measures.answerMs(); ms && e.tiles > 0) {
        const int64_t turns = (e.tiles + e.connections - 1) / e.connections;
        e.seconds = std::llround(double(turns) * *ms / 1000.0);
    }
    return e;
}

RunEstimate EstimateSheets(const DownloadJob& job, const SheetSet& set,
                           const ServerMeasures& measures, int connections) {
    RunEstimate total;
    total.connections = std::max(1, connections);
    bool timed = true;
    for (const Sheet& sheet : set.sheets) {
        // Each sheet is a run of its own: its time is that of its grid alone.
        const RunEstimate e = EstimateRun(SheetJob(job, sheet), measures, connections);
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
        text += QStringLiteral("; tiempo %1 %2").arg(RunTimeText(*e.seconds), with);
    } else {
        text += QStringLiteral("; tiempo sin medir aún");
    }
    for (const FileEstimate& f : e.outputs) {
        text += QStringLiteral("; %1 %2").arg(f.what, file(f));
    }
    return text;
}
