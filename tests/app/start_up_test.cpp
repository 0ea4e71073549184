// The window's start-up. The unattended run builds no window; its own tests
// are in tests/run.
#include <gtest/gtest.h>
#include <QLineEdit>
#include <chrono>

#include "app/date_picker.h"
#include "app/form1.h"
#include "common/failure.h"
#include "common/failure_of.h"
#include "qt_print.h"
#include "run/unattended.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick::app {
namespace {

using namespace std::chrono;
using test::failureOf;
using test::fixedNow;
using test::kNow;
using test::TempDir;

TEST(FormLoad, FillsText1AndGivesTheTimePickersTheirClockDisplay) {
    TempDir dir;
    dir.write(kDumpFile, "4711,x,y\r\n");
    Form1 form(dir.path(), fixedNow);
    form.Form_Load();

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
    }
    EXPECT_EQ(form.findChild<DatePicker*>("dp2")->text(), "12/05/2026");
}

TEST(FormLoad, LeavesTheDatePickersAndWritesNothing) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    Form1 form(dir.path(), fixedNow);
    const LocalTime startDate = form.findChild<DatePicker*>("dp1")->Value();
    const auto before = dir.snapshot();

    form.Form_Load();

    EXPECT_EQ(form.findChild<DatePicker*>("dp1")->Value(), startDate);
    EXPECT_EQ(form.findChild<DatePicker*>("dp2")->Value(), kNow);
    EXPECT_EQ(dir.snapshot(), before);
    EXPECT_EQ(form.reportingWindow().StartEpoch, 0);
}

TEST(FormLoad, DumpWithoutAFirstIdFailsBeforeTheWindowIsShown) {
    TempDir dir;
    test::writeInputs(dir, local_days{2026y / 12 / 4} + 10h);
    dir.write(kDumpFile, "no comma here\r\n");
    Form1 form(dir.path(), fixedNow);
    const auto failure = failureOf([&] { form.Form_Load(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::InvalidArgument);
    EXPECT_FALSE(dir.exists("out.txt"));
    EXPECT_EQ(form.reportingWindow().EndEpoch, 0);
}

// The unattended run without a window is "Process" on the pickers of the
// day before, with the time pickers as start-up left them.
TEST(RunUnattended, WritesWhatProcessWritesWithTheDayBeforeOnThePickers) {
    TempDir headless;
    TempDir windowed;
    for (const TempDir* dir : {&headless, &windowed})
        test::writeInputs(*dir, local_days{2026y / 12 / 4} + 10h);

    runUnattended(headless.path(), fixedNow);
    Form1 form(windowed.path(), fixedNow);
    form.Form_Load();
    const Pickers lastDay = dayBefore(kNow, kNow);
    form.findChild<DatePicker*>("dp1")->setValue(lastDay.dp1);
    form.findChild<DatePicker*>("dp2")->setValue(lastDay.dp2);
    form.Command1_Click();

    EXPECT_EQ(headless.names(), windowed.names());
    for (const char* name : {"out.txt", "out2.txt", "out1.txt", test::kTodaysPage}) {
        EXPECT_TRUE(headless.exists(name)) << name;
        EXPECT_EQ(headless.read(name), windowed.read(name)) << name;
    }
}

}  // namespace
}  // namespace fennick::app
