// The three ways a field becomes a number.
#pragma once

#include <cstdint>
#include <string_view>

namespace fennick {

// Drops blanks (spaces and tabs) at both ends.
std::string_view trimBlanks(std::string_view text);

// The whole field as a decimal number: optional blanks around it, an optional
// sign, digits with an optional fraction, an optional exponent. Anything else,
// the empty text included, is a type mismatch; a magnitude beyond double is an
// overflow.
double parseNumber(std::string_view text);

// The leading decimal number of a field (after leading blanks), 0 when the
// field does not begin with one. Never a type mismatch.
double leadingNumber(std::string_view text);

// The whole field as a 32-bit signed integer: parsed as parseNumber, then
// rounded to the nearest whole number with halves to even. Outside the range
// is an overflow.
std::int32_t parseInt32(std::string_view text);

}  // namespace fennick
