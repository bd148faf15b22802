// The viewer window and its board of tile cells, drawn offscreen.
#include "ui/TileBoard.h"
#include "ui/ufMosaico.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Stands for the main window: owns the board and the job, answers the viewer.
class Host : public MosaicViewerHost {
public:
    bool deleteTilesOption() const override { return deleteTiles; }
    void ShowTileMarkers() override { board.showMarkers(job); }
    void ShowTileThumbnails() override { board.showThumbnails(job); }

    TileBoard board;
    DownloadJob job;
    bool deleteTiles = false;
};

QImage PlainTile(const QColor& colour) {
    QImage tile(400, 400, QImage::Format_RGB888);
    tile.fill(colour);
    return tile;
}

QColor TileColour(int column, int row) {
    return QColor(40 * column, 30 * row, 200);
}

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kFailed = TileBoard::FailedColour();

bool Near(const QColor& a, const QColor& b, int tolerance = 8) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

class Viewer : public ::testing::Test {
protected:
    void SetUp() override {
        m_viewer.setHost(&m_host);
        m_host.board.setPanel(m_viewer.pMosaico());
        m_host.board.build();
        m_toggle = m_viewer.findChild<QPushButton*>(QStringLiteral("btnMosaicos"));
        ASSERT_NE(m_toggle, nullptr);
    }
    void TearDown() override { m_viewer.hide(); }

    // What a run leaves after a 3 x 2 grid, with the cells of `failed` failed; shown.
    void RunThreeByTwo(const QList<QPoint>& failed = {}) {
        m_host.job.tilesAcross = 3;
        m_host.job.tilesDown = 2;
        for (int row = 1; row <= 2; ++row) {
            for (int column = 1; column <= 3; ++column) {
                TileRequest& tile = m_host.job.tile(column, row);
                tile.fileName = TileFileName(m_host.job, column, row);
                m_host.board.markWaiting(column, row, TileLabel(m_host.job, column, row));
                if (failed.contains(QPoint(column, row))) {
                    m_host.board.markFailed(column, row, QStringLiteral("HTTP 503"));
                    continue;
                }
                m_host.board.markFetched(column, row);
                m_host.board.placeThumbnail(column, row, PlainTile(TileColour(column, row)),
                                            tile.fileName);
                tile.fetched = true;
            }
        }
        m_viewer.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_viewer));
    }

    // What the panel shows in a cell, inside its edge and clear of its caption.
    QColor Shown(int column, int row) {
        const QImage shot = m_viewer.pMosaico()->grab().toImage();
        return shot.pixelColor(TileBoard::CellRect(column, row).topLeft() + QPoint(6, 6));
    }

    Host m_host;
    TfMosaico m_viewer;
    QPushButton* m_toggle = nullptr;
};

// Built: a hidden marker in every cell and no thumbnail. Cells are 57 x 57 at a pitch of 56 from
// (2, 2): neighbours overlap by one pixel and the last cell ends at 562.
TEST_F(Viewer, BuiltBoardAndAWaitingTile) {
    for (int column = 1; column <= 10; ++column) {
        for (int row = 1; row <= 10; ++row) {
            QLabel* marker = m_host.board.marker(column, row);
            ASSERT_NE(marker, nullptr);
            EXPECT_EQ(marker->parentWidget(), m_viewer.pMosaico());
            EXPECT_EQ(marker->geometry(), TileBoard::CellRect(column, row));
            EXPECT_TRUE(marker->isHidden());
            EXPECT_EQ(m_host.board.thumbnail(column, row), nullptr);
        }
    }
    EXPECT_EQ(TileBoard::CellRect(1, 1), QRect(2, 2, 57, 57));
    EXPECT_EQ(TileBoard::CellRect(3, 2), QRect(114, 58, 57, 57));
    EXPECT_EQ(TileBoard::CellRect(10, 10), QRect(506, 506, 57, 57));
    // A waiting tile: its red marker with its label.
    m_viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_viewer));
    m_host.board.markWaiting(2, 1, QStringLiteral("A02"));
    EXPECT_TRUE(m_host.board.marker(2, 1)->isVisible());
    EXPECT_EQ(m_host.board.marker(2, 1)->text(), QStringLiteral("A02"));
    EXPECT_TRUE(Near(Shown(2, 1), kRed));
}

// A failed cell is told apart from a waiting one at a glance: dark, with a cross under its
// label, and the reason as hint; a waiting cell stays red with its label alone.
TEST_F(Viewer, AFailedCellIsNotTakenForAWaitingOne) {
    m_viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_viewer));
    m_host.board.markWaiting(1, 1, QStringLiteral("A01"));
    m_host.board.markWaiting(2, 1, QStringLiteral("A02"));
    m_host.board.markFailed(2, 1, QStringLiteral("HTTP 500"));
    EXPECT_TRUE(Near(Shown(1, 1), kRed));
    EXPECT_EQ(m_host.board.marker(1, 1)->text(), QStringLiteral("A01"));
    const QLabel* failed = m_host.board.marker(2, 1);
    EXPECT_TRUE(Near(Shown(2, 1), kFailed));
    EXPECT_FALSE(Near(kFailed, kRed, 100));
    const QStringList lines = failed->text().split(u'\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("A02"));
    EXPECT_FALSE(lines[1].trimmed().isEmpty());
    EXPECT_EQ(failed->toolTip(), QStringLiteral("HTTP 500"));
    // Asked for again (a new run on the same board): waiting as any other.
    m_host.board.markWaiting(2, 1, QStringLiteral("A02"));
    EXPECT_TRUE(Near(Shown(2, 1), kRed));
    EXPECT_EQ(failed->text(), QStringLiteral("A02"));
}

// Thumbnails scaled into their cells with the file name as hint; the toggle swaps them
// for green markers, while a failed tile keeps its failed marker in both views. "Cerrar"
// ends the showing.
TEST_F(Viewer, ToggleSwitchesBetweenThumbnailsAndMarkers) {
    RunThreeByTwo({QPoint(2, 2)});
    for (const QPoint cell : {QPoint(1, 1), QPoint(3, 2)}) {
        QLabel* thumb = m_host.board.thumbnail(cell.x(), cell.y());
        ASSERT_NE(thumb, nullptr);
        EXPECT_EQ(thumb->geometry(), TileBoard::CellRect(cell.x(), cell.y()));
        EXPECT_EQ(thumb->toolTip(), TileFileName(m_host.job, cell.x(), cell.y()));
        EXPECT_EQ(thumb->pixmap().size(), QSize(57, 57));
        EXPECT_TRUE(Near(Shown(cell.x(), cell.y()), TileColour(cell.x(), cell.y())));
    }
    EXPECT_EQ(m_host.board.thumbnail(4, 1), nullptr);
    EXPECT_EQ(m_host.board.marker(2, 2)->toolTip(), QStringLiteral("HTTP 503"));

    QTest::mouseClick(m_toggle, Qt::LeftButton);
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Imagen"));
    EXPECT_TRUE(m_viewer.markersShown());
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            EXPECT_TRUE(m_host.board.marker(column, row)
                            ->text()
                            .startsWith(TileLabel(m_host.job, column, row)));
            EXPECT_TRUE(Near(Shown(column, row), column == 2 && row == 2 ? kFailed : kGreen))
                << column << "," << row;
        }
    }
    EXPECT_FALSE(m_host.board.thumbnail(1, 1)->isVisible());

    QTest::mouseClick(m_toggle, Qt::LeftButton);
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Mosaico"));
    EXPECT_FALSE(m_viewer.markersShown());
    EXPECT_FALSE(m_host.board.marker(1, 1)->isVisible());
    EXPECT_TRUE(Near(Shown(1, 1), TileColour(1, 1)));
    EXPECT_TRUE(Near(Shown(2, 2), kFailed));

    QTest::mouseClick(m_viewer.findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    EXPECT_FALSE(m_viewer.isVisible());
}

// Pressed with the delete option on, the toggle only disables itself, for good.
// The toggle follows the delete option as it stands whenever the viewer is shown: off
// while the option is on, usable again once it is off.
TEST_F(Viewer, DeleteOptionDisablesTheToggleWhileItIsOn) {
    RunThreeByTwo();
    m_host.deleteTiles = true;
    QTest::mouseClick(m_toggle, Qt::LeftButton);
    EXPECT_FALSE(m_toggle->isEnabled());
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Mosaico"));
    EXPECT_FALSE(m_viewer.markersShown());
    EXPECT_FALSE(m_host.board.marker(1, 1)->isVisible());
    m_viewer.hide();
    m_host.deleteTiles = false;
    m_viewer.show();
    EXPECT_TRUE(m_toggle->isEnabled());
    EXPECT_TRUE(m_host.board.thumbnail(3, 2)->isVisible());
    QTest::mouseClick(m_toggle, Qt::LeftButton);
    EXPECT_TRUE(m_host.board.marker(1, 1)->isVisible());
}

// A new board shows thumbnails, so the toggle offers the markers again.
TEST_F(Viewer, ANewBoardResetsTheToggle) {
    RunThreeByTwo();
    QTest::mouseClick(m_toggle, Qt::LeftButton);
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Imagen"));
    m_host.board.free();
    EXPECT_TRUE(m_viewer.pMosaico()->findChildren<QLabel*>().isEmpty());
    EXPECT_EQ(m_host.board.marker(1, 1), nullptr);
    m_host.board.build();
    m_viewer.resetView();
    EXPECT_EQ(m_viewer.pMosaico()->findChildren<QLabel*>().size(), 100);
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Mosaico"));
    EXPECT_FALSE(m_viewer.markersShown());
}

// Without a panel (no viewer) the run's steps do nothing; a panel destroyed first leaves
// no dangling cell behind.
TEST(TileBoardAlone, WithoutOrAfterItsPanelNothingDangles) {
    TileBoard board;
    board.build();
    EXPECT_EQ(board.marker(1, 1), nullptr);
    board.markWaiting(1, 1, QStringLiteral("A01"));
    board.markFailed(1, 1, QStringLiteral("x"));
    board.showMarkers(DownloadJob());
    {
        QFrame panel;
        board.setPanel(&panel);
        board.build();
        board.placeThumbnail(1, 1, PlainTile(Qt::red), QStringLiteral("A01.jpg"));
    }
    EXPECT_EQ(board.marker(1, 1), nullptr);
    EXPECT_EQ(board.thumbnail(1, 1), nullptr);
    board.free();
}

} // namespace
