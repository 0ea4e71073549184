#include <gtest/gtest.h>
#include <QLineEdit>
#include <chrono>

#include <optional>
#include "qt_print.h"

#include "app/date_picker.h"
#include "app/form1.h"
#include "app/start_up.h"
#include "app_inputs.h"
#include "common/failure.h"
#include "support/temp_dir.h"

namespace fennick::app {
namespace {

using namespace std::chrono;
using test::TempDir;

using test::fixedNow;
using test::kNow;

std::optional<Failure> failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& failure) {
        return failure;
    }
    return std::nullopt;
}

TEST(FirstJobId, IsTheTextBeforeTheFirstComma) {
    struct Case {
        const char* dump;
        const char* id;
    } const cases[] = {
        {"4711,0,0,3\r\n", "4711"},
        {",x\r\n", ""},
        {"12,a,b", "12"},  // no final line end
        {"7,\r\nnot a job line at all\r\n\r\n", "7"},
        {"\xE9t\xE9,1\n", "\xE9t\xE9"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("bpdbjobs.txt", c.dump);
        EXPECT_EQ(firstJobId(dir.path()), c.id) << c.dump;
    }
}

TEST(FirstJobId, FailsWithTheKindOfItsBadDump) {
    struct Case {
        const char* name;
        std::optional<std::string> dump;  // nullopt: no file at all
        FailureKind kind;
        long line;
    } const cases[] = {
        {"missing", std::nullopt, FailureKind::FileNotFound, Failure::kNoLine},
        {"empty", "", FailureKind::InputPastEnd, 1},
        {"no comma", "4711\r\n5,6\r\n", FailureKind::InvalidArgument, 1},
        {"empty first line", "\r\n4711,0\r\n", FailureKind::InvalidArgument, 1},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (c.dump)
            dir.write("bpdbjobs.txt", *c.dump);
        const auto failure = failureOf([&] { firstJobId(dir.path()); });
        ASSERT_TRUE(failure) << c.name;
        EXPECT_EQ(failure->kind(), c.kind) << c.name;
        EXPECT_EQ(failure->file(), "bpdbjobs.txt") << c.name;
        EXPECT_EQ(failure->line(), c.line) << c.name;
    }
}

TEST(FirstJobId, NoCommaMessageSaysWhatWasWrong) {
    TempDir dir;
    dir.write("bpdbjobs.txt", "4711\r\n");
    const auto failure = failureOf([&] { firstJobId(dir.path()); });
    ASSERT_TRUE(failure);
    EXPECT_STREQ(failure->what(),
                 "Invalid argument: bpdbjobs.txt line 1 the first line holds no comma");
}

TEST(IsUnattended, OnlyExactlyOneDashQ) {
    struct Case {
        QStringList arguments;
        bool unattended;
    } const cases[] = {
        {{"-q"}, true},   {{"-Q"}, false},      {{"/q"}, false},      {{"-q "}, false},
        {{" -q"}, false}, {{"-q", "x"}, false}, {{"x", "-q"}, false}, {{"-q", "-q"}, false},
        {{}, false},      {{""}, false},        {{"-qq"}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isUnattended(c.arguments), c.unattended) << c.arguments.join('|').toStdString();
    }
}

TEST(FormLoad, FillsText1AndGivesTheTimePickersTheirClockDisplay) {
    TempDir dir;
    dir.write("bpdbjobs.txt", "4711,x,y\r\n");
    Form1 form(dir.path(), fixedNow);
    EXPECT_FALSE(form.Form_Load({}));

    EXPECT_EQ(form.findChild<QLineEdit*>("Text1")->text(), "4711");
    for (const char* name : {"tp1", "tp2"}) {
        auto* picker = form.findChild<DatePicker*>(name);
        EXPECT_EQ(picker->displayFormatMode(), DatePicker::kCustomDisplay) << name;
        EXPECT_EQ(picker->displayFormat(), "HH:mm:ss") << name;
        EXPECT_EQ(picker->text(), "02:15:00") << name;
        // The clock display must not narrow the range to one day.
        EXPECT_EQ(picker->minimumDate(), QDate(1601, 1, 1)) << name;
        EXPECT_EQ(picker->maximumDate(), QDate(9999, 12, 31)) << name;
    }
    for (const char* name : {"dp1", "dp2"}) {
        auto* picker = form.findChild<DatePicker*>(name);
        EXPECT_EQ(picker->displayFormatMode(), DatePicker::kDateDisplay) << name;
        EXPECT_EQ(picker->text(), "12/05/2026") << name;
    }
}

TEST(FormLoad, InteractiveStartLeavesTheDatePickersAndWritesNothing) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    Form1 form(dir.path(), fixedNow);
    EXPECT_FALSE(form.Form_Load({"-q", "x"}));
    EXPECT_EQ(form.findChild<DatePicker*>("dp1")->Value(), kNow);
    EXPECT_EQ(form.findChild<DatePicker*>("dp2")->Value(), kNow);
    EXPECT_FALSE(dir.exists("out.txt"));
    EXPECT_EQ(form.reportingWindow().StartEpoch, 0);
}

TEST(FormLoad, UnattendedRunCoversThePreviousDayAndWritesEveryFile) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    Form1 form(dir.path(), fixedNow);
    EXPECT_TRUE(form.Form_Load({"-q"}));

    EXPECT_EQ(form.findChild<DatePicker*>("dp1")->Value(), local_days{2026y / 12 / 4} + 2h + 15min);
    EXPECT_EQ(form.findChild<DatePicker*>("dp2")->Value(), kNow);
    // The time pickers keep the moment of start-up, so the window is the 24
    // hours before it.
    EXPECT_EQ(form.reportingWindow().StartEpoch,
              static_cast<double>(test::epochOf(local_days{2026y / 12 / 4} + 2h + 15min)));
    EXPECT_EQ(form.reportingWindow().EndEpoch, static_cast<double>(test::epochOf(kNow)));
    EXPECT_NE(dir.read("out.txt").find("PolA"), std::string::npos);
    EXPECT_NE(dir.read("out2.txt").find("PolB"), std::string::npos);
    EXPECT_NE(dir.read("out1.txt").find("PolC,Not Found"), std::string::npos);
    EXPECT_NE(dir.read("report_05-12-26.html").find("Backup Report"), std::string::npos);
}

TEST(FormLoad, BadDumpStopsBeforeTheUnattendedRunStarts) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    dir.write("bpdbjobs.txt", "no comma here\r\n");
    Form1 form(dir.path(), fixedNow);
    const auto failure = failureOf([&] { form.Form_Load({"-q"}); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::InvalidArgument);
    EXPECT_FALSE(dir.exists("out.txt"));
    EXPECT_EQ(form.reportingWindow().EndEpoch, 0);
}

TEST(UnattendedPickers, DatesADayApartEndingNowAtTheTimesOfCreation) {
    const LocalTime created = kNow - 3s;
    const Pickers pickers = unattendedPickers(created, fixedNow);
    EXPECT_EQ(pickers.dp1, local_days{2026y / 12 / 4} + 2h + 15min);
    EXPECT_EQ(pickers.dp2, kNow);
    EXPECT_EQ(pickers.tp1, created);
    EXPECT_EQ(pickers.tp2, created);
    // Across the end of a month and a leap day.
    const Pickers march = unattendedPickers(created, [] { return local_days{2028y / 3 / 1} + 1h; });
    EXPECT_EQ(march.dp1, local_days{2028y / 2 / 29} + 1h);
}

// Without a window, the same run as the window's own "-q" start-up.
TEST(RunUnattended, WritesWhatTheWindowsUnattendedRunWrites) {
    TempDir headless;
    TempDir windowed;
    for (const TempDir* dir : {&headless, &windowed})
        test::writeInputs(*dir, local_days{2026y / 12 / 4} + 10h);

    const Window window = runUnattended(headless.path(), fixedNow);
    Form1 form(windowed.path(), fixedNow);
    ASSERT_TRUE(form.Form_Load({"-q"}));

    EXPECT_EQ(window.StartEpoch, form.reportingWindow().StartEpoch);
    EXPECT_EQ(window.EndEpoch, form.reportingWindow().EndEpoch);
    for (const char* name : {"out.txt", "out2.txt", "out1.txt", "report_05-12-26.html"}) {
        EXPECT_TRUE(headless.exists(name)) << name;
        EXPECT_EQ(headless.read(name), windowed.read(name)) << name;
    }
}

TEST(RunUnattended, DumpWithoutAFirstIdStopsBeforeAnyFileIsWritten) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    dir.write("bpdbjobs.txt", "\r\n" + dir.read("bpdbjobs.txt"));
    const auto failure = failureOf([&] { runUnattended(dir.path(), fixedNow); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::InvalidArgument);
    EXPECT_FALSE(dir.exists("out.txt"));
}

TEST(ProgramDir, IsTheDirectoryOfTheRunningProgram) {
    const auto dir = programDir("ignored");
    EXPECT_TRUE(dir.is_absolute()) << dir;
    EXPECT_TRUE(std::filesystem::exists(dir / "app_tests")) << dir;
}

}  // namespace
}  // namespace fennick::app
