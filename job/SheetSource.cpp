#include "job/SheetSource.h"

#include "job/NumberFormat.h"

#include <QFileInfo>

#include <cmath>

SheetSource SheetSource::withoutTrack() const {
    SheetSource light;
    light.kind = kind;
    light.box = box;
    light.trackPath = trackPath;
    light.margin = margin;
    light.overlap = overlap;
    return light;
}

SheetCut SheetSource::cut(int32_t tileSize, const QString& name,
                          const std::atomic<bool>* stop) const {
    SheetOptions options;
    options.tileSize = tileSize;
    options.overlap = overlap;
    options.name = name;
    return kind == Kind::Box ? CutBox(box, options)
                             : CutCorridor(lines, points, margin, options, stop);
}

QString SheetSetLine(const SheetSet& set) {
    const auto count = static_cast<int>(set.sheets.size());
    if (count == 0) {
        return QStringLiteral("Hojas: 0");
    }
    const QString first = set.sheets.front().name;
    return count == 1 ? QStringLiteral("Hojas: 1 (%1)").arg(first)
                      : QStringLiteral("Hojas: %1 (%2 … %3)")
                            .arg(GroupedNumber(count), first, set.sheets.back().name);
}

QString SheetSourceText(const SheetSource& source) {
    const auto metres = [](double v) { return GroupedNumber(std::llround(v)); };
    QString text;
    if (source.kind == SheetSource::Kind::Box) {
        const GroundRect& b = source.box;
        text = QStringLiteral("recuadro de X %1, Y %2 a X %3, Y %4")
                   .arg(metres(std::min(b.west, b.east)), metres(std::max(b.north, b.south)),
                        metres(std::max(b.west, b.east)), metres(std::min(b.north, b.south)));
    } else {
        text = QStringLiteral("ruta «%1» con %2 m de margen")
                   .arg(QFileInfo(source.trackPath).fileName(), metres(source.margin));
    }
    if (source.overlap > 0) {
        text += source.overlap == 1 ? QStringLiteral(", solape de 1 mosaico")
                                    : QStringLiteral(", solape de %1 mosaicos").arg(source.overlap);
    }
    return text;
}
