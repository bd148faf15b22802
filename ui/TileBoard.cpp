#include "ui/TileBoard.h"

#include "ui/WindowFont.h"

#include <QLabel>
#include <QPalette>
#include <QPixmap>

#include <algorithm>

namespace {

void Paint(QLabel* marker, const QColor& colour, const QColor& text = Qt::black) {
    QPalette palette = marker->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, text);
    marker->setPalette(palette);
}

// A failed cell keeps its label under a cross, light on dark, so that it cannot be taken
// for one still waiting.
constexpr char16_t kFailedMark[] = u"\u2715";

} // namespace

TileBoard::~TileBoard() {
    free();
}

QRect TileBoard::CellRect(int column, int row) {
    return {kCellOffset + kCellPitch * (column - 1), kCellOffset + kCellPitch * (row - 1),
            kCellSize, kCellSize};
}

TileBoard::Cell& TileBoard::cell(int column, int row) {
    return m_cells.at(column - 1).at(row - 1);
}

const TileBoard::Cell& TileBoard::cell(int column, int row) const {
    return m_cells.at(column - 1).at(row - 1);
}

void TileBoard::build() {
    free();
    if (!m_panel) {
        return; // no viewer to show cells on: the run's cell steps then do nothing
    }
    for (int column = 1; column <= kMaxTiles; ++column) {
        for (int row = 1; row <= kMaxTiles; ++row) {
            auto* marker = new QLabel(m_panel);
            marker->setObjectName(QStringLiteral("marker%1_%2").arg(column).arg(row));
            marker->setGeometry(CellRect(column, row));
            marker->setFrameStyle(QFrame::Panel | QFrame::Raised);
            marker->setLineWidth(1);
            marker->setAlignment(Qt::AlignCenter);
            marker->setAutoFillBackground(true);
            Paint(marker, WaitingColour());
            marker->setFont(WindowFont(true));
            marker->hide();
            cell(column, row).marker = marker;
        }
    }
}

void TileBoard::free() {
    for (auto& column : m_cells) {
        for (Cell& c : column) {
            delete c.thumbnail.data();
            delete c.marker.data();
            c = Cell{};
        }
    }
}

void TileBoard::markWaiting(int column, int row, const QString& label) {
    QLabel* marker = cell(column, row).marker;
    if (!marker) {
        return;
    }
    Paint(marker, WaitingColour());
    marker->setText(label);
    marker->setToolTip(QString());
    marker->show();
    marker->raise();
}

void TileBoard::markFetched(int column, int row) {
    QLabel* marker = cell(column, row).marker;
    if (!marker) {
        return;
    }
    Paint(marker, FetchedColour());
    marker->hide();
}

void TileBoard::markFailed(int column, int row, const QString& reason) {
    QLabel* marker = cell(column, row).marker;
    if (!marker) {
        return;
    }
    Paint(marker, FailedColour(), Qt::white);
    const QString label = marker->text().section(u'\n', 0, 0);
    marker->setText(label + u'\n' + QString::fromUtf16(kFailedMark));
    marker->setToolTip(reason);
    marker->show();
    marker->raise(); // over a thumbnail placed before the failure
}

void TileBoard::hideMarker(int column, int row) {
    if (QLabel* marker = cell(column, row).marker) {
        marker->hide();
    }
}

void TileBoard::placeThumbnail(int column, int row, const QImage& tile, const QString& fileName) {
    Cell& c = cell(column, row);
    if (!c.thumbnail) {
        c.thumbnail = new QLabel(m_panel);
        c.thumbnail->setObjectName(QStringLiteral("thumbnail%1_%2").arg(column).arg(row));
        c.thumbnail->setGeometry(CellRect(column, row));
    }
    // Scaled once here: a 57-pixel picture per cell instead of a whole tile.
    c.thumbnail->setPixmap(QPixmap::fromImage(
        tile.scaled(kCellSize, kCellSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    c.thumbnail->setToolTip(fileName);
    c.thumbnail->show();
}

template <typename F> void TileBoard::forFetched(const DownloadJob& job, F f) {
    const int rows = std::clamp(job.tilesDown, 0, kMaxTiles);
    const int columns = std::clamp(job.tilesAcross, 0, kMaxTiles);
    for (int row = 1; row <= rows; ++row) {
        for (int column = 1; column <= columns; ++column) {
            if (job.tile(column, row).fetched) {
                f(cell(column, row));
            }
        }
    }
}

void TileBoard::showMarkers(const DownloadJob& job) {
    forFetched(job, [](Cell& c) {
        if (c.marker) {
            c.marker->show();
            c.marker->raise();
        }
        if (c.thumbnail) {
            c.thumbnail->hide();
        }
    });
}

void TileBoard::showThumbnails(const DownloadJob& job) {
    forFetched(job, [](Cell& c) {
        if (c.marker) {
            c.marker->hide();
        }
        if (c.thumbnail) {
            c.thumbnail->show();
        }
    });
}

QLabel* TileBoard::marker(int column, int row) const {
    return cell(column, row).marker;
}

QLabel* TileBoard::thumbnail(int column, int row) const {
    return cell(column, row).thumbnail;
}
