// The measures kept between sessions: in the cache folder of the test (never the user's),
// added to by whoever writes, read back as written, and a file that is not ours taken for
// none and replaced by one that is.
#include "run/MeasureStore.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

const QString kServer = QStringLiteral("http://maps.test");

RunMeasures OneAnswer(double ms) {
    RunMeasures m;
    m.addAnswerTime(kServer, ms);
    return m;
}

TEST(MeasureStore, InTheCacheFolderAddedToAndReadBack) {
    const QString path = MeasureStore::Path();
    // Each test has a cache folder of its own, under the system's temporary folder.
    ASSERT_TRUE(path.startsWith(qEnvironmentVariable("XDG_CACHE_HOME") + u'/'))
        << path.toStdString();
    EXPECT_TRUE(MeasureStore::Load().isEmpty());

    ASSERT_TRUE(MeasureStore::Add(OneAnswer(100)));
    ASSERT_TRUE(MeasureStore::Add(OneAnswer(200)));
    EXPECT_DOUBLE_EQ(*MeasureStore::Load().answerMs(kServer), 150.0);
    // Written whole under another name first: nothing but the file is left in the folder.
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QFileInfo(path).fileName()});

    // On the store's thread, in the order asked: a read after an addition sees it.
    MeasureStore::AddLater(OneAnswer(300));
    QFutureWatcher<RunMeasures> watcher;
    QSignalSpy done(&watcher, &QFutureWatcher<RunMeasures>::finished);
    watcher.setFuture(MeasureStore::LoadLater());
    ASSERT_TRUE(done.wait(10000));
    EXPECT_DOUBLE_EQ(*watcher.result().answerMs(kServer), 200.0);
}

TEST(MeasureStore, AFileThatIsNotOneIsTakenForNoneAndReplaced) {
    const QString path = MeasureStore::Path();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    const QByteArray notOurs[] = {"garbage \x01\xff", R"({"formato": "otro"})",
                                  QByteArray(2 * 1024 * 1024, ' ')};
    for (const QByteArray& bytes : notOurs) {
        WriteAll(path, bytes);
        EXPECT_TRUE(MeasureStore::Load().isEmpty());
        ASSERT_TRUE(MeasureStore::Add(OneAnswer(80)));
        EXPECT_DOUBLE_EQ(*MeasureStore::Load().answerMs(kServer), 80.0);
    }
    // A folder under the name: nothing read, nothing written, and no crash.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkdir(path));
    EXPECT_TRUE(MeasureStore::Load().isEmpty());
    QString error;
    EXPECT_FALSE(MeasureStore::Add(OneAnswer(80), path, &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
