#include "run/SheetSetRecord.h"

#include "download/TileFiles.h"

#include <QDir>
#include <QHash>
#include <QStringList>

namespace {

constexpr char kHeading[] =
    "# Hojas de Morvel: lo hecho y lo que falta de cada hoja, para no pedirlo de nuevo.";
constexpr char kSetSection[] = "[Hojas]";
constexpr char kJobSection[] = "[Descarga]";
const QString kSheetSection = QStringLiteral("[Hoja %1]");
const QString kBox = QStringLiteral("recuadro");
const QString kTrack = QStringLiteral("ruta");
const QString kFinished = QStringLiteral("terminada");
const QString kUnfinished = QStringLiteral("sin terminar");
const QString kLineEnd = QStringLiteral("\r\n");
const QString kBmpKey = QStringLiteral("BMP");

QString Metres(double v) {
    return QString::number(v, 'g', 15);
}

// "key=value" lines into a table; false for a line that is none.
bool ReadKeys(const QStringList& lines, QHash<QString, QString>* keys) {
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) {
            return false;
        }
        keys->insert(line.left(eq), line.mid(eq + 1));
    }
    return true;
}

std::optional<int> Integer(const QHash<QString, QString>& keys, const QString& key) {
    bool ok = false;
    const int value = keys.value(key).toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// A sheet's part: its own keys, then its run's record as a run of its own writes it.
std::optional<SheetSetRecord::Entry> ParseEntry(int number, const QStringList& lines) {
    const qsizetype job = lines.indexOf(QLatin1String(kJobSection));
    QHash<QString, QString> keys;
    if (job < 0 || !ReadKeys(lines.mid(0, job), &keys)) {
        return std::nullopt;
    }
    const std::optional<JobRecord> record = JobRecord::parse(lines.mid(job).join(u'\n').toUtf8());
    const auto row = Integer(keys, QStringLiteral("Fila"));
    const auto column = Integer(keys, QStringLiteral("Columna"));
    const QString state = keys.value(QStringLiteral("Estado"));
    const QString name = keys.value(QStringLiteral("Nombre"));
    // A finished sheet of an earlier version has no BMP stamp; one that is there is whole.
    const std::optional<TileStamp> bmp = ParseStampText(keys.value(kBmpKey));
    if (!record || !row || !column || *row < 0 || *column < 0 || name.isEmpty() ||
        (state != kFinished && state != kUnfinished) || !bmp ||
        (keys.contains(kBmpKey) && !bmp->isValid())) {
        return std::nullopt;
    }
    SheetSetRecord::Entry e;
    e.record = *record;
    e.finished = state == kFinished;
    e.bmp = *bmp;
    Sheet& s = e.sheet;
    s.number = number;
    s.name = name;
    s.row = *row;
    s.column = *column;
    s.easting = record->easting;
    s.northing = record->northingField + kNorthingOffset;
    s.tileSize = record->tileSize;
    s.across = record->tilesAcross;
    s.down = record->tilesDown;
    return e;
}

} // namespace

SheetSetRecord SheetSetRecord::ForSet(const SheetSet& set, const SheetSource& source,
                                      const DownloadJob& job) {
    SheetSetRecord r;
    r.name = set.name;
    r.overlap = set.overlap;
    r.sourceKind = source.kind;
    r.box = source.box;
    r.trackPath = source.trackPath;
    r.margin = source.margin;
    for (const Sheet& sheet : set.sheets) {
        Entry e;
        e.sheet = sheet;
        e.record = JobRecord::ForJob(SheetJob(job, sheet));
        r.sheets.push_back(std::move(e));
    }
    return r;
}

bool SheetSetRecord::sameSet(const SheetSetRecord& o) const {
    if (name != o.name || overlap != o.overlap || sheets.size() != o.sheets.size()) {
        return false;
    }
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (sheets[i].sheet != o.sheets[i].sheet || !sheets[i].record.sameJob(o.sheets[i].record)) {
            return false;
        }
    }
    return true;
}

int SheetSetRecord::finishedCount() const {
    int n = 0;
    for (const Entry& e : sheets) {
        n += e.finished ? 1 : 0;
    }
    return n;
}

int SheetSetRecord::vouchedTiles() const {
    int n = 0;
    for (const Entry& e : sheets) {
        n += e.finished ? 0 : e.record.vouched();
    }
    return n;
}

QByteArray SheetSetRecord::headBytes() const {
    QStringList lines{QLatin1String(kHeading), QLatin1String(kSetSection),
                      QStringLiteral("Nombre=") + name, QStringLiteral("Solape=%1").arg(overlap)};
    if (sourceKind == SheetSource::Kind::Box) {
        lines << QStringLiteral("Origen=") + kBox
              << QStringLiteral("Recuadro=%1,%2,%3,%4")
                     .arg(Metres(box.west), Metres(box.north), Metres(box.east), Metres(box.south));
    } else {
        // One line, whatever the path holds.
        lines << QStringLiteral("Origen=") + kTrack
              << QStringLiteral("Ruta=") + QString(trackPath).replace(u'\n', u' ').remove(u'\r')
              << QStringLiteral("Margen=") + Metres(margin);
    }
    lines << QStringLiteral("Hojas=%1").arg(sheets.size());
    return (lines.join(kLineEnd) + kLineEnd).toUtf8();
}

QByteArray SheetSetRecord::EntryBytes(const Entry& e) {
    QStringList lines{kSheetSection.arg(e.sheet.number), QStringLiteral("Nombre=") + e.sheet.name,
                      QStringLiteral("Fila=%1").arg(e.sheet.row),
                      QStringLiteral("Columna=%1").arg(e.sheet.column),
                      QStringLiteral("Estado=") + (e.finished ? kFinished : kUnfinished)};
    if (e.bmp.isValid()) {
        lines << kBmpKey + u'=' + StampText(e.bmp);
    }
    // The run's record without its heading: the set's stands for all.
    const QByteArray record = e.record.toBytes();
    return (lines.join(kLineEnd) + kLineEnd).toUtf8() + record.mid(record.indexOf('\n') + 1);
}

QByteArray SheetSetRecord::toBytes() const {
    QByteArray out = headBytes();
    for (const Entry& e : sheets) {
        out += EntryBytes(e);
    }
    return out;
}

std::optional<SheetSetRecord> SheetSetRecord::parse(const QByteArray& bytes) {
    QStringList lines;
    for (QString line : QString::fromUtf8(bytes).split(u'\n')) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#')) {
            lines << line;
        }
    }
    if (lines.value(0) != QLatin1String(kSetSection)) {
        return std::nullopt;
    }
    // The set's part runs to the first sheet's; each sheet's to the next one's.
    std::vector<qsizetype> starts;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i] == kSheetSection.arg(starts.size() + 1)) {
            starts.push_back(i);
        } else if (lines[i].startsWith(QLatin1String("[Hoja "))) {
            return std::nullopt; // out of order or misnumbered
        }
    }
    QHash<QString, QString> head;
    if (!ReadKeys(lines.mid(1, (starts.empty() ? lines.size() : starts.front()) - 1), &head)) {
        return std::nullopt;
    }
    SheetSetRecord r;
    r.name = head.value(QStringLiteral("Nombre"));
    const auto overlap = Integer(head, QStringLiteral("Solape"));
    const auto count = Integer(head, QStringLiteral("Hojas"));
    const QString origin = head.value(QStringLiteral("Origen"));
    if (r.name.isEmpty() || !overlap || !count || *count != int(starts.size()) ||
        (origin != kBox && origin != kTrack)) {
        return std::nullopt;
    }
    r.overlap = *overlap;
    if (origin == kBox) {
        const QStringList corners = head.value(QStringLiteral("Recuadro")).split(u',');
        bool ok = corners.size() == 4;
        double v[4] = {};
        for (int i = 0; ok && i < 4; ++i) {
            v[i] = corners[i].toDouble(&ok);
        }
        if (!ok) {
            return std::nullopt;
        }
        r.box = {v[0], v[3], v[2], v[1]};
    } else {
        r.sourceKind = SheetSource::Kind::Track;
        r.trackPath = head.value(QStringLiteral("Ruta"));
        bool ok = false;
        r.margin = head.value(QStringLiteral("Margen")).toDouble(&ok);
        if (!ok) {
            return std::nullopt;
        }
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        const qsizetype from = starts[i] + 1;
        const qsizetype to = i + 1 < starts.size() ? starts[i + 1] : lines.size();
        std::optional<Entry> e = ParseEntry(int(i) + 1, lines.mid(from, to - from));
        if (!e) {
            return std::nullopt;
        }
        r.sheets.push_back(std::move(*e));
    }
    return r;
}

QString SheetSetRecordPath(const QString& folder, const QString& name) {
    return JobRecordPath(PathPrefix(folder), name);
}

bool SaveSheetSetRecord(const QString& path, const QByteArray& bytes) {
    // No sync, as a run's own record: a record lost to a power cut costs tiles asked again.
    return WriteFileAtomically(path, bytes, nullptr);
}

std::optional<SheetSetRecord> LoadSheetSetRecord(const QString& path, QString* refused) {
    const std::optional<QByteArray> bytes = ReadRecordFile(path, kMaxSheetSetRecordBytes, refused);
    return bytes ? SheetSetRecord::parse(*bytes) : std::nullopt;
}
