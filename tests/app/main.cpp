// The widgets need one QApplication for the whole test run.
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char* argv[]) {
    // Also for test discovery, which runs outside CTest's environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
