// Deleting the tile files of a grid by their stored names.
#include "mosaic/TileCleanup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write("x");
}

// A grid with its names stored as a run stores them.
DownloadJob Grid(int across, int down) {
    DownloadJob job;
    job.tilesAcross = across;
    job.tilesDown = down;
    for (int row = 1; row <= down; ++row) {
        for (int column = 1; column <= across; ++column) {
            job.tile(column, row).fileName = TileFileName(job, column, row);
        }
    }
    return job;
}

class TileCleanup : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString prefix() const { return PathPrefix(m_dir.path()); }
    QStringList left() const {
        return QDir(m_dir.path())
            .entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }
    QTemporaryDir m_dir;
};

TEST_F(TileCleanup, ThreeByTwoGridInGridOrderAndNothingElse) {
    const QStringList names{"A01.jpg", "A02.jpg", "A03.jpg",    "A04.jpg",    "B01.jpg", "B02.jpg",
                            "B03.jpg", "C01.jpg", "Prueba.bmp", "Prueba.map", "A01.jpg1"};
    for (const QString& n : names) {
        Touch(m_dir.filePath(n));
    }
    const QStringList removed = DeleteTileFiles(Grid(3, 2), prefix());
    QStringList expected;
    for (const char* n : {"A01.jpg", "A02.jpg", "A03.jpg", "B01.jpg", "B02.jpg", "B03.jpg"}) {
        expected << prefix() + QLatin1String(n);
    }
    EXPECT_EQ(removed, expected);
    EXPECT_EQ(left(), (QStringList{"A01.jpg1", "A04.jpg", "C01.jpg", "Prueba.bmp", "Prueba.map"}));
}

TEST_F(TileCleanup, MissingFilesAreSkipped) {
    Touch(m_dir.filePath(QStringLiteral("B02.jpg")));
    EXPECT_EQ(DeleteTileFiles(Grid(2, 2), prefix()), QStringList{prefix() + "B02.jpg"});
    EXPECT_TRUE(left().isEmpty());
}

TEST_F(TileCleanup, UsesStoredNamesNotRebuiltOnes) {
    DownloadJob job = Grid(1, 1);
    job.tile(1, 1).fileName = QStringLiteral("other.jpg");
    Touch(m_dir.filePath(QStringLiteral("A01.jpg")));
    Touch(m_dir.filePath(QStringLiteral("other.jpg")));
    EXPECT_EQ(DeleteTileFiles(job, prefix()), QStringList{prefix() + "other.jpg"});
    EXPECT_EQ(left(), QStringList{"A01.jpg"});
}

TEST_F(TileCleanup, CellsWithoutNameAndDirectoriesAreLeftAlone) {
    DownloadJob job = Grid(2, 1);
    job.tile(2, 1).fileName.clear(); // the prefix alone names the folder itself
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("A01.jpg")));
    EXPECT_TRUE(DeleteTileFiles(job, prefix()).isEmpty());
    EXPECT_EQ(left(), QStringList{"A01.jpg"});
    EXPECT_TRUE(QFileInfo(m_dir.path()).isDir());
}

TEST_F(TileCleanup, OutOfRangeGridSizesStayInsideTheTable) {
    DownloadJob job = Grid(10, 10);
    Touch(m_dir.filePath(QStringLiteral("J10.jpg")));
    job.tilesAcross = 11; // not reachable through the window; must not throw
    job.tilesDown = 12;
    EXPECT_EQ(DeleteTileFiles(job, prefix()), QStringList{prefix() + "J10.jpg"});
    job.tilesAcross = -1;
    EXPECT_TRUE(DeleteTileFiles(job, prefix()).isEmpty());
}

} // namespace
