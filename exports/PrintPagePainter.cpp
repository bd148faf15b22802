#include "exports/PrintPagePainter.h"

#include "job/NumberFormat.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Text is set in hundredths of a millimetre: the PDF engine rounds a font's size to whole
// units, which in millimetres would be a quarter off.
constexpr double kTextUnits = 100.0;
constexpr double kLabelMm = 2.3; // the grid's labels and the neighbours' numbers
constexpr double kTitleMm = 3.4; // the name and page
constexpr double kScaleMm = 3.0; // "Escala 1:25.000"
constexpr double kNoteMm = 2.4;  // the other margin texts
constexpr double kBarTextMm = 2.0;
// Between a label and the frame.
constexpr double kLabelGapMm = 1.0;
// The margin texts take the frame's width, and at least this much of the paper.
constexpr double kLeastTextWidthMm = 170.0;
// Lines: the grid's with a pale edge, so that they show on dark and light ground alike.
constexpr double kGridMm = 0.13;
constexpr double kGridEdgeMm = 0.4;
constexpr double kFrameMm = 0.25;
constexpr double kTickMm = 0.35;
constexpr double kTickLengthMm = 3.0;
constexpr double kBarHeightMm = 1.6;
constexpr int kBarParts = 4;
// The ED50 ticks and the words naming them.
const QColor kEd50Colour(0, 85, 200);

enum class Align { Left, Centre, Right };

QFont TextFont(double sizeMm, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(static_cast<int>(std::lround(sizeMm * kTextUnits)));
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

double TextWidth(const QPainter& painter, const QString& text, double sizeMm, bool bold) {
    return QFontMetricsF(TextFont(sizeMm, bold), painter.device()).horizontalAdvance(text) /
           kTextUnits;
}

struct TextStyle {
    double sizeMm = kNoteMm;
    bool bold = false;
    QColor colour = Qt::black;
    Align align = Align::Left;
    // `at` is the top of the letters rather than their baseline.
    bool hanging = false;
    // Turned by this many degrees, clockwise, about `at`.
    double angle = 0.0;
};

// Draws the text and gives its width in millimetres.
double DrawText(QPainter& painter, const QPointF& at, const QString& text, const TextStyle& style) {
    const QFont font = TextFont(style.sizeMm, style.bold);
    const QFontMetricsF metrics(font, painter.device());
    const double width = metrics.horizontalAdvance(text);
    double x = 0.0;
    if (style.align == Align::Centre) {
        x = -width / 2.0;
    } else if (style.align == Align::Right) {
        x = -width;
    }
    painter.save();
    painter.translate(at);
    painter.rotate(style.angle);
    painter.scale(1.0 / kTextUnits, 1.0 / kTextUnits);
    painter.setFont(font);
    painter.setPen(style.colour);
    painter.drawText(QPointF(x, style.hanging ? metrics.ascent() * 0.8 : 0.0), text);
    painter.restore();
    return width / kTextUnits;
}

QPen LinePen(const QColor& colour, double widthMm) {
    QPen pen(colour, widthMm);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

// "585" for 585 000 m: grid labels give whole kilometres.
QString Kilometres(int32_t metres) {
    return GroupedNumber(metres / 1000);
}

// Where along an edge a text centred at `at` reaches, and whether it clashes with one of
// `taken`.
struct Span {
    double from;
    double to;
};
bool Clashes(const Span& s, const std::vector<Span>& taken) {
    return std::any_of(taken.begin(), taken.end(),
                       [&s](const Span& t) { return s.from < t.to && t.from < s.to; });
}

// Where a text outside the frame's `edge` goes, `along` that edge (millimetres from the
// page's left or top), and how it is turned: upright on the north and south edges, along
// the frame on the others, its foot towards the frame.
QPointF BesideEdge(const QRectF& f, FrameEdge edge, double along, TextStyle* style) {
    switch (edge) {
    case FrameEdge::North:
        return {along, f.top() - kLabelGapMm};
    case FrameEdge::South:
        style->hanging = true;
        return {along, f.bottom() + kLabelGapMm};
    case FrameEdge::West:
        style->angle = -90.0;
        return {f.left() - kLabelGapMm, along};
    case FrameEdge::East:
        style->angle = -90.0;
        style->hanging = true;
        return {f.right() + kLabelGapMm, along};
    }
    return {};
}

// The number of the neighbouring page at the middle of each edge, pointing out of the page,
// upright on the north and south edges and along the frame on the others, as the labels.
void DrawNeighbours(QPainter& painter, const PrintPage& page, std::vector<Span> (&taken)[4]) {
    const QRectF& f = page.frame;
    const struct {
        int number;
        FrameEdge edge;
        QString arrow;
    } sides[] = {{page.north, FrameEdge::North, QStringLiteral("▲")},
                 {page.east, FrameEdge::East, QStringLiteral("▼")},
                 {page.south, FrameEdge::South, QStringLiteral("▼")},
                 {page.west, FrameEdge::West, QStringLiteral("▲")}};
    for (const auto& side : sides) {
        if (side.number == 0) {
            continue;
        }
        const QString text = side.arrow + QStringLiteral(" Hoja %1").arg(side.number);
        TextStyle style{kLabelMm, true, Qt::black, Align::Centre};
        const double half = TextWidth(painter, text, kLabelMm, true) / 2.0 + 1.0;
        const double middle = side.edge == FrameEdge::North || side.edge == FrameEdge::South
                                  ? f.center().x()
                                  : f.center().y();
        DrawText(painter, BesideEdge(f, side.edge, middle, &style), text, style);
        taken[static_cast<size_t>(side.edge)].push_back({middle - half, middle + half});
    }
}

void DrawLabels(QPainter& painter, const PrintPage& page, const PageGrid& grid,
                std::vector<Span> (&taken)[4]) {
    const QRectF& f = page.frame;
    for (const FrameMark& mark : grid.labels) {
        const QString text = Kilometres(mark.metres);
        const double half = TextWidth(painter, text, kLabelMm, false) / 2.0;
        const bool across = mark.edge == FrameEdge::North || mark.edge == FrameEdge::South;
        const Span span{mark.at - half - 0.5, mark.at + half + 0.5};
        const double first = across ? f.left() : f.top();
        const double last = across ? f.right() : f.bottom();
        auto& edgeTaken = taken[static_cast<size_t>(mark.edge)];
        // Not past the frame's corners, nor over another label.
        if (span.from < first || span.to > last || Clashes(span, edgeTaken)) {
            continue;
        }
        TextStyle style{kLabelMm, false, Qt::black, Align::Centre};
        DrawText(painter, BesideEdge(f, mark.edge, mark.at, &style), text, style);
        edgeTaken.push_back(span);
    }
}

void DrawEd50Ticks(QPainter& painter, const PrintPage& page, const PageGrid& grid) {
    const QRectF& f = page.frame;
    QPainterPath ticks;
    for (const FrameMark& mark : grid.ed50Ticks) {
        switch (mark.edge) {
        case FrameEdge::North:
            ticks.moveTo(mark.at, f.top());
            ticks.lineTo(mark.at, f.top() + kTickLengthMm);
            break;
        case FrameEdge::South:
            ticks.moveTo(mark.at, f.bottom());
            ticks.lineTo(mark.at, f.bottom() - kTickLengthMm);
            break;
        case FrameEdge::West:
            ticks.moveTo(f.left(), mark.at);
            ticks.lineTo(f.left() + kTickLengthMm, mark.at);
            break;
        case FrameEdge::East:
            ticks.moveTo(f.right(), mark.at);
            ticks.lineTo(f.right() - kTickLengthMm, mark.at);
            break;
        }
    }
    painter.strokePath(ticks, LinePen(Qt::white, kTickMm + 0.4));
    painter.strokePath(ticks, LinePen(kEd50Colour, kTickMm));
}

// A bar of kBarParts parts, black and white by turns, with its length in metres above it.
void DrawScaleBar(QPainter& painter, const QPointF& baseLeft, int32_t scale) {
    // 4 or 5 cm of paper: 500 m at 1:10.000, 1 km at 1:25.000, 2 km at 1:50.000.
    const int32_t metres = scale <= 10000 ? 500 : scale <= 25000 ? 1000 : 2000;
    const double length = metres * 1000.0 / scale;
    const QRectF bar(baseLeft.x(), baseLeft.y() - kBarHeightMm, length, kBarHeightMm);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < kBarParts; ++i) {
        painter.setBrush(i % 2 == 0 ? Qt::black : Qt::white);
        painter.drawRect(QRectF(bar.left() + length * i / kBarParts, bar.top(), length / kBarParts,
                                bar.height()));
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(LinePen(Qt::black, 0.15));
    painter.drawRect(bar);
    const double above = bar.top() - 0.5;
    DrawText(painter, QPointF(bar.left(), above), QStringLiteral("0"),
             {kBarTextMm, false, Qt::black, Align::Centre});
    DrawText(painter, QPointF(bar.center().x(), above), GroupedNumber(metres / 2),
             {kBarTextMm, false, Qt::black, Align::Centre});
    DrawText(painter, QPointF(bar.right(), above), GroupedNumber(metres),
             {kBarTextMm, false, Qt::black, Align::Centre});
    DrawText(painter,
             QPointF(bar.right() +
                         TextWidth(painter, GroupedNumber(metres), kBarTextMm, false) / 2.0 + 0.6,
                     above),
             QStringLiteral("m"), {kBarTextMm});
}

void DrawMargins(QPainter& painter, const PrintPlan& plan, const PrintPage& page,
                 const PageTexts& texts) {
    const QRectF& f = page.frame;
    const double paperWidth = plan.paperMm.width();
    const double width = std::min(paperWidth - 2.0 * kPrintMarginMm,
                                  std::max(f.width() + 2.0 * kPrintLabelBandMm, kLeastTextWidthMm));
    const double left = (paperWidth - width) / 2.0;
    const double right = left + width;

    const double header = f.top() - kPrintLabelBandMm - 2.0;
    const int pages = static_cast<int>(plan.pages.size());
    DrawText(painter, QPointF(left, header),
             QStringLiteral("%1 · Hoja %2 de %3").arg(texts.name).arg(page.number).arg(pages),
             {kTitleMm, true});
    DrawText(painter, QPointF(right, header), texts.mapText,
             {kNoteMm, false, Qt::black, Align::Right});

    const double first = f.bottom() + kPrintLabelBandMm + 4.0;
    const double second = first + 5.0;
    const double scaleWidth =
        DrawText(painter, QPointF(left, first),
                 QStringLiteral("Escala 1:%1").arg(GroupedNumber(plan.scale)), {kScaleMm, true});
    DrawScaleBar(painter, QPointF(left + scaleWidth + 5.0, first), plan.scale);
    // The grid's datum in black, the ticks' in their colour.
    const QString grid = QStringLiteral("Cuadrícula UTM huso 30, ETRS89 ");
    const QString ticks = QStringLiteral("(ED50 en el marco)");
    const double ticksWidth = TextWidth(painter, ticks, kNoteMm, false);
    DrawText(painter, QPointF(right - ticksWidth, first), grid,
             {kNoteMm, false, Qt::black, Align::Right});
    DrawText(painter, QPointF(right, first), ticks, {kNoteMm, false, kEd50Colour, Align::Right});
    DrawText(painter, QPointF(left, second), QStringLiteral("Imprimir a tamaño real (100 %)"),
             {kNoteMm});
    DrawText(painter, QPointF(right, second), texts.date,
             {kNoteMm, false, Qt::black, Align::Right});
}

} // namespace

ImagePiece ImagePieceOf(const PrintPage& page, int32_t scale, const QSize& image,
                        const GroundRect& imageGround) {
    // A hair of slack, so that an edge on a pixel's edge takes no pixel beyond it.
    constexpr double kSlack = 1e-6;
    const double pixelX = imageGround.width() / image.width();
    const double pixelY = imageGround.height() / image.height();
    const auto clampTo = [](double v, int high) {
        return std::clamp(static_cast<int>(v), 0, high);
    };
    const int x0 =
        clampTo(std::floor((page.ground.west - imageGround.west) / pixelX + kSlack), image.width());
    const int x1 =
        clampTo(std::ceil((page.ground.east - imageGround.west) / pixelX - kSlack), image.width());
    const int y0 = clampTo(std::floor((imageGround.north - page.ground.north) / pixelY + kSlack),
                           image.height());
    const int y1 = clampTo(std::ceil((imageGround.north - page.ground.south) / pixelY - kSlack),
                           image.height());
    const double mmPerMetre = 1000.0 / scale;
    ImagePiece piece;
    piece.pixels = QRect(x0, y0, x1 - x0, y1 - y0);
    piece.paper = QRectF(
        page.frame.left() + (imageGround.west + x0 * pixelX - page.ground.west) * mmPerMetre,
        page.frame.top() + (page.ground.north - (imageGround.north - y0 * pixelY)) * mmPerMetre,
        (x1 - x0) * pixelX * mmPerMetre, (y1 - y0) * pixelY * mmPerMetre);
    return piece;
}

void PaintPrintPage(QPainter& painter, const PrintPlan& plan, const PrintPage& page,
                    const PageGrid& grid, const QImage& image, const GroundRect& imageGround,
                    const PageTexts& texts) {
    const QRectF& f = page.frame;
    painter.save();
    painter.setClipRect(f);
    const ImagePiece piece = ImagePieceOf(page, plan.scale, image.size(), imageGround);
    if (!piece.pixels.isEmpty()) {
        painter.drawImage(piece.paper, image, piece.pixels);
    }
    QPainterPath lines;
    for (const GridLine& line : grid.lines) {
        lines.moveTo(line.points.front());
        for (size_t i = 1; i < line.points.size(); ++i) {
            lines.lineTo(line.points[i]);
        }
    }
    painter.strokePath(lines, LinePen(Qt::white, kGridEdgeMm));
    painter.strokePath(lines, LinePen(Qt::black, kGridMm));
    painter.restore();

    painter.setPen(LinePen(Qt::black, kFrameMm));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(f);
    DrawEd50Ticks(painter, page, grid);
    std::vector<Span> taken[4];
    DrawNeighbours(painter, page, taken);
    DrawLabels(painter, page, grid, taken);
    DrawMargins(painter, plan, page, texts);
}
