// policy_intervals.txt as an operator may write it: good lines, comments,
// slips that are skipped with the line named, and a policy given twice.
#include "pipeline/policy_intervals.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_stream.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

std::string shown(const PolicyIntervals& read) {
    std::string text;
    for (const auto& [policy, days] : read.intervals)
        text.append(policy).append("=").append(std::to_string(days)).append(" ");
    for (const std::string& warning : read.warnings)
        text.append("[").append(warning).append("] ");
    return text;
}

TEST(PolicyIntervals, LinesAreReadOrSkippedWithTheirNumber) {
    const struct {
        const char* name;
        std::string text;
        std::string read;
    } cases[] = {
        {"weekly and monthly", "Weekly_FS=7\nMonthly_DB=31\n", "Weekly_FS=7 Monthly_DB=31 "},
        {"the edges of the days", "A=1\nB=366\nC=0\nD=367\n",
         "A=1 B=366 [policy_intervals.txt line 3: not POLICY=DAYS (1 to 366), skipped] "
         "[policy_intervals.txt line 4: not POLICY=DAYS (1 to 366), skipped] "},
        {"comments and empty lines", "# every week\n\nW=7\n", "W=7 "},
        {"no digits only", "A=7 \nB= 7\nC=+7\nD=7.0\nE=\n=7\nF\n",
         "[policy_intervals.txt line 1: not POLICY=DAYS (1 to 366), skipped] "
         "[policy_intervals.txt line 2: not POLICY=DAYS (1 to 366), skipped] "
         "[policy_intervals.txt line 3: not POLICY=DAYS (1 to 366), skipped] "
         "[policy_intervals.txt line 4: not POLICY=DAYS (1 to 366), skipped] "
         "[policy_intervals.txt line 5: not POLICY=DAYS (1 to 366), skipped] "
         "[policy_intervals.txt line 6: not POLICY=DAYS (1 to 366), skipped] "
         "[policy_intervals.txt line 7: not POLICY=DAYS (1 to 366), skipped] "},
        {"a name with an equals sign and 8-bit text", "a=b\xE9=14\n", "a=b\xE9=14 "},
        {"a later line sets the days, the first keeps the place", "A=7\nB=2\nA=30\n", "A=30 B=2 "},
        {"CR LF line ends", "A=7\r\nB=14\r\n", "A=7 B=14 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        LineReader lines(test::readingFrom(text), "policy_intervals.txt", false);
        EXPECT_EQ(shown(readPolicyIntervals(lines)), c.read);
    }
}

TEST(PolicyIntervals, NoFileIsNoIntervalsAndAFolderInItsPlaceIsAWarning) {
    const test::TempDir dir;
    EXPECT_EQ(shown(readPolicyIntervals(dir.path())), "");
    std::filesystem::create_directory(dir.file("policy_intervals.txt"));
    const PolicyIntervals read = readPolicyIntervals(dir.path());
    EXPECT_TRUE(read.intervals.empty());
    ASSERT_EQ(read.warnings.size(), 1U);
    EXPECT_NE(read.warnings[0].find("policy_intervals.txt"), std::string::npos) << read.warnings[0];
}

}  // namespace
}  // namespace fennick
