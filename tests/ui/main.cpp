#include <gtest/gtest.h>

#include <QApplication>

#include "UiTestSupport.h"

int main(int argc, char** argv) {
    // No screen is needed, and listing the tests at build time runs this too,
    // where ctest's environment does not apply.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
