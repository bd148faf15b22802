#include "ui/SheetSettings.h"

#include "job/AreaRecalc.h"
#include "job/MapKinds.h"

#include <QDir>
#include <QStringList>

#include <cmath>

namespace {

QString ValueProblem(const char* key, const QString& value, const QString& meant) {
    return QStringLiteral("El valor «%1» de %2 en [Mosaicos] no es válido: %3.")
        .arg(value, QLatin1String(key), meant);
}

// A corner as the corner fields hold it: easting and northing less 4,000,000.
std::optional<GroundPoint> FieldCorner(const QString& easting, const QString& northing) {
    const auto x = ParseFieldInteger(easting.trimmed());
    const auto y = ParseFieldInteger(northing.trimmed());
    if (!x || !y) {
        return std::nullopt;
    }
    return GroundPoint{double(*x), double(int64_t{*y} + kNorthingOffset)};
}

// "CoberturaHojas" and "TipoHojas" into `out`; false, with the problem, for a value that
// names no map kind or no coverage of it.
bool ReadSetCoverage(const StoredSettings& s, SheetSettings* out) {
    MapKind kind = s.kind;
    if (s.sheetKind && !s.sheetKind->trimmed().isEmpty()) {
        const QString text = s.sheetKind->trimmed();
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < 0 || value > 2) {
            out->problem = ValueProblem("TipoHojas", text,
                                        QStringLiteral("debe ser 0 (cartografía), 1 (ortofoto) "
                                                       "o 2 (M.D.T.)"));
            return false;
        }
        kind = static_cast<MapKind>(value);
        out->kind = kind;
    }
    if (!s.sheetCoverage || s.sheetCoverage->trimmed().isEmpty()) {
        return true;
    }
    const QString text = s.sheetCoverage->trimmed();
    bool ok = false;
    const int metres = text.toInt(&ok);
    QStringList listed;
    for (int position = 0; position < kCoverageCount; ++position) {
        if (ok && CoverageMetres(kind, position) == metres) {
            out->kind = kind;
            out->coveragePosition = position;
            return true;
        }
        listed << QString::number(CoverageMetres(kind, position));
    }
    out->problem = ValueProblem(
        "CoberturaHojas", text,
        QStringLiteral("debe ser el lado de un mosaico en metros: %1 o %2")
            .arg(listed.mid(0, kCoverageCount - 1).join(QStringLiteral(", ")), listed.back()));
    return false;
}

} // namespace

SheetSettings ReadSheetSettings(const StoredSettings& s, const QString& settingsFolder) {
    SheetSettings out;
    const QString to = s.sheetsTo.value_or(QString()).trimmed();
    const QString track = s.track.value_or(QString()).trimmed();
    out.wanted = !to.isEmpty() || !track.isEmpty();
    if (!out.wanted) {
        return out;
    }
    if (!to.isEmpty() && !track.isEmpty()) {
        out.problem = QStringLiteral("Hasta y Ruta no pueden ir juntas en [Mosaicos]: las hojas "
                                     "cubren un recuadro o siguen una ruta.");
        return out;
    }
    if (!ReadSetCoverage(s, &out)) {
        return out;
    }
    SheetSource& source = out.source;
    const QString overlap = s.overlap.value_or(QStringLiteral("0")).trimmed();
    bool ok = false;
    source.overlap = overlap.toInt(&ok);
    if (!ok) {
        out.problem = ValueProblem("Solape", overlap,
                                   QStringLiteral("debe ser un número de "
                                                  "mosaicos de 0 a 2"));
        return out;
    }
    if (!to.isEmpty()) {
        const QStringList parts = to.split(u',');
        const auto from =
            FieldCorner(CornerFieldValue(s.eastingText), CornerFieldValue(s.northingText));
        const auto corner = parts.size() == 2 ? FieldCorner(parts[0], parts[1]) : std::nullopt;
        if (!corner) {
            out.problem = ValueProblem("Hasta", to,
                                       QStringLiteral("debe ser X,Y de la esquina inferior "
                                                      "derecha, como UTMSupIzqX y UTMSupIzqY"));
            return out;
        }
        if (!from) {
            out.problem = AreaMessageText(AreaMessage::InvalidCoordinates);
            return out;
        }
        source.kind = SheetSource::Kind::Box;
        source.box = {from->easting, corner->northing, corner->easting, from->northing};
        return out;
    }
    source.kind = SheetSource::Kind::Track;
    source.trackPath = QDir::toNativeSeparators(QDir(settingsFolder).absoluteFilePath(track));
    const QString margin = s.margin.value_or(QString()).trimmed();
    source.margin = margin.isEmpty() ? kDefaultTrackMargin : margin.toDouble(&ok);
    if (!margin.isEmpty() && (!ok || !std::isfinite(source.margin) || source.margin < 0)) {
        out.problem =
            ValueProblem("Margen", margin, QStringLiteral("debe ser un número de metros"));
    }
    return out;
}

DownloadJob SheetSetJob(const DownloadJob& job, const SheetSettings& sheets) {
    DownloadJob out = job;
    if (sheets.kind) {
        // Without a coverage of its own, the position the file remembers in the set's kind.
        out.kind = *sheets.kind;
        LookupCoverage(out, sheets.coveragePosition.value_or(job.coveragePosition),
                       ServerBaseOf(job.requestPrefix));
    }
    return out;
}

void StoreSheetSettings(StoredSettings& s, const std::optional<SheetSource>& source,
                        const QString& settingsFolder, MapKind kind, int32_t tileSize) {
    const auto keep = [](std::optional<QString>& key, const QString& value) {
        if (key) {
            *key = value;
        }
    };
    if (!source) {
        keep(s.sheetsTo, QString());
        keep(s.track, QString());
        keep(s.sheetCoverage, QString());
        keep(s.sheetKind, QString());
        return;
    }
    s.overlap = QString::number(source->overlap);
    s.sheetCoverage = QString::number(tileSize);
    s.sheetKind = QString::number(static_cast<int>(kind));
    if (source->kind == SheetSource::Kind::Box) {
        const GroundRect& b = source->box;
        const auto field = [](double v) {
            return QString::number(std::llround(v)).rightJustified(6, u'0');
        };
        s.eastingText = field(std::min(b.west, b.east));
        s.northingText = field(std::max(b.north, b.south) - kNorthingOffset);
        s.sheetsTo = QStringLiteral("%1,%2").arg(
            QString::number(std::llround(std::max(b.west, b.east))),
            QString::number(std::llround(std::min(b.north, b.south)) - kNorthingOffset));
        keep(s.track, QString());
        return;
    }
    const QString relative = QDir(settingsFolder).relativeFilePath(source->trackPath);
    s.track = QDir::toNativeSeparators(relative.startsWith(QLatin1String("..")) ? source->trackPath
                                                                                : relative);
    s.margin = QString::number(std::llround(source->margin));
    keep(s.sheetsTo, QString());
}
