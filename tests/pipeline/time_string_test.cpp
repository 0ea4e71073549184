#include "pipeline/time_string.h"

#include <gtest/gtest.h>

#include <climits>

namespace fennick {
namespace {

struct Case {
    std::int32_t seconds;
    const char* text;
};

TEST(TimeString, SplitsHoursMinutesAndSecondsForEveryKindOfArgument) {
    const Case cases[] = {
        {0, "0:00.00"},
        {9, "0:00.09"},
        {59, "0:00.59"},
        {60, "0:01.00"},
        {3599, "0:59.59"},
        {3600, "1:00.00"},
        {3661, "1:01.01"},
        {86399, "23:59.59"},
        {86400, "24:00.00"},
        {90061, "25:01.01"},
        {INT32_MAX, "596523:14.07"},
        // Hours go toward minus infinity, minutes stay 0..59, the seconds
        // part keeps the argument's sign.
        {-1, "-1:59.-01"},
        {-59, "-1:59.-59"},
        {-60, "-1:59.00"},
        {-3600, "-1:00.00"},
        {-3661, "-2:58.-01"},
        {INT32_MIN, "-596524:45.-08"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimeString(c.seconds), c.text) << c.seconds;
    }
}

}  // namespace
}  // namespace fennick
