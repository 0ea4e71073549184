#include "pipeline/time_string.h"

#include <string>

namespace fennick {

namespace {

// Integer division rounded toward minus infinity.
std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

// The "00" pattern: at least two digits, a minus sign before them.
void appendTwoDigits(std::string& out, std::int64_t value) {
    if (value < 0)
        out += '-';
    const std::int64_t magnitude = value < 0 ? -value : value;
    if (magnitude < 10)
        out += '0';
    out += std::to_string(magnitude);
}

}  // namespace

std::string TimeString(std::int32_t seconds) {
    const std::int64_t value = seconds;  // 64 bits: no overflow at the range's ends
    const std::int64_t hours = floorDiv(value, 3600);
    const std::int64_t minutes = floorDiv(value, 60) - 60 * hours;
    const std::int64_t secondsPart = value % 60;  // keeps the argument's sign

    std::string text = std::to_string(hours);
    text += ':';
    appendTwoDigits(text, minutes);
    text += '.';
    appendTwoDigits(text, secondsPart);
    return text;
}

}  // namespace fennick
