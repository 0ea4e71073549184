// The program's edge: the unattended run, or the window from its own library.
// It links no toolkit, so the unattended run starts without loading one.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/program_edge.h"
#include "app/window_loader.h"
#include "run/unattended.h"

namespace {

bool isEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
}

// True when nothing says where a window could be shown.
bool noDisplay() {
    return isEmpty("DISPLAY") && isEmpty("WAYLAND_DISPLAY") &&
           std::getenv("QT_QPA_PLATFORM") == nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The argument text as it came, before the toolkit takes its own options.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // AppDir is where the program file lies, not where it was started from,
    // so a scheduler may start it from anywhere.
    const std::filesystem::path appDir = fennick::programDir(argv[0]);
    if (fennick::isUnattended(arguments)) {
        // The window would never be shown, so the unattended run builds none
        // and needs no display, not even one that DISPLAY names but that has
        // gone away. Nobody watches it: failures go to stderr.
        try {
            fennick::runUnattended(appDir, fennick::localNow);
            return 0;
        } catch (const std::exception& failure) {
            fennick::printFailure(failure.what());
            return 1;
        }
    }
    if (noDisplay()) {
        // The toolkit would abort with a core dump; say what is missing instead.
        std::fprintf(stderr,
                     "fennick: no display for the window (DISPLAY and WAYLAND_DISPLAY are not "
                     "set); use -q for the unattended run\n");
        return 1;
    }
    const fennick::app::LoadedWindow window = fennick::app::loadWindow(appDir);
    if (window.entry == nullptr) {
        std::fprintf(stderr,
                     "fennick: the window cannot be loaded: %s; use -q for the unattended run\n",
                     window.error.c_str());
        return 1;
    }
    return window.entry(&argc, argv, appDir.c_str());
}
