// The zones of the machine's time-zone data (/usr/share/zoneinfo, read by
// the date library), for --zone.
#pragma once

#include <memory>
#include <string_view>

#include "common/time_zone.h"

namespace fennick::cli {

// The zone of that name ("Europe/Berlin", "UTC"); null when the data has no
// such zone. Offsets after 2037 follow the zone's present rule, which the
// data on disk stops listing there.
std::shared_ptr<const TimeZone> namedZone(std::string_view name);

// The machine's own zone: the one TZ names when it is set (as the C library
// reads the clock), else the one /etc/localtime links to. Null when that is
// no zone of the data; `source` then says what was looked for.
std::shared_ptr<const TimeZone> machineZone(std::string& source);

}  // namespace fennick::cli
