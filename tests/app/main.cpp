// The widgets need one QApplication for the whole test run.
#include <gtest/gtest.h>
#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char* argv[]) {
    // Also for test discovery, which runs outside CTest's environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without a login session (CI, a container) the toolkit finds no
    // XDG_RUNTIME_DIR and warns about it in this process and in every window
    // program the tests start; a private folder like a session's keeps the
    // output to what the tests say.
    std::string runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        std::string pattern = (std::filesystem::temp_directory_path() / "fennick-runtime-XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr) {  // made with mode 0700
            runtimeDir = pattern;
            ::setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        }
    }
    int status = 0;
    {
        QApplication application(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    if (!runtimeDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(runtimeDir, ignored);
    }
    return status;
}
