// The file of a folder saved whole, which replaces what stands at its name rather than
// writing through it, and keeps what the user made read-only.
#include "filebase/ReplacingFile.h"
#include "job/WriteError.h"

#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <iterator>

namespace {

// Saves "new" at `path`; the reason when it cannot.
bool SaveNew(ReplacingFile& file, QString* error) {
    return file.open(error) && file.device().write("new") == 3 && file.commit(error);
}

// Whatever stands at the name is replaced, never written through: a link to a file, to a
// folder or to nothing goes and what it named stays as it was; a file's permissions carry
// over; a folder is refused. No temporary file is left either way.
TEST(ReplacingFileTest, ReplacesWhatStandsAtTheNameWithoutWritingThroughIt) {
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    WriteAll(elsewhere.filePath("victim"), "victim");
    ASSERT_TRUE(QDir(elsewhere.path()).mkdir("folder"));
    const std::map<QString, QByteArray> untouched = FolderSnapshot(elsewhere.path());
    const auto linkTo = [&](const char* target) {
        return [&, target](const QString& p) {
            ASSERT_TRUE(QFile::link(elsewhere.filePath(target), p));
        };
    };
    constexpr auto kPrivate =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    const struct {
        const char* name;
        std::function<void(const QString&)> plant;
        bool link; // replaced a link; false with `plant` a folder means refused
    } table[] = {
        {"nothing", [](const QString&) {}, false},
        {"file",
         [&](const QString& p) {
             WriteAll(p, "old");
             ASSERT_TRUE(QFile::setPermissions(p, kPrivate));
         },
         false},
        {"link to a file", linkTo("victim"), true},
        {"link to a folder", linkTo("folder"), true},
        {"link to nothing", linkTo("none"), true},
        {"folder", [](const QString& p) { ASSERT_TRUE(QDir().mkdir(p)); }, false},
    };
    for (const auto& row : table) {
        const QString path = dir.filePath(row.name);
        row.plant(path);
        ReplacingFile file(path);
        QString error;
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink()) {
            EXPECT_FALSE(SaveNew(file, &error)) << row.name;
            EXPECT_EQ(error, LocalWriteErrorFor(EISDIR).reason);
            EXPECT_TRUE(QFileInfo(path).isDir());
            continue;
        }
        ASSERT_TRUE(SaveNew(file, &error)) << row.name << ": " << error.toStdString();
        EXPECT_EQ(file.replacedLink(), row.link) << row.name;
        EXPECT_FALSE(QFileInfo(path).isSymLink()) << row.name;
        EXPECT_EQ(ReadAll(path), "new") << row.name;
    }
    EXPECT_EQ(QFileInfo(dir.filePath("file")).permissions(), kPrivate);
    EXPECT_EQ(FolderSnapshot(elsewhere.path()), untouched);
    EXPECT_EQ(FolderSnapshot(dir.path()).size(), std::size(table));
}

// A link put in the file's place while it is written is replaced all the same; a cancel
// leaves what was there.
TEST(ReplacingFileTest, ALinkPlantedMeanwhileIsReplacedAndACancelLeavesNoTrace) {
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    WriteAll(victim, "victim");
    const QString path = dir.filePath("Prueba.map");
    {
        ReplacingFile file(path);
        ASSERT_TRUE(file.open(nullptr));
        ASSERT_TRUE(QFile::link(victim, path));
        ASSERT_EQ(file.device().write("new"), 3);
        ASSERT_TRUE(file.commit(nullptr));
        EXPECT_TRUE(file.replacedLink());
    }
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_EQ(ReadAll(victim), "victim");

    for (const bool sync : {false, true}) {
        ReplacingFile file(path);
        ASSERT_TRUE(file.open(nullptr));
        ASSERT_EQ(file.device().write("lost"), 4);
        ASSERT_TRUE(!sync || file.sync(nullptr));
        file.cancel();
        EXPECT_FALSE(file.commit(nullptr)) << sync;
    }
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList{"Prueba.map"});
}

// A file the user made read-only is not replaced, as QSaveFile refused it.
TEST(ReplacingFileTest, AReadOnlyFileIsKept) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Prueba.map");
    WriteAll(path, "old");
    // Whoever runs the program, root too, whom the system would let write it.
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser));
    ReplacingFile file(path);
    QString error;
    EXPECT_FALSE(SaveNew(file, &error));
    EXPECT_EQ(error, QStringLiteral("el fichero que hay es de solo lectura"));
    EXPECT_EQ(ReadAll(path), "old");
}

} // namespace
