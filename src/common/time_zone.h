// A time zone a run may show and read its times in: the offset from UTC in
// force at each instant, daylight saving included, cheap to ask for the
// millions of date columns of a month's dump.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "common/report_time.h"

namespace fennick {

class TimeZone {
  public:
    // The offset (seconds east of UTC) in force over the instants [begin,
    // end), counted in seconds since 1970-01-01 00:00:00 UTC.
    struct Span {
        long long begin;
        long long end;
        long long offset;
    };

    // Where the offsets come from. Asked only when an instant falls outside
    // the span last found on the asking thread, so it may be slow; it is
    // asked from several threads at once.
    class Rules {
      public:
        virtual ~Rules() = default;
        virtual Span spanAt(long long epochSeconds) const = 0;
    };

    TimeZone(std::string name, std::shared_ptr<const Rules> rules);

    // A zone without daylight saving, named "UTC+8", "UTC-5:30", "UTC+0".
    static TimeZone fixed(std::chrono::seconds offset);

    // How people name it: "Europe/Berlin", "UTC+8".
    const std::string& name() const { return name_; }

    // Seconds east of UTC at the instant.
    long long offsetAt(long long epochSeconds) const;

    // The zone's clock time at the instant.
    LocalTime clockTime(std::chrono::sys_seconds instant) const;

    // What a clock time of the zone stands for: one instant; none, because
    // the clocks skipped it (then `earlier` reads it with the offset before
    // the gap, which lands as far after the gap); or two, because the clocks
    // went back over it.
    struct Instants {
        enum class Kind { Once, Skipped, Twice };
        Kind kind;
        std::chrono::sys_seconds earlier;
        std::chrono::sys_seconds later;
    };
    Instants instantsOf(LocalTime clockTime) const;

  private:
    std::string name_;
    std::shared_ptr<const Rules> rules_;
    // Tells this zone's spans apart from another's in the per-thread cache;
    // copies share it, as they share the rules.
    std::uint64_t serial_;
};

}  // namespace fennick
