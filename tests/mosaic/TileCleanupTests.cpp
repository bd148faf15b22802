// Deleting the tile files of a grid by their stored names.
#include "mosaic/TileCleanup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

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
    void Touch(const QStringList& names) const {
        for (const QString& name : names) {
            QFile f(m_dir.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
        }
    }
    QStringList Paths(const QStringList& names) const {
        QStringList out;
        for (const QString& name : names) {
            out << PathPrefix(m_dir.path()) + name;
        }
        return out;
    }
    QStringList Left() const {
        return QDir(m_dir.path())
            .entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }
    QTemporaryDir m_dir;
};

// Missing files (A02) are skipped; other files, even with tile-like names, stay.
TEST_F(TileCleanup, GridFilesInGridOrderAndNothingElse) {
    Touch({"A01.jpg", "A03.jpg", "A04.jpg", "B01.jpg", "B02.jpg", "B03.jpg", "C01.jpg",
           "Prueba.bmp", "Prueba.map", "A01.jpg1"});
    EXPECT_EQ(DeleteTileFiles(Grid(3, 2), PathPrefix(m_dir.path())),
              Paths({"A01.jpg", "A03.jpg", "B01.jpg", "B02.jpg", "B03.jpg"}));
    EXPECT_EQ(Left(), (QStringList{"A01.jpg1", "A04.jpg", "C01.jpg", "Prueba.bmp", "Prueba.map"}));
}

// A cell without a name would make the prefix alone name the folder itself.
TEST_F(TileCleanup, StoredNamesOnlyAndNeverADirectory) {
    DownloadJob job = Grid(3, 1);
    job.tile(2, 1).fileName = QStringLiteral("other.jpg");
    job.tile(3, 1).fileName.clear();
    Touch({"A02.jpg", "other.jpg"});
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("A01.jpg")));
    EXPECT_EQ(DeleteTileFiles(job, PathPrefix(m_dir.path())), Paths({"other.jpg"}));
    EXPECT_EQ(Left(), (QStringList{"A01.jpg", "A02.jpg"}));
    EXPECT_TRUE(QFileInfo(m_dir.path()).isDir());
}

} // namespace
