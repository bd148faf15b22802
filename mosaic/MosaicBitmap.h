#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

// The joined image of a run: 400 pixels per tile column and row, 24-bit colour, white
// when created. Tiles meet edge to edge, so that every pixel of the image lies where
// the calibration files say it does.
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

    const QImage& image() const { return m_image; }
    // Frees the image without writing it.
    void release() { m_image = QImage(); }

private:
    QImage m_image;
};
