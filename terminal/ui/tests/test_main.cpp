// GoogleTest main for the window tests: a QApplication on the offscreen platform, and a
// private settings directory so nothing touches the user's store.

#include "terminal/ui/tests/pty_peer.h"

#include <cstdlib>

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    zelvo::terminal::test::usePrivateSettings();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
