#include "ui/WindowFont.h"

#include <QFontMetrics>
#include <QStringList>

namespace {

// The caption that is widest for its box: the check box of 209 pixels, less its tick.
constexpr char kWidestCaption[] = "Borrar ficheros del mosaico descargados";
constexpr int kWidestRoom = 187;

} // namespace

QFont WindowFont(bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Arial"), QStringLiteral("Helvetica"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(10);
    // A wider face than those asked for is narrowed until the captions fit.
    const int width = QFontMetrics(font).horizontalAdvance(QLatin1String(kWidestCaption));
    if (width > kWidestRoom) {
        font.setStretch(qMax(75, kWidestRoom * 100 / width));
    }
    // Set either way, so that a bold group caption does not pass to its controls.
    font.setBold(bold);
    return font;
}
