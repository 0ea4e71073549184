#include <gtest/gtest.h>
#include <QByteArray>
#include <chrono>
#include <ctime>

#include "qt_print.h"

#include "app/date_picker.h"

namespace fennick::app {
namespace {

using namespace std::chrono;

// Puts the machine in a zone with daylight-saving time for one test.
class ZoneScope {
  public:
    explicit ZoneScope(const char* zone)
        : had_(qEnvironmentVariableIsSet("TZ")), old_(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope() {
        if (had_) {
            qputenv("TZ", old_);
        } else {
            qunsetenv("TZ");
        }
        tzset();
    }

  private:
    bool had_;
    QByteArray old_;
};

TEST(DatePicker, HoldsCivilDateTimesToTheSecond) {
    const LocalTime values[] = {
        local_days{2026y / 12 / 5} + 2h + 15min + 7s,
        local_days{1601y / 1 / 1},
        local_days{9999y / 12 / 31} + 23h + 59min + 59s,
        local_days{1969y / 12 / 31} + 23h + 59min + 59s,
        local_days{2024y / 2 / 29} + 12h,
    };
    DatePicker picker;
    for (const LocalTime value : values) {
        picker.setValue(value);
        EXPECT_EQ(picker.Value(), value) << value.time_since_epoch().count();
    }
}

TEST(DatePicker, ValueInADaylightSavingGapIsKept) {
    // 02:30 does not exist in Berlin on 29 March 2026; a picker value is no
    // zone time, so it must still be stored and read back unchanged.
    ZoneScope berlin("Europe/Berlin");
    const LocalTime inGap = local_days{2026y / 3 / 29} + 2h + 30min;
    DatePicker picker;
    picker.setValue(inGap);
    EXPECT_EQ(picker.Value(), inGap);
    picker.setDisplayFormatMode(DatePicker::kCustomDisplay);
    picker.setCustomFormat("HH:mm:ss");
    EXPECT_EQ(picker.text(), "02:30:00");
}

TEST(DatePicker, ValuesOutsideTheRangeAreHeldAtItsEnds) {
    DatePicker picker;
    picker.setValue(local_days{1600y / 12 / 31} + 23h);
    EXPECT_EQ(picker.Value(), local_days{1601y / 1 / 1});
    picker.setValue(local_days{10000y / 1 / 1} + 1h);
    EXPECT_EQ(picker.Value(), local_days{9999y / 12 / 31} + 23h + 59min + 59s);
}

TEST(DatePicker, DisplaysTheDateUntilACustomFormatIsOn) {
    DatePicker picker;
    picker.setValue(local_days{2026y / 12 / 5} + 8h + 5min + 9s);
    EXPECT_EQ(picker.text(), "12/05/2026");
    picker.setDisplayFormatMode(DatePicker::kCustomDisplay);
    EXPECT_EQ(picker.text(), "12/05/2026");  // no pattern yet
    picker.setCustomFormat("HH:mm:ss");
    EXPECT_EQ(picker.text(), "08:05:09");
    picker.setDisplayFormatMode(DatePicker::kDateDisplay);
    EXPECT_EQ(picker.text(), "12/05/2026");
    EXPECT_EQ(picker.Value(), local_days{2026y / 12 / 5} + 8h + 5min + 9s);
}

TEST(DatePicker, ClockDisplayStillTakesAnotherDate) {
    DatePicker picker;
    picker.setValue(local_days{2026y / 12 / 5});
    picker.setDisplayFormatMode(DatePicker::kCustomDisplay);
    picker.setCustomFormat("HH:mm:ss");
    picker.setValue(local_days{2026y / 12 / 3} + 23h);
    EXPECT_EQ(picker.Value(), local_days{2026y / 12 / 3} + 23h);
    EXPECT_EQ(picker.text(), "23:00:00");
}

}  // namespace
}  // namespace fennick::app
