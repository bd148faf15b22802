#include "mosaic/SheetOverview.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor kOutline(200, 0, 0);
const QColor kLabel(255, 255, 255, 210);
constexpr qreal kOutlineWidth = 2.0;
// The number's height against the sheet's shorter side, and its bounds in pixels.
constexpr qreal kNumberShare = 0.3;
constexpr int kSmallestNumber = 9;
constexpr int kLargestNumber = 72;

} // namespace

QString SheetOverviewName(const QString& name) {
    return name + QStringLiteral("_hojas.png");
}

double SheetOverviewScale(const GroundRect& area, int longSide) {
    return std::max(area.width(), area.height()) / std::max(1, longSide);
}

QImage PaintSheetOverview(const GroundRect& area, double metresPerPixel,
                          const std::vector<Sheet>& sheets,
                          const std::vector<OverviewPiece>& pieces) {
    if (!(metresPerPixel > 0.0)) {
        return {};
    }
    const double width = std::ceil(area.width() / metresPerPixel);
    const double height = std::ceil(area.height() / metresPerPixel);
    if (!(width * height <= kSheetOverviewPixels)) {
        return {};
    }
    QImage image(std::max(1, int(width)), std::max(1, int(height)), QImage::Format_RGB32);
    image.fill(Qt::white);
    const auto place = [&](const GroundRect& g) {
        return QRectF((g.west - area.west) / metresPerPixel,
                      (area.north - g.north) / metresPerPixel, g.width() / metresPerPixel,
                      g.height() / metresPerPixel);
    };

    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const OverviewPiece& piece : pieces) {
        painter.drawImage(place(piece.ground), piece.image);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kOutline, kOutlineWidth));
    const qreal inset = kOutlineWidth / 2;
    for (const Sheet& sheet : sheets) {
        painter.drawRect(place(sheet.rect()).adjusted(inset, inset, -inset, -inset));
    }
    for (const Sheet& sheet : sheets) {
        const QRectF r = place(sheet.rect());
        QFont font;
        font.setBold(true);
        font.setPixelSize(std::clamp(int(std::min(r.width(), r.height()) * kNumberShare),
                                     kSmallestNumber, kLargestNumber));
        const QString number = QString::number(sheet.number);
        const QFontMetricsF metrics(font);
        const qreal pad = metrics.height() / 6;
        QRectF label(0, 0, metrics.horizontalAdvance(number) + 2 * pad, metrics.height());
        label.moveCenter(r.center());
        painter.save();
        // A number never spills into the neighbours, even on a sheet of a few pixels.
        painter.setClipRect(r);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kLabel);
        painter.drawRoundedRect(label, pad, pad);
        painter.setFont(font);
        painter.setPen(kOutline);
        painter.drawText(label, Qt::AlignCenter, number);
        painter.restore();
    }
    painter.end();
    return image;
}
