// Entry of every test program: each test process gets its own temporary root and an offscreen
// QApplication; the fixed pauses of the program are shortened to nothing.
#include "platform/paths.h"
#include "base/delay.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("LC_TIME", "C", 1);

    char pattern[] = "/tmp/vyr-test-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root) {
        perror("mkdtemp");
        return 2;
    }
    setenv("VYR_ROOT", root, 1);
    platform::Paths::setRoot(root);
    Delay::setScalePercent(0);

    int result;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (!getenv("VYR_KEEP_ROOT"))
        QDir(QString::fromLocal8Bit(root)).removeRecursively();
    return result;
}
