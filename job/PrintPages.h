#pragma once

// The area laid on sheets of paper at a true scale: how many pages and which way up, and
// the ground each page's map frame shows. Paper in millimetres from a page's upper-left
// corner, ground in ED50 / UTM zone 30N metres.

#include "job/DownloadJob.h"
#include "job/MapArea.h"

#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <vector>

// From the paper's edge to anything printed.
constexpr double kPrintMarginMm = 10.0;
// Around the frame, for the grid's labels and the neighbouring pages' numbers.
constexpr double kPrintLabelBandMm = 5.0;
// Above the frame's band: the name, the page and the map.
constexpr double kPrintHeaderMm = 7.0;
// Below it: the scale and its bar, the grid, the date.
constexpr double kPrintFooterMm = 12.0;
// What neighbouring pages both show, so that they can be laid edge to edge.
constexpr double kPrintOverlapMm = 10.0;

// Upright, width before height: A4 is 210 x 297.
QSizeF PaperMillimetres(PrintPaper paper);
// "A4", "A3": also the word in the settings file.
QString PaperName(PrintPaper paper);
bool IsPrintScale(int64_t scale);
// Metres between the grid's lines: 1 km, and 2 km at 1:50.000, where 1 km is only 2 cm.
int32_t PrintGridMetres(int32_t scale);

struct PrintPage {
    int number = 0; // 1.. in reading order
    int row = 0;    // 0 is the northernmost row of pages,
    int column = 0; // and 0 the westernmost column
    GroundRect ground;
    // The map frame on the paper; its size is the ground's at the scale.
    QRectF frame;
    // The numbers of the neighbouring pages, 0 where there is none.
    int west = 0;
    int east = 0;
    int north = 0;
    int south = 0;
};

struct PrintPlan {
    PrintPaper paper = PrintPaper::A4;
    int32_t scale = 0;
    bool landscape = false;
    // The paper as the pages lie.
    QSizeF paperMm;
    int across = 0;
    int down = 0;
    std::vector<PrintPage> pages;
};

// The fewest pages of the paper, upright or lying, that show the area at the scale, each
// map frame the same size and neighbours sharing kPrintOverlapMm. No pages for an area
// without size or a scale that is none.
PrintPlan PlanPrintPages(const GroundRect& area, int32_t scale, PrintPaper paper);
