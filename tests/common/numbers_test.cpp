#include "common/numbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <locale>
#include <optional>
#include <stdexcept>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/report_time.h"

namespace fennick {
namespace {

using test::failureOf;

struct Converted {
    const char* text;
    double value;
};

struct Rejected {
    const char* text;
    FailureKind kind;
};

TEST(ParseNumber, AcceptsDecimalNumbersWithBlanksAroundThem) {
    const Converted cases[] = {
        {"1", 1},
        {" 1 ", 1},
        {"+1", 1},
        {"-1", -1},
        {"1.5", 1.5},
        {".5", 0.5},
        {"-.5", -0.5},
        {"1.", 1},
        {"1e3", 1000},
        {"1E-2", 0.01},
        {"1e+3", 1000},
        {"\t7\t", 7},
        {"007", 7},
        {"1700000000", 1700000000},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"1e-400", 0},  // too small for double: zero, not a failure
        // Beyond double in the text's digits, but not in its value.
        {"0.00001e309", 1e304},
        {"1000e-326", 1e-323},
        {"123456789e300", 123456789e300},
        // Too small, however the digits stand before the exponent.
        {"10000e-328", 0},
        {"0.0001e-320", 0},
        {"-1e-99999999999999999999", 0},
        {"0e99999999999999999999", 0},
    };
    for (const Converted& c : cases) {
        double value = std::nan("");
        EXPECT_NO_THROW(value = parseNumber(c.text)) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
}

// Plain digit strings take a shorter road than other numbers; both must give
// the same double, on both sides of the 15 digits that a double holds exactly.
TEST(ParseNumber, PlainDigitsGiveWhatTheGeneralConversionGives) {
    std::string digits;
    for (int length = 1; length <= 24; ++length) {
        digits += static_cast<char>('0' + (length * 7 + 3) % 10);
        for (const std::string& text : {digits, std::string(length, '9'), "0" + digits}) {
            SCOPED_TRACE(text);
            const double general = parseNumber(text + "e0");  // not plain digits
            EXPECT_EQ(parseNumber(text), general);
            EXPECT_EQ(parseNumber(" " + text + "\t"), general);
            EXPECT_EQ(leadingNumber(text), general);
            EXPECT_EQ(leadingNumber(text + "x"), general);
            EXPECT_EQ(leadingNumber("  " + text), general);
        }
    }
}

TEST(ParseNumber, RejectsAnythingButAWholeNumber) {
    const Rejected cases[] = {
        {"", FailureKind::TypeMismatch},
        {" ", FailureKind::TypeMismatch},
        {"\t", FailureKind::TypeMismatch},
        {"1a", FailureKind::TypeMismatch},
        {"a1", FailureKind::TypeMismatch},
        {"1 2", FailureKind::TypeMismatch},
        {"--1", FailureKind::TypeMismatch},
        {"+-1", FailureKind::TypeMismatch},
        {"+ 1", FailureKind::TypeMismatch},
        {"0x10", FailureKind::TypeMismatch},
        {"inf", FailureKind::TypeMismatch},
        {"-infinity", FailureKind::TypeMismatch},
        {"nan", FailureKind::TypeMismatch},
        {"1e", FailureKind::TypeMismatch},
        {"1e+", FailureKind::TypeMismatch},
        {"e3", FailureKind::TypeMismatch},
        {".", FailureKind::TypeMismatch},
        {"1.2.3", FailureKind::TypeMismatch},
        {"1,5", FailureKind::TypeMismatch},
        {"1\r", FailureKind::TypeMismatch},  // only spaces and tabs are blanks
        {"1e400", FailureKind::Overflow},
        {"-1e400", FailureKind::Overflow},
        {"1.8e308", FailureKind::Overflow},
        {"0.1e310", FailureKind::Overflow},
        {"999e306", FailureKind::Overflow},
        {"000123456789e301", FailureKind::Overflow},
        {"1e99999999999999999999", FailureKind::Overflow},
    };
    for (const Rejected& c : cases) {
        const auto failure = failureOf([&] { parseNumber(c.text); });
        ASSERT_TRUE(failure) << '"' << c.text << '"';
        EXPECT_EQ(failure->kind(), c.kind) << '"' << c.text << '"';
    }
}

TEST(ParseNumber, FailureQuotesTheFieldAsGiven) {
    const auto failure = failureOf([] { parseNumber(" 1x "); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->detail(), "is not a number (\" 1x \")");
}

TEST(LeadingNumber, TakesTheNumberAtTheStartAndZeroWhenThereIsNone) {
    const Converted cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {" ", 0},
        {" 7x", 7},
        {"\t7", 7},
        {"-3.5z", -3.5},
        {"1e5x", 100000},
        {"1ex", 1},
        {"1e+x", 1},
        {"1E-1,", 0.1},
        {"+", 0},
        {"-", 0},
        {".", 0},
        {".5.", 0.5},
        {"1.2.3", 1.2},
        {"0x1F", 0},
        {"x12", 0},
        {"1700000000", 1700000000},
    };
    for (const Converted& c : cases) {
        double value = std::nan("");
        EXPECT_NO_THROW(value = leadingNumber(c.text)) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
}

TEST(LeadingNumber, NumberBeyondDoubleIsOverflowNotInfinity) {
    const auto failure = failureOf([] { leadingNumber("1e400x"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::Overflow);
}

TEST(ParseInt32, RoundsHalvesToEvenAndChecksTheRange) {
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"0", 0},
        {"28", 28},
        {" 5 ", 5},
        {"0.5", 0},
        {"1.5", 2},
        {"2.5", 2},
        {"3.5", 4},
        {"-0.5", 0},
        {"-1.5", -2},
        {"-2.5", -2},
        {"2.4999", 2},
        {"2.5001", 3},
        {"1e3", 1000},
        {"2147483647", 2147483647},
        {"2147483646.5", 2147483646},
        {"-2147483648", INT32_MIN},
        {"-2147483648.5", INT32_MIN},  // the half goes to the even neighbour, inside the range
    };
    for (const Case& c : cases) {
        std::int32_t value = -1;
        EXPECT_NO_THROW(value = parseInt32(c.text)) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
}

TEST(ParseInt32, RejectsTextAndNumbersOutsideTheRange) {
    const Rejected cases[] = {
        {"2147483647.5", FailureKind::Overflow}, {"2147483648", FailureKind::Overflow},
        {"-2147483649", FailureKind::Overflow},  {"-2147483648.51", FailureKind::Overflow},
        {"1e10", FailureKind::Overflow},         {"1e400", FailureKind::Overflow},
        {"abc", FailureKind::TypeMismatch},      {"", FailureKind::TypeMismatch},
        {"1.5x", FailureKind::TypeMismatch},
    };
    for (const Rejected& c : cases) {
        const auto failure = failureOf([&] { parseInt32(c.text); });
        ASSERT_TRUE(failure) << '"' << c.text << '"';
        EXPECT_EQ(failure->kind(), c.kind) << '"' << c.text << '"';
    }
}

// The window sets the C locale from the environment. Under a German one,
// whose decimal point is a comma, the C library read "1.5e999" as 1 and so
// took an overflow for a harmless underflow.
class GermanLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        savedC_ = std::setlocale(LC_ALL, nullptr);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
            GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
        try {
            savedGlobal_ = std::locale::global(std::locale("de_DE.UTF-8"));
        } catch (const std::runtime_error&) {
            std::setlocale(LC_ALL, savedC_.c_str());
            GTEST_SKIP() << "no C++ locale de_DE.UTF-8";
        }
        ASSERT_EQ(*std::localeconv()->decimal_point, ',');
    }
    void TearDown() override {
        if (savedGlobal_)
            std::locale::global(*savedGlobal_);
        std::setlocale(LC_ALL, savedC_.c_str());
    }

  private:
    std::string savedC_;
    std::optional<std::locale> savedGlobal_;
};

TEST_F(GermanLocale, NumbersReadAsInEveryOtherLocale) {
    const Converted parsed[] = {
        {"1.5", 1.5},          {" -2.25 ", -2.25},
        {"1e3", 1000},         {".5", 0.5},
        {"1.5e-999", 0},       {"1e-400", 0},
        {"1700000000", 1.7e9}, {"12345678901234567.5", 12345678901234567.5},
    };
    for (const Converted& c : parsed) {
        double value = std::nan("");
        EXPECT_NO_THROW(value = parseNumber(c.text)) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
    const Rejected rejected[] = {
        {"1.5e999", FailureKind::Overflow},
        {"-1.5e999", FailureKind::Overflow},
        {"1,5", FailureKind::TypeMismatch},
    };
    for (const Rejected& c : rejected) {
        const auto failure = failureOf([&] { parseNumber(c.text); });
        ASSERT_TRUE(failure) << '"' << c.text << '"';
        EXPECT_EQ(failure->kind(), c.kind) << '"' << c.text << '"';
    }
    EXPECT_EQ(leadingNumber("1.5x"), 1.5);
    EXPECT_EQ(leadingNumber("1,5"), 1);
    EXPECT_EQ(leadingNumber("2.5e-999,"), 0);
    const auto leadingOverflow = failureOf([] { leadingNumber("1.5e999,"); });
    ASSERT_TRUE(leadingOverflow);
    EXPECT_EQ(leadingOverflow->kind(), FailureKind::Overflow);
    EXPECT_EQ(parseInt32("2.5"), 2);
    EXPECT_EQ(parseInt32("3.5"), 4);
    const auto intOverflow = failureOf([] { parseInt32("1.5e999"); });
    ASSERT_TRUE(intOverflow);
    EXPECT_EQ(intOverflow->kind(), FailureKind::Overflow);
    // The date text built from a number keeps its one form, too.
    EXPECT_EQ(reportZoneText(parseNumber("1.5e3")), "01/01/1970 08:25:00");
}

TEST(TrimBlanks, DropsSpacesAndTabsAtBothEndsOnly) {
    EXPECT_EQ(trimBlanks(" \t a b \t "), "a b");
    EXPECT_EQ(trimBlanks("  "), "");
    EXPECT_EQ(trimBlanks("\r1\n"), "\r1\n");
}

}  // namespace
}  // namespace fennick
