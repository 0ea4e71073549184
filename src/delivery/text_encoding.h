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

// What a reader is shown of `text`: asUtf8's characters, but each control
// character as a visible stand-in, so that a CR cannot break a table's line
// nor an ESC reach a terminal: U+0000 to U+001F and U+007F as their pictures
// ("\r" as U+240D, ESC as U+241B, DEL as U+2421), U+0080 to U+009F of UTF-8
// text, which have none, as U+FFFD. When that is longer than `most` bytes it
// is cut between two characters to at most `most` and ends in "…". Reads
// all of `text` once, to tell its encoding, but converts no more than it
// keeps.
std::string shownUtf8(std::string_view text, std::size_t most = std::string_view::npos);

}  // namespace fennick
