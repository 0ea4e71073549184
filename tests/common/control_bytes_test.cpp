#include "common/control_bytes.h"

#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"

namespace fennick {
namespace {

TEST(ControlBytes, AreTheBytesBelowBlankAndDelOnly) {
    using namespace std::string_literals;
    for (const std::string& text : {"\0"s, "\t"s, "\x1F"s, "\x7F"s, "a@b\r\n"s})
        EXPECT_TRUE(hasControlByte(text)) << quotedText(text);
    for (const std::string& text : {""s, " "s, "~"s, "\x80"s, "\xFF"s, "caf\xC3\xA9"s})
        EXPECT_FALSE(hasControlByte(text)) << quotedText(text);
}

}  // namespace
}  // namespace fennick
