// The window program as this build made it, put into a test's AppDir, and
// the shell words that start a program the way a scheduler does under a
// frozen clock. Each test target that runs the window program defines
// FENNICK_BINARY as its path.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/temp_dir.h"

namespace fennick::test {

#ifdef FENNICK_BINARY
inline constexpr const char* kWindowProgram = FENNICK_BINARY;
#else
inline constexpr const char* kWindowProgram = nullptr;  // built without Qt
#endif

// The window's library, which the build puts beside the program.
inline constexpr const char* kWindowLibraryName = "libfennick_window.so";

// The program file copied into `appDir`, which is where it finds its files,
// and beside it the window's library unless `withWindow` is false.
inline std::filesystem::path installProgram(const TempDir& appDir, bool withWindow = true) {
    if (!kWindowProgram)
        throw std::logic_error("built without the window program");
    const auto program = appDir.file("fennick");
    std::filesystem::copy_file(kWindowProgram, program);
    if (withWindow) {
        std::filesystem::copy_file(
            std::filesystem::path(kWindowProgram).parent_path() / kWindowLibraryName,
            appDir.file(kWindowLibraryName));
    }
    return program;
}

// The start of a shell command that runs as a scheduler does: no display and
// no chosen platform, the zone UTC. A sanitizer build must allow the frozen
// clock's preloaded library.
inline constexpr const char* kAsScheduled =
    "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
    "TZ=UTC ASAN_OPTIONS=verify_asan_link_order=0 ";

// Shell words put right before a program so that it sees the clock stand at
// `clock` ("YYYY-MM-DD HH:MM:SS" in the zone TZ names). They preload
// libfaketime as the faketime command does, without that command: it names
// a semaphore after its own process id and leaves it behind when a signal
// ends it, and a later faketime that gets the same id fails to start.
inline std::string frozenAt(const std::string& clock) {
    return "env LD_PRELOAD='/usr/$LIB/faketime/libfaketime.so.1' FAKETIME='" + clock + "' ";
}

// Whether frozenAt() stops the clock on this machine (Debian package
// faketime).
inline bool clockFreezes() {
    const std::string check = "test \"$(TZ=UTC " + frozenAt("2001-02-03 04:05:06") +
                              "date +%s 2>/dev/null)\" = 981173106";
    return std::system(check.c_str()) == 0;
}

}  // namespace fennick::test
