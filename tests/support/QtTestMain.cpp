// Test entry point: a real application object, so that widgets, timers and the
// network stack work inside the tests. Windows are drawn offscreen.
#include "tests/support/TestFiles.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Before the first thread: the disks the tests mount are seen by all of them.
    PrivateMounts();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
