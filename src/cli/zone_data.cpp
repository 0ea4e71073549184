#include "cli/zone_data.h"

#include <date/tz.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <string>

namespace fennick::cli {

namespace {

using namespace std::chrono;

// zic writes a zone's changes out up to 2037 and leaves the later ones to a
// rule at the end of the file, which the date library does not read.
const sys_seconds kListedUntil = sys_days{year{2038} / 1 / 1};
constexpr year kLastListedYear{2037};

long long count(sys_seconds instant) {
    return instant.time_since_epoch().count();
}

// Whether the zone was still changing its clocks when its list stops: then
// its rule goes on, and a later year is read as a listed year like it.
bool changesAfterTheList(const date::time_zone& zone) {
    const date::sys_info last = zone.get_info(sys_days{year{3000} / 1 / 1});
    return year_month_day{floor<days>(last.begin)}.year() == kLastListedYear;
}

// The latest listed year with the same calendar as `y` (the same weekday on
// 1 January, and a leap year or not alike): its changes fall on the same
// days. Any 28 years in a row between 1901 and 2099 hold every calendar.
year listedYearLike(year y) {
    const weekday firstDay{sys_days{y / 1 / 1}};
    year like = kLastListedYear;
    while (weekday{sys_days{like / 1 / 1}} != firstDay || like.is_leap() != y.is_leap())
        --like;
    return like;
}

class ZoneDataRules final : public TimeZone::Rules {
  public:
    explicit ZoneDataRules(const date::time_zone& zone)
        : zone_(zone), goesOn_(changesAfterTheList(zone)) {}

    TimeZone::Span spanAt(long long epochSeconds) const override {
        const sys_seconds at{seconds{epochSeconds}};
        if (goesOn_ && at >= kListedUntil)
            return spanInLikeYear(at);
        const date::sys_info info = zone_.get_info(at);
        const sys_seconds end = goesOn_ ? std::min(info.end, kListedUntil) : info.end;
        return {count(info.begin), count(end), info.offset.count()};
    }

  private:
    // The span of a year after the list, as the like year has it, cut to the
    // year: the next year may be like another.
    TimeZone::Span spanInLikeYear(sys_seconds at) const {
        const year y = year_month_day{floor<days>(at)}.year();
        const year like = listedYearLike(y);
        const sys_days likeStart{like / 1 / 1};
        const sys_days likeEnd{(like + years{1}) / 1 / 1};
        const seconds shift = likeStart - sys_days{y / 1 / 1};
        const date::sys_info info = zone_.get_info(at + shift);
        const sys_seconds begin = std::max<sys_seconds>(info.begin, likeStart);
        const sys_seconds end = std::min<sys_seconds>(info.end, likeEnd);
        return {count(begin - shift), count(end - shift), info.offset.count()};
    }

    const date::time_zone& zone_;
    bool goesOn_;
};

const date::time_zone* findZone(std::string_view name) {
    try {
        return date::locate_zone(name);
    } catch (const std::exception&) {
        // Not in the data, or no data to look in: either way no such zone.
        return nullptr;
    }
}

}  // namespace

std::shared_ptr<const TimeZone> namedZone(std::string_view name) {
    const date::time_zone* zone = findZone(name);
    if (zone == nullptr)
        return nullptr;
    // The name as the operator wrote it: a link ("US/Eastern") stays one.
    return std::make_shared<const TimeZone>(std::string(name),
                                            std::make_shared<const ZoneDataRules>(*zone));
}

std::shared_ptr<const TimeZone> machineZone(std::string& source) {
    if (const char* tz = std::getenv("TZ"); tz != nullptr) {
        source = "TZ=" + std::string(tz);
        std::string_view name = tz;
        // ":Europe/Berlin" and the zone file's own path name a zone as well;
        // an empty TZ is UTC to the C library.
        if (name.starts_with(':'))
            name.remove_prefix(1);
        constexpr std::string_view kData = "/usr/share/zoneinfo/";
        if (name.starts_with(kData))
            name.remove_prefix(kData.size());
        return namedZone(name.empty() ? "UTC" : name);
    }
    source = "/etc/localtime";
    try {
        const date::time_zone* zone = date::current_zone();
        return std::make_shared<const TimeZone>(std::string(zone->name()),
                                                std::make_shared<const ZoneDataRules>(*zone));
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace fennick::cli
