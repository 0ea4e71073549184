// The MIME encodings the report mail needs (RFC 2045 and RFC 2047), and the
// choice of charset for text whose code page nobody recorded.
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

// "utf-8" for valid UTF-8 (plain ASCII included), "windows-1252" otherwise:
// the dump's text comes in one of the two, and any byte string is some
// windows-1252 text.
std::string_view charsetOf(std::string_view text);

// Base64 in lines of `lineLength` characters ending in LF; 0 for one line
// without a line end (for encoded words).
std::string base64(std::string_view bytes, std::size_t lineLength = 76);

// Quoted-printable with LF line ends. An LF or CR LF of the input is a line
// break; "=", bytes from 0x80 up, control bytes (a lone CR too) and a blank
// at a line's end are encoded, as is the "F" of a line that starts "From "
// (mail stores that would otherwise quote it). Lines stay within 76
// characters through soft breaks.
std::string quotedPrintable(std::string_view text);

// One header field, folded, ending in LF. Control bytes in `value` become
// escapes ("\r", "\n", "\x01"), so no input can end the field early and add
// a header of its own. Printable ASCII is folded at blanks to keep lines
// within 78 characters where a blank allows; with `encodedWords` any other
// text goes out as RFC 2047 encoded words (base64, charset by charsetOf),
// each at most 75 characters, one per line.
std::string headerField(std::string_view name, std::string_view value, bool encodedWords = true);

}  // namespace fennick
