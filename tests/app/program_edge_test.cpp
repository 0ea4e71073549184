#include "app/program_edge.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fennick {
namespace {

TEST(IsUnattended, OnlyExactlyOneDashQ) {
    struct Case {
        std::vector<std::string> arguments;
        bool unattended;
    } const cases[] = {
        {{"-q"}, true},   {{"-Q"}, false},      {{"/q"}, false},      {{"-q "}, false},
        {{" -q"}, false}, {{"-q", "x"}, false}, {{"x", "-q"}, false}, {{"-q", "-q"}, false},
        {{}, false},      {{""}, false},        {{"-qq"}, false},     {{"q"}, false},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& argument : c.arguments)
            shown += '|' + argument;
        EXPECT_EQ(isUnattended(c.arguments), c.unattended) << shown;
    }
}

TEST(ProgramDir, IsTheDirectoryOfTheRunningProgram) {
    const auto dir = programDir("ignored");
    EXPECT_TRUE(dir.is_absolute()) << dir;
    EXPECT_TRUE(std::filesystem::exists(dir / "app_tests")) << dir;
}

}  // namespace
}  // namespace fennick
