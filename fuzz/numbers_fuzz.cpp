// The number conversions on arbitrary field text, checked against a regular
// expression for what a number is, against strtod and against each other; then the texts built from
// their results (the date text of a dump time and the duration text) read back to the same number.
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "common/numbers.h"
#include "common/report_time.h"
#include "pipeline/time_string.h"
#include "support/expected.h"
#include "support/scratch.h"

namespace fennick::fuzz {
namespace {

bool blank(char c) {
    return c == ' ' || c == '\t';
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the decimal number at the start of `text`: sign, digits with an
// optional fraction (at least one digit in all), exponent only when it has
// digits; 0 when there is none. Told by a regular expression, a way of its
// own, so that the scanner under test is not checked against itself.
std::size_t decimalLength(std::string_view text) {
    static const std::regex kNumber(R"(^[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_search(text.begin(), text.end(), match, kNumber))
        return 0;
    return static_cast<std::size_t>(match.length(0));
}

struct Reading {
    double value = 0;
    bool tooLarge = false;
};

// What the C library makes of a text that decimalLength() accepted whole.
// Underflow counts as 0: a dump time is whole seconds.
Reading cLibrary(std::string_view number) {
    const std::string copy(number);
    const double value = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(value))
        return {0, true};
    return {std::fabs(value) < 1e-300 ? 0.0 : value, false};
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool sameNumber(double seen, double expected) {
    return seen == expected || (std::fabs(seen) < 1e-300 && expected == 0);
}

std::string shown(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// Whole-field conversion; returns the value when the text is a number.
std::optional<double> checkParseNumber(std::string_view text) {
    const std::string_view number = trimmed(text);
    const bool grammatical = !number.empty() && decimalLength(number) == number.size();
    try {
        const double value = parseNumber(text);
        expect(grammatical, "parseNumber accepted a text that is not a number");
        const Reading reading = cLibrary(number);
        expect(!reading.tooLarge, "parseNumber accepted a number beyond double", shown(value));
        expect(sameNumber(value, reading.value), "parseNumber disagrees with strtod",
               shown(value) + " vs " + shown(reading.value));
        // What is written back in shortest form reads the same.
        expect(parseNumber(shown(value)) == value, "parseNumber does not round-trip", shown(value));
        return value;
    } catch (const Failure& failure) {
        if (!grammatical) {
            expect(failure.kind() == FailureKind::TypeMismatch,
                   "a text that is not a number must be a type mismatch", failure.what());
        } else {
            expect(failure.kind() == FailureKind::Overflow && cLibrary(number).tooLarge,
                   "a number failed other than by being beyond double", failure.what());
        }
        return std::nullopt;
    }
}

std::optional<double> checkLeadingNumber(std::string_view text) {
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    const std::size_t length = decimalLength(text);
    const Reading reading = length == 0 ? Reading{} : cLibrary(text.substr(0, length));
    try {
        const double value = leadingNumber(text);
        expect(!reading.tooLarge, "leadingNumber accepted a number beyond double");
        expect(sameNumber(value, reading.value), "leadingNumber disagrees with strtod",
               shown(value) + " vs " + shown(reading.value));
        return value;
    } catch (const Failure& failure) {
        expect(failure.kind() == FailureKind::Overflow && reading.tooLarge,
               "leadingNumber may only fail on a number beyond double", failure.what());
        return std::nullopt;
    }
}

void checkInt32(std::string_view text, std::optional<double> number) {
    try {
        const std::int32_t value = parseInt32(text);
        expect(number.has_value(), "parseInt32 accepted what parseNumber refused");
        expect(value == std::nearbyint(*number), "parseInt32 rounds differently",
               std::to_string(value) + " from " + shown(*number));
        expectSame("duration text", expectDuration(value), TimeString(value));
    } catch (const Failure& failure) {
        if (number) {
            const double rounded = std::nearbyint(*number);
            expect(failure.kind() == FailureKind::Overflow &&
                       (rounded < -2147483648.0 || rounded > 2147483647.0),
                   "parseInt32 refused a number inside the 32-bit range", failure.what());
        }
    }
}

int digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        expect(digit(text[i]), "date text has a non-digit where a digit belongs", text);
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "MM/DD/YYYY HH:mm:ss", or the date alone at midnight, read back to seconds.
void checkDateText(double epochSeconds) {
    using namespace std::chrono;
    const auto dayOne = [](int y) {
        return static_cast<double>(local_days{year{y} / 1 / 1}.time_since_epoch().count()) * 86400;
    };
    const double local = std::nearbyint(epochSeconds) + 28800.0;
    const bool inRange = local >= dayOne(100) && local < dayOne(10000);
    std::string text;
    try {
        text = reportZoneText(epochSeconds);
    } catch (const Failure& failure) {
        expect(!inRange && failure.kind() == FailureKind::Overflow,
               "date text failed for a time inside the years 100 to 9999", failure.what());
        return;
    }
    expect(inRange, "date text accepted a time outside the years 100 to 9999", text);
    expect(text.size() == 10 || text.size() == 19, "date text has the wrong length", text);
    expect(text[2] == '/' && text[5] == '/', "date text separators", text);
    const year_month_day date{year{digitsAt(text, 6, 4)},
                              month{static_cast<unsigned>(digitsAt(text, 0, 2))},
                              day{static_cast<unsigned>(digitsAt(text, 3, 2))}};
    expect(date.ok(), "date text is no calendar date", text);
    long long seconds = local_days{date}.time_since_epoch().count() * 86400LL;
    if (text.size() == 19) {
        expect(text[10] == ' ' && text[13] == ':' && text[16] == ':', "time separators", text);
        const int h = digitsAt(text, 11, 2), m = digitsAt(text, 14, 2), s = digitsAt(text, 17, 2);
        expect(h < 24 && m < 60 && s < 60, "time of day out of range", text);
        expect(h + m + s > 0, "midnight must be written as the date alone", text);
        seconds += h * 3600LL + m * 60LL + s;
    }
    expect(static_cast<double>(seconds) == local, "date text does not read back to its time",
           text + " for " + shown(epochSeconds));
}

}  // namespace
}  // namespace fennick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fennick::fuzz;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The expression recurses once a character; a longer field is only run.
    if (size > 256) {
        try {
            fennick::parseNumber(text);
        } catch (const fennick::Failure&) {
        }
        try {
            fennick::leadingNumber(text);
            fennick::parseInt32(text);
        } catch (const fennick::Failure&) {
        }
        return 0;
    }
    const std::optional<double> number = checkParseNumber(text);
    checkInt32(text, number);
    if (const std::optional<double> leading = checkLeadingNumber(text))
        checkDateText(*leading);
    return 0;
}
