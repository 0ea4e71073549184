// The seam between the program and its window: the window, with the toolkit
// it needs, lives in a library of its own that the program loads only when
// it shows the window, so the unattended run never loads the toolkit.
#pragma once

namespace fennick::app {

// The library's file name; it lies beside the program file.
inline constexpr const char* kWindowLibrary = "libfennick_window.so";
// The one symbol the program looks up in it.
inline constexpr const char* kWindowEntry = "fennick_window_main";

// Builds the window over `appDir`, runs its start-up, shows it and returns
// the program's exit status when it closes. Failures are reported here.
using WindowMain = int (*)(int* argc, char** argv, const char* appDir);

}  // namespace fennick::app

extern "C" int fennick_window_main(int* argc, char** argv, const char* appDir);
