#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // The tests never need a screen; listing them at build time runs this
    // too, where no environment from ctest applies.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
