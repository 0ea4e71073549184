// Which metrics files fennick-cli wrote under fennick.service, for the
// package's purge: it removes what the program itself wrote, so that it never
// has to read /etc/default/fennick the way systemd does.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fennick {

// The record's name in the service's state folder, as the purge reads it.
inline constexpr std::string_view kMetricsRecordName = "metrics-files";
// As many paths as the record keeps: a setting changed over the years must
// not make it grow for ever.
inline constexpr std::size_t kMostRecordedMetricsFiles = 100;

// Adds `written`, made absolute, to `record` (one path a line) unless it is
// listed already; the record is replaced whole (see replaceFile). A full
// record loses its oldest paths, which are handed back. A path with a line
// break would read back as two and is refused (Invalid argument); a record
// that cannot be written is "cannot create file" for it.
std::vector<std::filesystem::path> recordWrittenMetrics(const std::filesystem::path& record,
                                                        const std::filesystem::path& written);

// Under fennick.service, whose StateDirectory= sets $STATE_DIRECTORY: records
// `written` there. Outside it (the variable unset or empty) does nothing at
// all. Never throws: the metrics are delivered by then, so a path that could
// not be recorded, or one that a full record dropped, is a note for standard
// error and no failure of the run.
std::optional<std::string> recordWrittenMetricsInState(const std::filesystem::path& written);

}  // namespace fennick
