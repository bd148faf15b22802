#pragma once

// One page of the PDF to print, drawn in millimetres of paper: the image in its frame at the
// scale, the ETRS89 grid over it with its labels and the ED50 ticks, the neighbouring pages'
// numbers at the edges, and in the margin the name and page, the map, the scale and its bar,
// the grid's datum and the date. Every text is text, not a picture: a reader finds it.

#include "exports/PrintGrid.h"
#include "job/PrintPages.h"

#include <QImage>
#include <QString>

class QPainter;

struct PageTexts {
    QString name;    // the BMP's name
    QString mapText; // the map kind and coverage
    QString date;    // "9 de diciembre de 2026"
};

// The painter's units must be millimetres from the page's upper-left corner. `image` covers
// `imageGround` (ED50 / UTM 30N); the part of it in the frame is drawn at its own pixels.
void PaintPrintPage(QPainter& painter, const PrintPlan& plan, const PrintPage& page,
                    const PageGrid& grid, const QImage& image, const GroundRect& imageGround,
                    const PageTexts& texts);

// The pixels of `image` (covering `imageGround`) that the frame of `page` shows, whole
// pixels, and where they lie on the paper.
struct ImagePiece {
    QRect pixels;
    QRectF paper;
};
ImagePiece ImagePieceOf(const PrintPage& page, int32_t scale, const QSize& image,
                        const GroundRect& imageGround);
