#include "run/JobRecord.h"

#include "download/TileFiles.h"
#include "job/BoundedRead.h"
#include "job/MapKinds.h"

#include <QHash>
#include <QStringList>

namespace {

constexpr char kHeading[] = "# Descarga de Morvel sin terminar: se borra sola al acabar.";
constexpr char kJobSection[] = "[Descarga]";
constexpr char kTileSection[] = "[Mosaicos]";
const QString kPending = QStringLiteral("pendiente");
const QString kFetched = QStringLiteral("descargado");
const QString kFailed = QStringLiteral("fallido");

QString TileKey(int column, int row) {
    return QString(QChar(u'A' + row - 1)) + QStringLiteral("%1").arg(column, 2, 10, QChar(u'0'));
}

std::optional<int32_t> Number(const QHash<QString, QString>& keys, const char* key) {
    bool ok = false;
    const int32_t value = keys.value(QLatin1String(key)).toInt(&ok);
    return ok ? std::optional<int32_t>(value) : std::nullopt;
}

} // namespace

// "descargado <size> <SHA-256 in hex>"; an earlier version wrote the word alone.
std::optional<TileStamp> ParseStampText(const QString& text) {
    const QStringList parts = text.split(u' ', Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        return TileStamp{};
    }
    bool ok = false;
    TileStamp stamp;
    stamp.size = parts.size() == 2 ? parts[0].toLongLong(&ok) : -1;
    if (!ok || stamp.size < 0 || parts[1].size() != 64) {
        return std::nullopt;
    }
    for (const QChar c : parts[1]) {
        if (!c.isDigit() && !(c >= u'a' && c <= u'f')) {
            return std::nullopt;
        }
    }
    stamp.sha256 = QByteArray::fromHex(parts[1].toLatin1());
    return stamp;
}

QString StampText(const TileStamp& stamp) {
    return QStringLiteral("%1 %2").arg(stamp.size).arg(QString::fromLatin1(stamp.sha256.toHex()));
}

JobRecord JobRecord::ForJob(const DownloadJob& job) {
    JobRecord r;
    r.server = ServerBaseOf(job.requestPrefix);
    r.kind = job.kind;
    r.tileSize = job.tileSize;
    r.easting = job.easting;
    r.northingField = job.northingField;
    r.tilesAcross = job.tilesAcross;
    r.tilesDown = job.tilesDown;
    return r;
}

void JobRecord::setState(int column, int row, TileState state, const QString& reason) {
    states.at(column - 1).at(row - 1) = state;
    // One line per tile: a reason never breaks it.
    reasons.at(column - 1).at(row - 1) =
        state == TileState::Failed ? reason.simplified() : QString();
    stamps.at(column - 1).at(row - 1) = TileStamp{};
}

void JobRecord::setFetched(int column, int row, const TileStamp& stamp) {
    setState(column, row, TileState::Fetched);
    stamps.at(column - 1).at(row - 1) = stamp;
}

bool JobRecord::vouchesFor(int column, int row) const {
    return state(column, row) == TileState::Fetched && stamp(column, row).isValid();
}

int JobRecord::vouched() const {
    int n = 0;
    for (int row = 1; row <= tilesDown; ++row) {
        for (int column = 1; column <= tilesAcross; ++column) {
            n += vouchesFor(column, row) ? 1 : 0;
        }
    }
    return n;
}

bool JobRecord::sameJob(const JobRecord& o) const {
    return server == o.server && kind == o.kind && tileSize == o.tileSize && easting == o.easting &&
           northingField == o.northingField && tilesAcross == o.tilesAcross &&
           tilesDown == o.tilesDown;
}

int JobRecord::count(TileState wanted) const {
    int n = 0;
    for (int row = 1; row <= tilesDown; ++row) {
        for (int column = 1; column <= tilesAcross; ++column) {
            n += state(column, row) == wanted ? 1 : 0;
        }
    }
    return n;
}

QByteArray JobRecord::toBytes() const {
    QStringList lines{QLatin1String(kHeading),
                      QLatin1String(kJobSection),
                      QStringLiteral("Servidor=") + server,
                      QStringLiteral("TipoMosaico=%1").arg(static_cast<int>(kind)),
                      QStringLiteral("Cobertura=%1").arg(tileSize),
                      QStringLiteral("UTMSupIzqX=%1").arg(easting),
                      QStringLiteral("UTMSupIzqY=%1").arg(northingField),
                      QStringLiteral("MosaicosAncho=%1").arg(tilesAcross),
                      QStringLiteral("MosaicosAlto=%1").arg(tilesDown),
                      QLatin1String(kTileSection)};
    for (int row = 1; row <= tilesDown; ++row) {
        for (int column = 1; column <= tilesAcross; ++column) {
            QString value;
            switch (state(column, row)) {
            case TileState::Pending:
                value = kPending;
                break;
            case TileState::Fetched:
                value = kFetched;
                if (stamp(column, row).isValid()) {
                    value += u' ' + StampText(stamp(column, row));
                }
                break;
            case TileState::Failed:
                value = kFailed + QStringLiteral(": ") + reasons.at(column - 1).at(row - 1);
                break;
            }
            lines << TileKey(column, row) + u'=' + value;
        }
    }
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

std::optional<JobRecord> JobRecord::parse(const QByteArray& bytes) {
    QHash<QString, QString> job;
    QHash<QString, QString> tiles;
    QHash<QString, QString>* section = nullptr;
    for (QString line : QString::fromUtf8(bytes).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) {
            continue;
        }
        if (line == QLatin1String(kJobSection)) {
            section = &job;
            continue;
        }
        if (line == QLatin1String(kTileSection)) {
            section = &tiles;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!section || eq <= 0) {
            return std::nullopt;
        }
        section->insert(line.left(eq), line.mid(eq + 1));
    }

    JobRecord r;
    r.server = job.value(QStringLiteral("Servidor"));
    const auto kind = Number(job, "TipoMosaico");
    const auto tileSize = Number(job, "Cobertura");
    const auto easting = Number(job, "UTMSupIzqX");
    const auto northing = Number(job, "UTMSupIzqY");
    const auto across = Number(job, "MosaicosAncho");
    const auto down = Number(job, "MosaicosAlto");
    if (r.server.isEmpty() || !kind || *kind < 0 || *kind > 2 || !tileSize || !easting ||
        !northing || !across || *across < 1 || *across > kMaxTiles || !down || *down < 1 ||
        *down > kMaxTiles) {
        return std::nullopt;
    }
    r.kind = static_cast<MapKind>(*kind);
    r.tileSize = *tileSize;
    r.easting = *easting;
    r.northingField = *northing;
    r.tilesAcross = *across;
    r.tilesDown = *down;
    for (int row = 1; row <= r.tilesDown; ++row) {
        for (int column = 1; column <= r.tilesAcross; ++column) {
            const QString value = tiles.value(TileKey(column, row));
            if (value == kPending) {
                r.setState(column, row, TileState::Pending);
            } else if (value == kFetched || value.startsWith(kFetched + u' ')) {
                const std::optional<TileStamp> stamp = ParseStampText(value.mid(kFetched.size()));
                if (!stamp) {
                    return std::nullopt;
                }
                r.setFetched(column, row, *stamp);
            } else if (value.startsWith(kFailed + u':')) {
                r.setState(column, row, TileState::Failed, value.mid(kFailed.size() + 1).trimmed());
            } else {
                return std::nullopt; // a tile of the grid is missing or unreadable
            }
        }
    }
    return r;
}

QString JobRecordPath(const QString& pathPrefix, const QString& bmpName) {
    return pathPrefix + bmpName + QStringLiteral(".morvel");
}

bool SaveJobRecord(const QString& path, const JobRecord& record) {
    // No sync: a record lost to a power cut only means those tiles are asked for again.
    return WriteFileAtomically(path, record.toBytes(), nullptr);
}

std::optional<QByteArray> ReadRecordFile(const QString& path, qint64 maxBytes, QString* refused) {
    const BoundedRead read = ReadBoundedFile(path, maxBytes);
    if (!read.ok()) {
        if (refused && read.refusal != ReadRefusal::Missing) {
            *refused = read.reason();
        }
        return std::nullopt;
    }
    return read.bytes;
}

std::optional<JobRecord> LoadJobRecord(const QString& path, QString* refused) {
    const std::optional<QByteArray> bytes = ReadRecordFile(path, kMaxRecordBytes, refused);
    return bytes ? JobRecord::parse(*bytes) : std::nullopt;
}
