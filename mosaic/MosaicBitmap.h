#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

#include <vector>

// The joined image of a run: 400 pixels per tile column and row, 24-bit colour, white
// when created. Tiles meet edge to edge, so that every pixel of the image lies where
// the calibration files say it does.
//
// The white is laid out only where no tile covers it, when the image is read: painting
// a 4000 x 4000 image white up front touches 48 MB at once and held the event loop for
// 150 ms, while each tile's place is written by the tile anyway.
class MosaicBitmap {
public:
    // Top-left pixel of the tile at `column` and `row` (both from 1).
    static QPoint TileOrigin(int column, int row);

    // A white image of width x height; false when the size is not positive or the
    // memory cannot be had.
    bool create(int width, int height, QString* error = nullptr);
    bool isCreated() const { return !m_image.isNull(); }

    // Copies the decoded tile, unscaled, to its place. Refuses an empty tile and one that
    // does not lie wholly inside the image (a grid whose pixel size was not recomputed):
    // such a tile would be cut or lost without a trace.
    bool drawTile(const QImage& tile, int column, int row, QString* error = nullptr);

    // The whole image, every place without a tile white.
    const QImage& image() const;
    // Frees the image without writing it.
    void release();

private:
    int cellIndex(int column, int row) const { return (row - 1) * m_columns + (column - 1); }
    void whiten(int column, int row) const;

    // Written only to lay out the white of places no tile has covered yet.
    mutable QImage m_image;
    mutable std::vector<bool> m_covered; // per 400-pixel place, row by row
    int m_columns = 0;
    int m_rows = 0;
};
