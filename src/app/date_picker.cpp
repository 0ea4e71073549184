#include "app/date_picker.h"

#include <QDate>
#include <QTime>
#include <chrono>

namespace fennick::app {

namespace {

constexpr const char* kDateDisplayFormat = "MM/dd/yyyy";

// The range every picker accepts.
const QDateTime kMin = toQDateTime(kFirstPickable);
const QDateTime kMax = toQDateTime(kLastPickable);

}  // namespace

QDateTime toQDateTime(LocalTime value) {
    using namespace std::chrono;
    const local_days day = floor<days>(value);
    const year_month_day date{day};
    const hh_mm_ss clock{value - day};
    return QDateTime(
        QDate(static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
              static_cast<int>(unsigned(date.day()))),
        QTime(static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
              static_cast<int>(clock.seconds().count())),
        Qt::UTC);
}

LocalTime toLocalTime(const QDateTime& value) {
    using namespace std::chrono;
    const QDate date = value.date();
    const QTime time = value.time();
    const local_days day{year{date.year()} / month{static_cast<unsigned>(date.month())} /
                         std::chrono::day{static_cast<unsigned>(date.day())}};
    return day + hours{time.hour()} + minutes{time.minute()} + seconds{time.second()};
}

DatePicker::DatePicker(QWidget* parent) : QDateTimeEdit(parent) {
    setTimeSpec(Qt::UTC);
    setCalendarPopup(true);  // only takes effect while a date is displayed
    applyFormat();
}

LocalTime DatePicker::Value() const {
    return toLocalTime(dateTime());
}

void DatePicker::setValue(LocalTime value) {
    setDateTime(toQDateTime(value));
    // A clock display narrows the range to the new value's day; put it back.
    setDateTimeRange(kMin, kMax);
}

void DatePicker::setDisplayFormatMode(int mode) {
    mode_ = mode;
    applyFormat();
}

void DatePicker::setCustomFormat(const QString& pattern) {
    // The house letters H, m, s, d, M and y mean the same in Qt's patterns.
    customFormat_ = pattern;
    applyFormat();
}

void DatePicker::applyFormat() {
    // Without a custom pattern there is nothing else to show but the date.
    const bool custom = mode_ == kCustomDisplay && !customFormat_.isEmpty();
    // A new display format may drop the sections it does not show (a date
    // display resets the time to midnight, a clock display narrows the range
    // to one day); the value and the range are the picker's own, so both are
    // put back.
    const LocalTime value = Value();
    setDisplayFormat(custom ? customFormat_ : QString::fromLatin1(kDateDisplayFormat));
    setValue(value);
}

bool DatePicker::focusNextPrevChild(bool next) {
    return QAbstractSpinBox::focusNextPrevChild(next);
}

}  // namespace fennick::app
