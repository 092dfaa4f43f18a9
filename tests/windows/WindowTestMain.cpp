// The main of the window tests: the program's application for every test
// (on the offscreen platform unless QT_QPA_PLATFORM names another), then
// GoogleTest.
#include <gtest/gtest.h>

#include "platform/desktop/DesktopUi.h"

int main(int argc, char** argv) {
    platform::desktop::DesktopApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
