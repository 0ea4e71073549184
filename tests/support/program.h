// The window program as this build made it, put into a test's AppDir. Each
// test target that runs it defines FENNICK_BINARY as its path.
#pragma once

#include <filesystem>
#include <stdexcept>

#include "support/temp_dir.h"

namespace fennick::test {

#ifdef FENNICK_BINARY
inline constexpr const char* kWindowProgram = FENNICK_BINARY;
#else
inline constexpr const char* kWindowProgram = nullptr;  // built without Qt
#endif

// The program file copied into `appDir`, which is where it finds its files.
inline std::filesystem::path installProgram(const TempDir& appDir) {
    if (!kWindowProgram)
        throw std::logic_error("built without the window program");
    const auto program = appDir.file("fennick");
    std::filesystem::copy_file(kWindowProgram, program);
    return program;
}

}  // namespace fennick::test
