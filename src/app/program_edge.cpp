#include "app/program_edge.h"

#include <cstdio>
#include <system_error>

namespace fennick {

bool isUnattended(const std::vector<std::string>& arguments) {
    return arguments.size() == 1 && arguments.front() == kUnattendedSwitch;
}

void printFailure(const char* message) {
    std::fprintf(stderr, "fennick: %s\n", message);
}

std::filesystem::path programDir(const char* argv0) {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        return program.parent_path();
    return std::filesystem::absolute(argv0).parent_path();
}

}  // namespace fennick
