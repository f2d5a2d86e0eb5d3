#include <gtest/gtest.h>

#include <QApplication>

// Widgets need one application object for the whole run. The views are
// checked offscreen, also when ctest lists the tests without its environment.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
