// The date and time picker of the main window: one civil date-time value to
// the second, shown in a date display or in a custom display format.
#pragma once

#include <QDateTime>
#include <QDateTimeEdit>
#include <QString>

#include "common/report_time.h"

namespace fennick::app {

// Picker values are plain civil date-times. They travel in a QDateTime of
// Qt::UTC only because that zone has no daylight-saving gaps: with
// Qt::LocalTime a value such as 02:30 on a spring-forward day would be
// invalid and silently refused. No zone conversion is ever made.
QDateTime toQDateTime(LocalTime value);
LocalTime toLocalTime(const QDateTime& value);

class DatePicker : public QDateTimeEdit {
    Q_OBJECT

  public:
    // The display-format modes: the date display, or the custom format.
    static constexpr int kDateDisplay = 0;
    static constexpr int kCustomDisplay = 1;

    explicit DatePicker(QWidget* parent = nullptr);

    LocalTime Value() const;
    void setValue(LocalTime value);

    int displayFormatMode() const { return mode_; }
    void setDisplayFormatMode(int mode);

    // A pattern such as "HH:mm:ss" (24-hour clock, minutes, seconds); it is
    // shown while the custom mode is on.
    const QString& customFormat() const { return customFormat_; }
    void setCustomFormat(const QString& pattern);

  protected:
    // Tab moves on to the next control instead of to the next section; the
    // arrow keys and the mouse still reach every section.
    bool focusNextPrevChild(bool next) override;

  private:
    void applyFormat();

    int mode_ = kDateDisplay;
    QString customFormat_;
};

}  // namespace fennick::app
