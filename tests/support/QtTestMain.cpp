// Test entry point: a real application object, so that widgets, timers and the
// network stack work inside the tests. Windows are drawn offscreen.
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Every test has a cache folder of its own, empty when it starts, which the programs it
// starts share: what one test measures never reaches another's estimates, and no test
// reads or writes the user's own cache. The folders go once the application has gone,
// which waits for what is still being written into them.
class FreshCacheFolder : public ::testing::EmptyTestEventListener {
public:
    explicit FreshCacheFolder(const QString& root) : m_root(root) {}
    void OnTestStart(const ::testing::TestInfo&) override {
        const QString folder = m_root.filePath(QString::number(++m_tests));
        QDir().mkpath(folder);
        qputenv("XDG_CACHE_HOME", folder.toLocal8Bit());
    }

private:
    QDir m_root;
    int m_tests = 0;
};

} // namespace

int main(int argc, char** argv) {
    // Before the first thread: the disks the tests mount are seen by all of them.
    PrivateMounts();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QTemporaryDir caches;
    qputenv("XDG_CACHE_HOME", caches.path().toLocal8Bit());
    int status = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        ::testing::UnitTest::GetInstance()->listeners().Append(new FreshCacheFolder(caches.path()));
        status = RUN_ALL_TESTS();
    }
    return status;
}
