#pragma once

#include "job/DownloadJob.h"

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QString>

#include <array>

class QLabel;
class QWidget;

// The viewer's 10 x 10 board of tile cells. The main window owns it; the cells are
// shown on the viewer's panel. Each cell has a marker (a raised panel with the tile label
// as caption: red while its tile waits, green once fetched, dark red with a cross and the
// reason as hint after it failed) and a thumbnail (the tile scaled to the cell, with the
// file name as hint) that is not on the board until its tile arrives.
class TileBoard {
public:
    static constexpr int kCellSize = 57;
    static constexpr int kCellPitch = 56; // neighbouring cells overlap by one pixel
    static constexpr int kCellOffset = 2;

    TileBoard() = default;
    ~TileBoard();
    TileBoard(const TileBoard&) = delete;
    TileBoard& operator=(const TileBoard&) = delete;

    // Place of a cell inside the panel; column and row from 1.
    static QRect CellRect(int column, int row);
    static QColor WaitingColour() { return QColor(255, 0, 0); }
    static QColor FetchedColour() { return QColor(0, 255, 0); }
    static QColor FailedColour() { return QColor(128, 0, 0); }

    // The panel that holds the cells; set before build().
    void setPanel(QWidget* panel) { m_panel = panel; }
    QWidget* panel() const { return m_panel; }

    // Creates the 100 markers, hidden, and no thumbnail; columns first, rows within.
    void build();
    // Destroys every marker and thumbnail, which takes them off the panel.
    void free();

    // The run's steps on one cell.
    void markWaiting(int column, int row, const QString& label);
    void markFetched(int column, int row);
    void markFailed(int column, int row, const QString& reason);
    void hideMarker(int column, int row);
    void placeThumbnail(int column, int row, const QImage& tile, const QString& fileName);

    // For the cells of the job's grid whose tile was fetched: the markers in place of the
    // thumbnails, or the other way round. Other cells are not touched.
    void showMarkers(const DownloadJob& job);
    void showThumbnails(const DownloadJob& job);

    QLabel* marker(int column, int row) const;
    QLabel* thumbnail(int column, int row) const;

private:
    struct Cell {
        QPointer<QLabel> marker;
        QPointer<QLabel> thumbnail;
    };
    Cell& cell(int column, int row);
    const Cell& cell(int column, int row) const;
    template <typename F> void forFetched(const DownloadJob& job, F f);

    QPointer<QWidget> m_panel;
    std::array<std::array<Cell, kMaxTiles>, kMaxTiles> m_cells{};
};
