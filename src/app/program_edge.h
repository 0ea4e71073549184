// The edge of the window program: what its command line asks for, where
// its own folder is, and how a failure reaches someone who is not watching.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace fennick {

// The switch of the unattended run.
inline constexpr const char* kUnattendedSwitch = "-q";

// True only for exactly one argument that is exactly "-q": "-Q", "/q", "-q "
// and "-q" followed by anything else all mean the interactive run.
bool isUnattended(const std::vector<std::string>& arguments);

// A failed run as nobody watching it learns of it: "fennick: <message>" on
// standard error, word for word as fennick-cli prints it.
void printFailure(const char* message);

// The directory that holds the running program file; `argv0` is the fallback
// where the system cannot say.
std::filesystem::path programDir(const char* argv0);

}  // namespace fennick
