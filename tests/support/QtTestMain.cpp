// main() for widget tests: one QApplication for the whole run, destroyed
// before Qt's own statics go away. Widgets are checked offscreen, also when
// the build lists the tests without ctest's environment.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
