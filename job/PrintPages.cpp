#include "job/PrintPages.h"

#include <algorithm>
#include <cmath>

namespace {

// The largest frame a page of that size holds.
QSizeF LargestFrame(const QSizeF& paper) {
    return {paper.width() - 2.0 * (kPrintMarginMm + kPrintLabelBandMm),
            paper.height() - 2.0 * (kPrintMarginMm + kPrintLabelBandMm) - kPrintHeaderMm -
                kPrintFooterMm};
}

// Pages in a row of frames no longer than `largest` that hold `length`, neighbours
// overlapping; a hair of slack so that a length exactly a page's takes one.
int PagesFor(double length, double largest) {
    constexpr double kSlack = 1e-9;
    if (length <= largest * (1.0 + kSlack)) {
        return 1;
    }
    return static_cast<int>(
        std::ceil((length - kPrintOverlapMm) / (largest - kPrintOverlapMm) - kSlack));
}

} // namespace

QSizeF PaperMillimetres(PrintPaper paper) {
    return paper == PrintPaper::A3 ? QSizeF(297.0, 420.0) : QSizeF(210.0, 297.0);
}

QString PaperName(PrintPaper paper) {
    return paper == PrintPaper::A3 ? QStringLiteral("A3") : QStringLiteral("A4");
}

bool IsPrintScale(int64_t scale) {
    return std::find(kPrintScales.begin(), kPrintScales.end(), scale) != kPrintScales.end();
}

int32_t PrintGridMetres(int32_t scale) {
    return scale >= 50000 ? 2000 : 1000;
}

PrintPlan PlanPrintPages(const GroundRect& area, int32_t scale, PrintPaper paper) {
    PrintPlan plan;
    plan.paper = paper;
    plan.scale = scale;
    if (!(scale > 0 && area.width() > 0.0 && area.height() > 0.0)) {
        return plan;
    }
    const double mapWidth = area.width() * 1000.0 / scale;
    const double mapHeight = area.height() * 1000.0 / scale;
    const QSizeF upright = PaperMillimetres(paper);
    const QSizeF lying = upright.transposed();
    const QSizeF uprightFrame = LargestFrame(upright);
    const QSizeF lyingFrame = LargestFrame(lying);
    const int uprightPages =
        PagesFor(mapWidth, uprightFrame.width()) * PagesFor(mapHeight, uprightFrame.height());
    const int lyingPages =
        PagesFor(mapWidth, lyingFrame.width()) * PagesFor(mapHeight, lyingFrame.height());
    plan.landscape = lyingPages < uprightPages;
    plan.paperMm = plan.landscape ? lying : upright;
    const QSizeF largest = plan.landscape ? lyingFrame : uprightFrame;
    plan.across = PagesFor(mapWidth, largest.width());
    plan.down = PagesFor(mapHeight, largest.height());

    // Every frame alike: the map shared out evenly, the overlaps counted twice.
    const double frameWidth = (mapWidth + (plan.across - 1) * kPrintOverlapMm) / plan.across;
    const double frameHeight = (mapHeight + (plan.down - 1) * kPrintOverlapMm) / plan.down;
    // The frame in the middle of the paper, with its bands above and below.
    const double block = kPrintHeaderMm + 2.0 * kPrintLabelBandMm + frameHeight + kPrintFooterMm;
    const double top = std::max(kPrintMarginMm, (plan.paperMm.height() - block) / 2.0) +
                       kPrintHeaderMm + kPrintLabelBandMm;
    const QRectF frame((plan.paperMm.width() - frameWidth) / 2.0, top, frameWidth, frameHeight);
    const double metresPerMm = scale / 1000.0;
    const auto numberAt = [&plan](int row, int column) {
        return row < 0 || column < 0 || row >= plan.down || column >= plan.across
                   ? 0
                   : row * plan.across + column + 1;
    };
    for (int row = 0; row < plan.down; ++row) {
        for (int column = 0; column < plan.across; ++column) {
            PrintPage page;
            page.number = numberAt(row, column);
            page.row = row;
            page.column = column;
            page.frame = frame;
            // The last frame of a row or column ends exactly on the area's edge.
            page.ground.west =
                column + 1 == plan.across
                    ? area.east - frameWidth * metresPerMm
                    : area.west + column * (frameWidth - kPrintOverlapMm) * metresPerMm;
            page.ground.east =
                column + 1 == plan.across ? area.east : page.ground.west + frameWidth * metresPerMm;
            page.ground.north =
                row + 1 == plan.down
                    ? area.south + frameHeight * metresPerMm
                    : area.north - row * (frameHeight - kPrintOverlapMm) * metresPerMm;
            page.ground.south =
                row + 1 == plan.down ? area.south : page.ground.north - frameHeight * metresPerMm;
            page.west = numberAt(row, column - 1);
            page.east = numberAt(row, column + 1);
            page.north = numberAt(row - 1, column);
            page.south = numberAt(row + 1, column);
            plan.pages.push_back(page);
        }
    }
    return plan;
}
