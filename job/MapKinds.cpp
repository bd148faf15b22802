#include "job/MapKinds.h"

namespace {

const std::array<Coverage, kCoverageCount>& CoverageList(MapKind kind) {
    const auto index = static_cast<size_t>(kind);
    return kCoverageTable.at(index < kCoverageTable.size() ? index : 0);
}

} // namespace

QString MapServerBase() {
    return QStringLiteral(MORVEL_MAP_SERVER_BASE);
}

QString ChosenServerBase(const std::optional<QString>& server) {
    if (server) {
        QString base = server->trimmed();
        while (base.endsWith(u'/')) {
            base.chop(1);
        }
        if (!base.isEmpty()) {
            return base;
        }
    }
    return MapServerBase();
}

QStringList CoverageItems(MapKind kind) {
    QStringList items;
    for (const Coverage& c : CoverageList(kind)) {
        items << QString::fromLatin1(c.item);
    }
    return items;
}

int32_t CoverageMetres(MapKind kind, int position) {
    if (position < 0 || position >= kCoverageCount) {
        return -1;
    }
    return CoverageList(kind).at(static_cast<size_t>(position)).metres;
}

namespace {
const QString kMapPath = QStringLiteral("/navegar/asp/mime.aspx?TIPO=");
} // namespace

QString RequestPrefix(MapKind kind, const QString& serverBase) {
    // The terrain model is served under the same type as the cartography.
    const char* tipo = kind == MapKind::Orto ? "0" : "6";
    return serverBase + kMapPath + QLatin1String(tipo) + QStringLiteral("&Xmin=");
}

QString ServerBaseOf(const QString& requestPrefix) {
    const qsizetype at = requestPrefix.indexOf(kMapPath);
    return at < 0 ? requestPrefix : requestPrefix.left(at);
}

void LookupCoverage(DownloadJob& job, int selectedPosition, const QString& serverBase) {
    const int32_t metres = CoverageMetres(job.kind, selectedPosition);
    if (metres > 0) {
        job.tileSize = metres;
    }
    job.requestPrefix = RequestPrefix(job.kind, serverBase);
}

int SelectMapKind(DownloadJob& job, MapKind kind, const QString& serverBase) {
    job.kind = kind;
    const int position = job.coveragePosition;
    const int32_t metres = CoverageMetres(kind, position);
    if (metres > 0) {
        job.tileSize = metres;
    }
    job.requestPrefix = RequestPrefix(kind, serverBase);
    return position;
}

QString BuildTileUrl(const DownloadJob& job, int column, int row) {
    const TileRect b = TileBounds(job, column, row);
    return job.requestPrefix + QString::number(b.xmin) + QLatin1String(kAfterXmin) +
           QString::number(b.ymin) + QLatin1String(kBeforeXmax) + QString::number(b.xmax) +
           QLatin1String(kAfterXmax) + QString::number(b.ymax) + QLatin1String(kRequestTail);
}
