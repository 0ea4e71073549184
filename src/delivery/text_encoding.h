// Text of the 8-bit inputs on its way into UTF-8 outputs (mail, JSON,
// metrics): a field is UTF-8 when it is valid UTF-8, and windows-1252
// otherwise, as nobody records which one the backup server wrote.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fennick {

// The length of the UTF-8 sequence that starts at `at` (1 to 4), or 0 when
// the bytes there are not one: a stray continuation byte, a truncated
// sequence, an overlong form, a surrogate or a value above U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);
bool isValidUtf8(std::string_view text);

// `text` itself when it is valid UTF-8 (ASCII included); otherwise read as
// windows-1252, whose five unassigned bytes become U+FFFD.
std::string asUtf8(std::string_view text);

}  // namespace fennick
