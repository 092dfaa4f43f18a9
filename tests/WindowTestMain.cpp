// The main of the window tests: one QApplication for every test (on the
// offscreen platform unless QT_QPA_PLATFORM names another), then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
