#include "common/time_zone.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <utility>

namespace fennick {

namespace {

using std::chrono::seconds;
using std::chrono::sys_seconds;

constexpr long long kDay = 86400;

std::uint64_t nextSerial() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

class FixedRules final : public TimeZone::Rules {
  public:
    explicit FixedRules(long long offset) : offset_(offset) {}
    TimeZone::Span spanAt(long long /*epochSeconds*/) const override {
        return {std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(),
                offset_};
    }

  private:
    long long offset_;
};

std::string fixedName(long long offset) {
    const long long magnitude = std::llabs(offset);
    std::string name = offset < 0 ? "UTC-" : "UTC+";
    name += std::to_string(magnitude / 3600);
    if (const long long minutes = magnitude / 60 % 60; minutes != 0)
        name += (minutes < 10 ? ":0" : ":") + std::to_string(minutes);
    return name;
}

}  // namespace

TimeZone::TimeZone(std::string name, std::shared_ptr<const Rules> rules)
    : name_(std::move(name)), rules_(std::move(rules)), serial_(nextSerial()) {}

TimeZone TimeZone::fixed(seconds offset) {
    return TimeZone(fixedName(offset.count()), std::make_shared<FixedRules>(offset.count()));
}

long long TimeZone::offsetAt(long long epochSeconds) const {
    // A dump lists its jobs in time order, so the next instant asked for
    // nearly always lies in the span of the last one: the rules are asked
    // about twice a year of jobs. One cache per thread needs no lock.
    struct Cached {
        std::uint64_t serial = 0;
        Span span{0, 0, 0};
    };
    thread_local Cached cached;
    if (cached.serial != serial_ || epochSeconds < cached.span.begin ||
        epochSeconds >= cached.span.end) {
        cached.span = rules_->spanAt(epochSeconds);
        cached.serial = serial_;
    }
    return cached.span.offset;
}

LocalTime TimeZone::clockTime(sys_seconds instant) const {
    const long long at = instant.time_since_epoch().count();
    return LocalTime{seconds{at + offsetAt(at)}};
}

TimeZone::Instants TimeZone::instantsOf(LocalTime clockTime) const {
    const long long clock = clockTime.time_since_epoch().count();
    // The offsets in force a day before and a day after cover every reading
    // of a clock time, as no zone changes its offset twice within a day.
    const long long before = offsetAt(clock - kDay);
    const long long after = offsetAt(clock + kDay);
    const long long first = clock - before;
    const long long second = clock - after;
    const bool firstHolds = offsetAt(first) == before;
    const bool secondHolds = offsetAt(second) == after;
    const auto instant = [](long long at) { return sys_seconds{seconds{at}}; };
    if (firstHolds && secondHolds && first != second) {
        return {Instants::Kind::Twice, instant(std::min(first, second)),
                instant(std::max(first, second))};
    }
    if (firstHolds)
        return {Instants::Kind::Once, instant(first), instant(first)};
    if (secondHolds)
        return {Instants::Kind::Once, instant(second), instant(second)};
    return {Instants::Kind::Skipped, instant(first), instant(first)};
}

}  // namespace fennick
