// The zones of the machine's time-zone data (/usr/share/zoneinfo, read by
// the date library), for --zone.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/time_zone.h"

namespace fennick::cli {

// The zone of that name ("Europe/Berlin", "UTC"); null when the data has no
// such zone. After the last change its file lists (2037 for most zones)
// offsets follow the rule at the file's end, as the C library's do.
std::shared_ptr<const TimeZone> namedZone(std::string_view name);

// The names of every zone of the data, links included, in sorted order;
// none when there is no data.
std::vector<std::string> zoneNames();

// The machine's own zone: the one TZ names when it is set (as the C library
// reads the clock), else the one /etc/localtime describes. Null when that is
// no zone of the data; `source` then says what was looked for.
std::shared_ptr<const TimeZone> machineZone(std::string& source);

// The zone `localtime` describes: the zone of the data it links to, or,
// when it is a file of its own (a copy), the zone whose file in `zoneData`
// has the same bytes, the one `timezoneFile` names first. Null, with
// `source` saying why, when there is none.
std::shared_ptr<const TimeZone> localtimeZone(std::string& source,
                                              const std::filesystem::path& localtime,
                                              const std::filesystem::path& timezoneFile,
                                              const std::filesystem::path& zoneData);

}  // namespace fennick::cli
