#include "mosaic/MosaicBitmap.h"

#include "job/MapKinds.h"

#include <QRect>

#include <cstring>

QPoint MosaicBitmap::TileOrigin(int column, int row) {
    return {(column - 1) * kTilePixels, (row - 1) * kTilePixels};
}

bool MosaicBitmap::create(int width, int height, QString* error) {
    release();
    if (width <= 0 || height <= 0) {
        if (error) {
            *error = QStringLiteral("tamaño de imagen no válido: %1 x %2").arg(width).arg(height);
        }
        return false;
    }
    m_image = QImage(width, height, QImage::Format_RGB888);
    if (m_image.isNull()) {
        if (error) {
            *error =
                QStringLiteral("no hay memoria para una imagen de %1 x %2").arg(width).arg(height);
        }
        return false;
    }
    m_columns = (width + kTilePixels - 1) / kTilePixels;
    m_rows = (height + kTilePixels - 1) / kTilePixels;
    m_covered.assign(static_cast<size_t>(m_columns) * static_cast<size_t>(m_rows), false);
    return true;
}

void MosaicBitmap::release() {
    m_image = QImage();
    m_covered.clear();
    m_columns = 0;
    m_rows = 0;
}

const QImage& MosaicBitmap::image() const {
    for (int row = 1; row <= m_rows; ++row) {
        for (int column = 1; column <= m_columns; ++column) {
            if (!m_covered[static_cast<size_t>(cellIndex(column, row))]) {
                whiten(column, row);
            }
        }
    }
    return m_image;
}

void MosaicBitmap::whiten(int column, int row) const {
    // White is every byte at 0xFF in 24-bit colour.
    const QRect place =
        QRect(TileOrigin(column, row), QSize(kTilePixels, kTilePixels)) & m_image.rect();
    for (int y = place.top(); y <= place.bottom(); ++y) {
        std::memset(m_image.scanLine(y) + static_cast<size_t>(place.x()) * 3, 0xFF,
                    static_cast<size_t>(place.width()) * 3);
    }
    m_covered[static_cast<size_t>(cellIndex(column, row))] = true;
}

bool MosaicBitmap::drawTile(const QImage& tile, int column, int row, QString* error) {
    const auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    if (m_image.isNull()) {
        return fail(QStringLiteral("no hay imagen de unión"));
    }
    if (tile.isNull()) {
        return fail(QStringLiteral("mosaico sin imagen"));
    }
    const QRect place(TileOrigin(column, row), tile.size());
    if (!m_image.rect().contains(place)) {
        return fail(QStringLiteral("el mosaico no cabe en la imagen de unión"));
    }
    const QImage rgb =
        tile.format() == QImage::Format_RGB888 ? tile : tile.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull()) {
        return fail(QStringLiteral("no se pudo convertir el mosaico"));
    }
    // A tile smaller than its place leaves the rest of the place white.
    const QRect cell =
        QRect(TileOrigin(column, row), QSize(kTilePixels, kTilePixels)) & m_image.rect();
    if (!m_covered[static_cast<size_t>(cellIndex(column, row))] && !place.contains(cell)) {
        whiten(column, row);
    }
    m_covered[static_cast<size_t>(cellIndex(column, row))] = true;
    const size_t rowBytes = static_cast<size_t>(rgb.width()) * 3;
    for (int y = 0; y < rgb.height(); ++y) {
        uchar* out = m_image.scanLine(place.y() + y) + static_cast<size_t>(place.x()) * 3;
        std::memcpy(out, rgb.constScanLine(y), rowBytes);
    }
    return true;
}
