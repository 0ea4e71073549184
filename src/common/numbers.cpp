#include "common/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "common/failure.h"

namespace fennick {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the longest decimal number at the start of `text` (sign, digits,
// fraction, exponent); 0 when there is none.
std::size_t numberPrefix(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            i = j;
        }
    }
    return i;
}

// Whole numbers of up to 15 digits are exact in a double: the common case of
// times, sizes and counts takes this path instead of the general conversion,
// with the same result.
constexpr std::size_t kExactDigits = 15;

bool allDigits(std::string_view text) {
    for (const char c : text) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

double digitsValue(std::string_view digits) {
    std::uint64_t value = 0;
    for (const char c : digits)
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    return static_cast<double>(value);
}

std::string quoted(std::string_view text) {
    return "(" + quotedText(text) + ")";
}

// Whether an unsigned number that from_chars found out of range is too large
// rather than too small: out of range with a magnitude of 1 or more can only
// be beyond double, below 1 only beneath its smallest step. Decided from the
// place of the leading significant digit plus the exponent, as strtod would
// follow the C locale's decimal point and misread "1.5e999" under a comma.
bool beyondDouble(std::string_view number) {
    // Past any place that matters, and far enough below the limit of long long
    // that one more digit cannot overflow it.
    constexpr long long kFar = 1LL << 50;
    const auto clamped = [](std::size_t count) {
        return static_cast<long long>(std::min<std::size_t>(count, kFar));
    };
    std::size_t i = 0;
    while (i < number.size() && number[i] == '0')
        ++i;
    const std::size_t wholeStart = i;
    while (i < number.size() && isDigit(number[i]))
        ++i;
    long long place = clamped(i - wholeStart) - 1;  // 0 for units, -1 for tenths
    if (i < number.size() && number[i] == '.')
        ++i;
    if (place < 0) {
        const std::size_t zerosStart = i;
        while (i < number.size() && number[i] == '0')
            ++i;
        place = -clamped(i - zerosStart) - 1;
    }
    while (i < number.size() && number[i] != 'e' && number[i] != 'E')
        ++i;
    long long exponent = 0;
    if (i < number.size()) {
        ++i;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '+' || number[i] == '-'))
            ++i;
        for (; i < number.size(); ++i)
            exponent = std::min(exponent * 10 + (number[i] - '0'), kFar);
        if (negative)
            exponent = -exponent;
    }
    return place + exponent >= 0;
}

// Converts a text that numberPrefix() accepted whole.
double convert(std::string_view number, std::string_view original) {
    bool negative = false;
    if (number.front() == '+' || number.front() == '-') {
        negative = number.front() == '-';
        number.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Underflow is harmless (the value is 0 to the second); only a
        // magnitude beyond double is an overflow.
        if (beyondDouble(number)) {
            throw Failure(FailureKind::Overflow, "is too large " + quoted(original));
        }
        value = 0;
    } else if (error != std::errc() || end != number.data() + number.size()) {
        throw Failure(FailureKind::TypeMismatch, "is not a number " + quoted(original));
    }
    return negative ? -value : value;
}

}  // namespace

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

double parseNumber(std::string_view text) {
    const std::string_view number = trimBlanks(text);
    if (!number.empty() && number.size() <= kExactDigits && allDigits(number))
        return digitsValue(number);
    if (number.empty() || numberPrefix(number) != number.size()) {
        throw Failure(FailureKind::TypeMismatch, "is not a number " + quoted(text));
    }
    return convert(number, text);
}

double leadingNumber(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    if (!text.empty() && text.size() <= kExactDigits && allDigits(text))
        return digitsValue(text);
    const std::size_t length = numberPrefix(text);
    return length == 0 ? 0.0 : convert(text.substr(0, length), text);
}

std::int32_t parseInt32(std::string_view text) {
    const double rounded = std::nearbyint(parseNumber(text));  // halves to even
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        throw Failure(FailureKind::Overflow, "is outside the 32-bit range " + quoted(text));
    }
    return static_cast<std::int32_t>(rounded);
}

}  // namespace fennick
