// Finds the window's library beside the program file and its entry in it.
#pragma once

#include <filesystem>
#include <string>

#include "app/window_entry.h"

namespace fennick::app {

// The entry of the window library in `programDir`, never one found through
// the working directory or LD_LIBRARY_PATH. On failure `entry` is null and
// `error` says in one line what is wrong (a missing file, a broken library,
// a missing toolkit library).
struct LoadedWindow {
    WindowMain entry = nullptr;
    std::string error;
};
LoadedWindow loadWindow(const std::filesystem::path& programDir);

}  // namespace fennick::app
