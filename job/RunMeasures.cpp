#include "job/RunMeasures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// What names the file as ours, and its layout.
const QString kFormat = QStringLiteral("morvel-medidas");
constexpr int kVersion = 1;
// Entries read of each list at most; keys longer than a key can be are not ours.
constexpr int kMaxEntries = 256;
constexpr int kMaxKeyLength = 512;
// Tile sides a kind can have: the coverages and the map window's squares (125 m to 128 km).
constexpr int32_t kMaxSide = 1'000'000;

QJsonArray Pair(const Measure& m) {
    return QJsonArray{m.estimate().value_or(0.0), m.weight()};
}

// A measure as written by Pair(); nothing (an empty measure) when it is not one.
Measure Unpair(const QJsonValue& value, double memory) {
    const QJsonArray a = value.toArray();
    if (a.size() != 2 || !a.at(0).isDouble() || !a.at(1).isDouble()) {
        return Measure(memory);
    }
    return Measure::Restored(memory, a.at(0).toDouble(), a.at(1).toDouble());
}

// The measure under `key`, made empty with its memory when there is none yet.
template <typename Key> Measure& Slot(QHash<Key, Measure>& hash, const Key& key, double memory) {
    auto it = hash.find(key);
    if (it == hash.end()) {
        it = hash.insert(key, Measure(memory));
    }
    return *it;
}

bool Usable(const QString& key) {
    return !key.isEmpty() && key.size() <= kMaxKeyLength;
}

} // namespace

QString BmpOutputKey() {
    return QStringLiteral("BMP");
}

QString ExportOutputKey(ExportFormat format) {
    return ExportFormatName(format);
}

QString OziExplorerOutputKey() {
    return QStringLiteral("OziExplorer");
}

QString CompeGpsOutputKey() {
    return QStringLiteral("CompeGPS");
}

QString WorldFileOutputKey() {
    return QStringLiteral("Georreferencia");
}

QStringList OutputKeysAsked(const DownloadJob& job) {
    QStringList keys;
    if (job.saveBmp) {
        keys << BmpOutputKey();
    }
    for (const ExportFormat format : kExportFormats) {
        if (job.exportWanted(format)) {
            keys << ExportOutputKey(format);
        }
    }
    // The calibration and world files describe the BMP: none without it.
    if (job.saveBmp) {
        if (job.saveOzi) {
            keys << OziExplorerOutputKey();
        }
        if (job.saveCompe) {
            keys << CompeGpsOutputKey();
        }
        if (job.saveWorldFile) {
            keys << WorldFileOutputKey();
        }
    }
    return keys;
}

OutputFigures NominalOutputFigures(const QString& key) {
    // bench/RunBench and bench/ExportBench on a 2-core machine, a 10 x 10 run (16 megapixels)
    // built RelWithDebInfo: the BMP written and synced in about 0.3 s, the GeoTIFF 0.3 s, the
    // GeoPackage 0.5 s, the MBTiles 0.8 s, the KMZ 0.3 s and the PDF 0.2 s to 0.3 s. Their
    // sizes: JPEG keeps about a tenth of the BMP's 3 MB a megapixel of a picture whose tiles
    // weigh kNominalTileBytes; the moved formats cover a little more ground than the image,
    // and the MBTiles' tiles where the map ends are PNG, twice the GeoTIFF in all.
    struct Row {
        const char* key;
        OutputFigures figures;
    };
    static const Row kRows[] = {
        {"BMP", {true, 0.02, 0.0}},
        {"GeoTIFF", {true, 0.02, 300'000.0}},
        {"GeoPackage", {true, 0.035, 300'000.0}},
        {"MBTiles", {true, 0.055, 600'000.0}},
        {"KMZ de Garmin", {true, 0.02, 300'000.0}},
        // Its pages at 1:25.000 on A4: a sixth of the BMP.
        {"PDF para imprimir", {true, 0.02, 480'000.0}},
        // The GPS files on WGS 84 look up the datum change first.
        {"OziExplorer", {false, 0.05, 0.0}},
        {"CompeGPS", {false, 0.02, 0.0}},
        {"Georreferencia", {false, 0.02, 0.0}},
    };
    for (const Row& row : kRows) {
        if (key == QLatin1String(row.key)) {
            return row.figures;
        }
    }
    // An export not yet in the table: a slow one.
    return {true, 0.30, 300'000.0};
}

int RunMeasures::TileKind(MapKind kind) {
    return static_cast<int>(kind == MapKind::MDT ? MapKind::Carto : kind);
}

void RunMeasures::addAnswerTime(const QString& server, double ms, double turns) {
    if (!Usable(server)) {
        return;
    }
    Slot(m_answers, server, kAnswerMemory).add(ms, turns);
    putFirst(server);
    forgetOldServers();
}

void RunMeasures::putFirst(const QString& server) {
    m_servers.removeAll(server);
    m_servers.prepend(server);
}

void RunMeasures::forgetOldServers() {
    while (m_servers.size() > kServers) {
        m_answers.remove(m_servers.takeLast());
    }
}

std::optional<double> RunMeasures::answerMs(const QString& server) const {
    const auto it = m_answers.constFind(server);
    return it == m_answers.cend() ? std::nullopt : it->estimate();
}

void RunMeasures::addTileBytes(MapKind kind, int32_t side, double bytes) {
    if (side <= 0 || side > kMaxSide || !(bytes > 0.0)) {
        return;
    }
    Slot(m_tiles, QPair<int, int32_t>(TileKind(kind), side), kTileMemory).add(bytes);
}

std::optional<double> RunMeasures::tileBytes(MapKind kind, int32_t side) const {
    const auto it = m_tiles.constFind({TileKind(kind), side});
    return it == m_tiles.cend() ? std::nullopt : it->estimate();
}

std::vector<std::pair<int32_t, double>> RunMeasures::tileBytesOfKind(MapKind kind) const {
    std::vector<std::pair<int32_t, double>> out;
    for (auto it = m_tiles.cbegin(); it != m_tiles.cend(); ++it) {
        if (it.key().first == TileKind(kind) && it->estimate()) {
            out.emplace_back(it.key().second, *it->estimate());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

void RunMeasures::addOutput(const OutputSample& s) {
    if (!Usable(s.key) || !(s.megapixels > 0.0)) {
        return;
    }
    OutputMeasure& m = m_outputs[s.key];
    if (NominalOutputFigures(s.key).perMegapixel) {
        m.seconds.add(s.seconds / s.megapixels, s.megapixels);
    } else {
        m.seconds.add(s.seconds);
    }
    // A size and the tiles it came from go together, or not at all.
    if (s.bytes > 0.0 && s.tileBytes > 0.0) {
        m.bytes.add(s.bytes / s.megapixels, s.megapixels);
        m.tileBytes.add(s.tileBytes / s.megapixels, s.megapixels);
    }
}

const RunMeasures::OutputMeasure* RunMeasures::output(const QString& key) const {
    const auto it = m_outputs.constFind(key);
    return it == m_outputs.cend() ? nullptr : &*it;
}

void RunMeasures::add(const RunMeasures& later) {
    // Oldest first, so that the latest server of `later` ends up first.
    for (auto it = later.m_servers.crbegin(); it != later.m_servers.crend(); ++it) {
        const Measure& m = later.m_answers.value(*it, Measure(kAnswerMemory));
        Slot(m_answers, *it, kAnswerMemory).add(m);
        putFirst(*it);
    }
    forgetOldServers();
    for (auto it = later.m_tiles.cbegin(); it != later.m_tiles.cend(); ++it) {
        Slot(m_tiles, it.key(), kTileMemory).add(it.value());
    }
    for (auto it = later.m_outputs.cbegin(); it != later.m_outputs.cend(); ++it) {
        OutputMeasure& m = m_outputs[it.key()];
        m.seconds.add(it->seconds);
        m.bytes.add(it->bytes);
        m.tileBytes.add(it->tileBytes);
    }
}

bool RunMeasures::isEmpty() const {
    return m_answers.isEmpty() && m_tiles.isEmpty() && m_outputs.isEmpty();
}

QByteArray RunMeasures::toJson() const {
    QJsonArray servers;
    for (const QString& server : m_servers) {
        servers.append(
            QJsonObject{{QStringLiteral("servidor"), server},
                        {QStringLiteral("respuesta_ms"), Pair(m_answers.value(server))}});
    }
    // In the order of their keys: the same measures make the same file.
    QList<QPair<int, int32_t>> tileKeys = m_tiles.keys();
    std::sort(tileKeys.begin(), tileKeys.end());
    QJsonArray tiles;
    for (const QPair<int, int32_t>& key : tileKeys) {
        tiles.append(QJsonObject{{QStringLiteral("tipo"), key.first},
                                 {QStringLiteral("cobertura"), key.second},
                                 {QStringLiteral("bytes"), Pair(m_tiles.value(key))}});
    }
    QStringList outputKeys = m_outputs.keys();
    outputKeys.sort();
    QJsonArray outputs;
    for (const QString& key : outputKeys) {
        const OutputMeasure& m = *m_outputs.constFind(key);
        outputs.append(QJsonObject{{QStringLiteral("salida"), key},
                                   {QStringLiteral("segundos"), Pair(m.seconds)},
                                   {QStringLiteral("bytes_mpx"), Pair(m.bytes)},
                                   {QStringLiteral("bytes_mosaicos_mpx"), Pair(m.tileBytes)}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("formato"), kFormat},
                                     {QStringLiteral("version"), kVersion},
                                     {QStringLiteral("servidores"), servers},
                                     {QStringLiteral("mosaicos"), tiles},
                                     {QStringLiteral("salidas"), outputs}})
        .toJson(QJsonDocument::Indented);
}

RunMeasures RunMeasures::FromJson(const QByteArray& json) {
    RunMeasures out;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    if (root.value(QStringLiteral("formato")).toString() != kFormat ||
        root.value(QStringLiteral("version")).toInt() != kVersion) {
        return out;
    }
    const QJsonArray servers = root.value(QStringLiteral("servidores")).toArray();
    // The file lists the latest first; each is put in front as it is read.
    for (qsizetype i = std::min<qsizetype>(servers.size(), kServers) - 1; i >= 0; --i) {
        const QJsonObject o = servers.at(i).toObject();
        const QString server = o.value(QStringLiteral("servidor")).toString();
        const Measure m = Unpair(o.value(QStringLiteral("respuesta_ms")), kAnswerMemory);
        if (Usable(server) && m.estimate()) {
            out.m_answers.insert(server, m);
            out.putFirst(server);
        }
    }
    const QJsonArray tiles = root.value(QStringLiteral("mosaicos")).toArray();
    for (qsizetype i = 0; i < std::min<qsizetype>(tiles.size(), kMaxEntries); ++i) {
        const QJsonObject o = tiles.at(i).toObject();
        const int kind = o.value(QStringLiteral("tipo")).toInt(-1);
        const int side = o.value(QStringLiteral("cobertura")).toInt(0);
        const Measure m = Unpair(o.value(QStringLiteral("bytes")), kTileMemory);
        if (kind >= 0 && kind <= static_cast<int>(MapKind::MDT) && side > 0 && side <= kMaxSide &&
            m.estimate()) {
            out.m_tiles.insert({TileKind(static_cast<MapKind>(kind)), side}, m);
        }
    }
    const QJsonArray outputs = root.value(QStringLiteral("salidas")).toArray();
    for (qsizetype i = 0; i < std::min<qsizetype>(outputs.size(), kMaxEntries); ++i) {
        const QJsonObject o = outputs.at(i).toObject();
        const QString key = o.value(QStringLiteral("salida")).toString();
        OutputMeasure m;
        m.seconds = Unpair(o.value(QStringLiteral("segundos")), kOutputMemory);
        m.bytes = Unpair(o.value(QStringLiteral("bytes_mpx")), kOutputMemory);
        m.tileBytes = Unpair(o.value(QStringLiteral("bytes_mosaicos_mpx")), kOutputMemory);
        if (!m.bytes.estimate() || !m.tileBytes.estimate()) {
            m.bytes = Measure(kOutputMemory);
            m.tileBytes = Measure(kOutputMemory);
        }
        if (Usable(key) && m.seconds.estimate()) {
            out.m_outputs.insert(key, m);
        }
    }
    return out;
}
