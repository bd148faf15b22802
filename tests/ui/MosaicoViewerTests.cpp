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

    // What a run leaves after a 3 x 2 grid, with the cells of `failed` failed.
    void RunThreeByTwo(const QList<QPoint>& failed = {}) {
        m_host.job.tilesAcross = 3;
        m_host.job.tilesDown = 2;
        for (int row = 1; row <= 2; ++row) {
            for (int column = 1; column <= 3; ++column) {
                m_host.board.markWaiting(column, row, TileLabel(m_host.job, column, row));
            }
        }
        for (int row = 1; row <= 2; ++row) {
            for (int column = 1; column <= 3; ++column) {
                TileRequest& tile = m_host.job.tile(column, row);
                tile.fileName = TileFileName(m_host.job, column, row);
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

TEST_F(Viewer, WindowControls) {
    EXPECT_EQ(m_viewer.windowTitle(), QStringLiteral("Mosaico"));
    auto* close = m_viewer.findChild<QPushButton*>(QStringLiteral("BitBtn1"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), QStringLiteral("&Cerrar"));
    EXPECT_TRUE(close->font().bold());
    EXPECT_EQ(close->geometry(), QRect(576, 520, 75, 25));
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Mosaico"));
    EXPECT_TRUE(m_toggle->font().bold());
    EXPECT_EQ(m_toggle->geometry(), QRect(576, 416, 75, 25));
    EXPECT_EQ(m_viewer.pMosaico()->objectName(), QStringLiteral("pMosaico"));
    EXPECT_EQ(m_viewer.pMosaico()->geometry(), QRect(0, 0, 566, 565));
    EXPECT_FALSE(m_viewer.markersShown());
}

TEST_F(Viewer, CloseButtonEndsTheShowing) {
    m_viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_viewer));
    QTest::mouseClick(m_viewer.findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    EXPECT_FALSE(m_viewer.isVisible());
}

// Cells 57 x 57 at a pitch of 56 from (2, 2): neighbours overlap by one pixel and the
// last cell ends at 562.
struct CellCase {
    int column;
    int row;
    QRect rect;
};

class CellPlaces : public ::testing::TestWithParam<CellCase> {};

TEST_P(CellPlaces, PitchAndSize) {
    EXPECT_EQ(TileBoard::CellRect(GetParam().column, GetParam().row), GetParam().rect);
}

INSTANTIATE_TEST_SUITE_P(Board, CellPlaces,
                         ::testing::Values(CellCase{1, 1, {2, 2, 57, 57}},
                                           CellCase{2, 1, {58, 2, 57, 57}},
                                           CellCase{1, 2, {2, 58, 57, 57}},
                                           CellCase{3, 2, {114, 58, 57, 57}},
                                           CellCase{10, 10, {506, 506, 57, 57}}));

TEST_F(Viewer, BuiltBoardIsEmpty) {
    int markers = 0;
    for (int column = 1; column <= 10; ++column) {
        for (int row = 1; row <= 10; ++row) {
            QLabel* marker = m_host.board.marker(column, row);
            ASSERT_NE(marker, nullptr);
            EXPECT_EQ(marker->parentWidget(), m_viewer.pMosaico());
            EXPECT_EQ(marker->geometry(), TileBoard::CellRect(column, row));
            EXPECT_TRUE(marker->isHidden());
            EXPECT_EQ(m_host.board.thumbnail(column, row), nullptr);
            ++markers;
        }
    }
    EXPECT_EQ(markers, 100);
    // Nothing but the panel's own background.
    const QColor background = Shown(5, 5);
    EXPECT_FALSE(Near(background, TileBoard::WaitingColour()));
}

TEST_F(Viewer, MarkerStepsOfARun) {
    m_viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_viewer));
    m_host.board.markWaiting(2, 1, QStringLiteral("A02"));
    QLabel* marker = m_host.board.marker(2, 1);
    EXPECT_TRUE(marker->isVisible());
    EXPECT_EQ(marker->text(), QStringLiteral("A02"));
    EXPECT_TRUE(marker->font().bold());
    EXPECT_EQ(marker->frameShadow(), QFrame::Raised);
    EXPECT_TRUE(Near(Shown(2, 1), QColor(255, 0, 0)));

    m_host.board.markFetched(2, 1);
    EXPECT_FALSE(marker->isVisible());
    EXPECT_EQ(marker->palette().color(QPalette::Window), QColor(0, 255, 0));

    m_host.board.markFailed(2, 1, QStringLiteral("HTTP 503"));
    EXPECT_TRUE(marker->isVisible());
    EXPECT_EQ(marker->toolTip(), QStringLiteral("HTTP 503"));
    EXPECT_TRUE(Near(Shown(2, 1), QColor(255, 0, 0)));
    m_viewer.hide();
}

TEST_F(Viewer, ThreeByTwoRunShowsSixThumbnailsTopLeft) {
    RunThreeByTwo();
    m_viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_viewer));
    for (int column = 1; column <= 10; ++column) {
        for (int row = 1; row <= 10; ++row) {
            QLabel* thumb = m_host.board.thumbnail(column, row);
            if (column <= 3 && row <= 2) {
                ASSERT_NE(thumb, nullptr);
                EXPECT_TRUE(thumb->isVisible());
                EXPECT_EQ(thumb->geometry(), TileBoard::CellRect(column, row));
                EXPECT_EQ(thumb->toolTip(), TileFileName(m_host.job, column, row));
                EXPECT_EQ(thumb->pixmap().size(), QSize(57, 57));
                EXPECT_TRUE(Near(Shown(column, row), TileColour(column, row)))
                    << column << "," << row;
            } else {
                EXPECT_EQ(thumb, nullptr) << column << "," << row;
            }
            EXPECT_FALSE(m_host.board.marker(column, row)->isVisible());
        }
    }
    EXPECT_EQ(m_host.board.thumbnail(3, 2)->toolTip(), QStringLiteral("B03.jpg"));
    m_viewer.hide();
}

TEST_F(Viewer, ToggleSwitchesBetweenMarkersAndThumbnails) {
    RunThreeByTwo({QPoint(2, 2)});
    m_viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_viewer));

    QTest::mouseClick(m_toggle, Qt::LeftButton);
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Imagen"));
    EXPECT_TRUE(m_viewer.markersShown());
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            QLabel* marker = m_host.board.marker(column, row);
            EXPECT_TRUE(marker->isVisible()) << column << "," << row;
            EXPECT_EQ(marker->text(), TileLabel(m_host.job, column, row));
            const QColor expected = column == 2 && row == 2 ? QColor(255, 0, 0) : QColor(0, 255, 0);
            EXPECT_TRUE(Near(Shown(column, row), expected)) << column << "," << row;
        }
    }
    EXPECT_FALSE(m_host.board.thumbnail(1, 1)->isVisible());

    QTest::mouseClick(m_toggle, Qt::LeftButton);
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Mosaico"));
    EXPECT_FALSE(m_viewer.markersShown());
    EXPECT_TRUE(m_host.board.thumbnail(1, 1)->isVisible());
    EXPECT_FALSE(m_host.board.marker(1, 1)->isVisible());
    EXPECT_TRUE(Near(Shown(1, 1), TileColour(1, 1)));
    // The failed tile keeps its red marker in both views.
    EXPECT_TRUE(m_host.board.marker(2, 2)->isVisible());
    EXPECT_TRUE(Near(Shown(2, 2), QColor(255, 0, 0)));
    m_viewer.hide();
}

TEST_F(Viewer, DeleteOptionDisablesToggleForGood) {
    RunThreeByTwo();
    m_host.deleteTiles = true;
    m_viewer.show();
    EXPECT_FALSE(m_toggle->isEnabled());
    m_viewer.hide();
    m_host.deleteTiles = false;
    m_viewer.show();
    EXPECT_FALSE(m_toggle->isEnabled());
    // Thumbnails remain although the files would be gone.
    EXPECT_TRUE(m_host.board.thumbnail(3, 2)->isVisible());
    m_viewer.hide();
}

TEST_F(Viewer, PressWhileDeleteOptionOnOnlyDisables) {
    RunThreeByTwo();
    m_viewer.show();
    ASSERT_TRUE(m_toggle->isEnabled());
    m_host.deleteTiles = true;
    QTest::mouseClick(m_toggle, Qt::LeftButton);
    EXPECT_FALSE(m_toggle->isEnabled());
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Mosaico"));
    EXPECT_FALSE(m_viewer.markersShown());
    EXPECT_FALSE(m_host.board.marker(1, 1)->isVisible());
    m_viewer.hide();
}

TEST_F(Viewer, FreeEmptiesTheBoardAndRebuildKeepsTheToggle) {
    RunThreeByTwo();
    QTest::mouseClick(m_toggle, Qt::LeftButton);
    ASSERT_EQ(m_toggle->text(), QStringLiteral("Imagen"));
    m_host.board.free();
    EXPECT_TRUE(m_viewer.pMosaico()->findChildren<QLabel*>().isEmpty());
    EXPECT_EQ(m_host.board.marker(1, 1), nullptr);
    m_host.board.build();
    EXPECT_EQ(m_viewer.pMosaico()->findChildren<QLabel*>().size(), 100);
    EXPECT_EQ(m_toggle->text(), QStringLiteral("Imagen"));
    EXPECT_TRUE(m_viewer.markersShown());
}

TEST(TileBoardAlone, WithoutPanelNothingIsMadeAndStepsAreHarmless) {
    TileBoard board;
    board.build();
    EXPECT_EQ(board.marker(1, 1), nullptr);
    board.markWaiting(1, 1, QStringLiteral("A01"));
    board.markFailed(1, 1, QStringLiteral("x"));
    DownloadJob job;
    board.showMarkers(job);
}

TEST(TileBoardAlone, PanelDestroyedFirstLeavesNoDanglingCells) {
    TileBoard board;
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
