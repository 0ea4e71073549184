#include "cli/zone_data.h"

#include <date/tz.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "cli/zone_rule.h"

namespace fennick::cli {

namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

// Where the date library finds its zones (Debian's build reads the
// system's files).
constexpr std::string_view kZoneData = "/usr/share/zoneinfo";

long long count(sys_seconds instant) {
    return instant.time_since_epoch().count();
}

std::optional<std::string> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bytes;
}

// The date library's offsets up to the zone file's last listed change, the
// rule of the file's footer after it (RFC 8536): the list stops in 2037 for
// most zones, and the library does not read the footer.
class ZoneDataRules final : public TimeZone::Rules {
  public:
    ZoneDataRules(const date::time_zone& zone, std::optional<ZoneRule> rule, long long ruleFrom)
        : zone_(zone), rule_(std::move(rule)), ruleFrom_(ruleFrom) {}

    TimeZone::Span spanAt(long long epochSeconds) const override {
        if (rule_ && epochSeconds >= ruleFrom_) {
            TimeZone::Span span = rule_->spanAt(epochSeconds);
            span.begin = std::max(span.begin, ruleFrom_);
            return span;
        }
        const date::sys_info info = zone_.get_info(sys_seconds{seconds{epochSeconds}});
        const long long end = rule_ ? std::min(count(info.end), ruleFrom_) : count(info.end);
        return {count(info.begin), end, info.offset.count()};
    }

  private:
    const date::time_zone& zone_;
    std::optional<ZoneRule> rule_;
    long long ruleFrom_;
};

std::shared_ptr<const TimeZone::Rules> rulesOf(const date::time_zone& zone) {
    const auto bytes = fileBytes(fs::path(kZoneData) / zone.name());
    const auto tail = bytes ? readZoneFileTail(*bytes) : std::nullopt;
    // No footer, an empty one or one past reading: the last listed offset
    // holds, as the library has it.
    auto rule = tail && tail->footer ? ZoneRule::parse(*tail->footer) : std::nullopt;
    // A file that lists no change is its footer's rule throughout.
    const long long from =
        tail && tail->lastChange ? *tail->lastChange : std::numeric_limits<long long>::min();
    return std::make_shared<const ZoneDataRules>(zone, std::move(rule), from);
}

const date::time_zone* findZone(std::string_view name) {
    try {
        return date::locate_zone(name);
    } catch (const std::exception&) {
        // Not in the data, or no data to look in: either way no such zone.
        return nullptr;
    }
}

// The path's name inside the folder ("Asia/Tokyo"); nothing outside it.
std::optional<std::string> nameInside(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
    if (relative.empty() || relative == "." || *relative.begin() == "..")
        return std::nullopt;
    return relative.generic_string();
}

// The zone a symbolic link into the data names: the name it links to, else
// (a link through other links) the file it ends at.
std::shared_ptr<const TimeZone> linkedZone(const fs::path& localtime, const fs::path& zoneData) {
    std::error_code error;
    if (!fs::is_symlink(localtime, error))
        return nullptr;
    fs::path target = fs::read_symlink(localtime, error);
    if (error)
        return nullptr;
    if (target.is_relative())
        target = localtime.parent_path() / target;
    if (const auto name = nameInside(target, zoneData))
        if (auto zone = namedZone(*name))
            return zone;
    const fs::path real = fs::canonical(localtime, error);
    const fs::path data = fs::canonical(zoneData, error);
    if (error)
        return nullptr;
    const auto name = nameInside(real, data);
    return name ? namedZone(*name) : nullptr;
}

std::string firstWord(const std::string& text) {
    const auto start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return {};
    return text.substr(start, text.find_first_of(" \t\r\n", start) - start);
}

// The zone of the data whose file holds these bytes: the one the timezone
// file names when it does, else the first in sorted order. Only the zones
// that are files of their own count there: a symbolic link's bytes are
// those of the zone it names, and the data's own "localtime" links back to
// the file asked about.
std::shared_ptr<const TimeZone> zoneWithBytes(const std::string& bytes,
                                              const fs::path& timezoneFile,
                                              const fs::path& zoneData) {
    const std::vector<std::string> names = zoneNames();
    const auto holds = [&](const std::string& name) {
        std::error_code error;
        const fs::path file = zoneData / name;
        return fs::file_size(file, error) == bytes.size() && !error && fileBytes(file) == bytes;
    };
    const std::string named = firstWord(fileBytes(timezoneFile).value_or(""));
    if (std::binary_search(names.begin(), names.end(), named) && holds(named))
        return namedZone(named);
    for (const std::string& name : names) {
        std::error_code error;
        if (!fs::is_symlink(zoneData / name, error) && !error && holds(name))
            return namedZone(name);
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<const TimeZone> namedZone(std::string_view name) {
    const date::time_zone* zone = findZone(name);
    if (zone == nullptr)
        return nullptr;
    // The name as the operator wrote it: a link ("US/Eastern") stays one.
    return std::make_shared<const TimeZone>(std::string(name), rulesOf(*zone));
}

std::vector<std::string> zoneNames() {
    std::vector<std::string> names;
    try {
        for (const date::time_zone& zone : date::get_tzdb().zones)
            names.push_back(zone.name());
    } catch (const std::exception&) {
        // No data to list.
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::shared_ptr<const TimeZone> localtimeZone(std::string& source, const fs::path& localtime,
                                              const fs::path& timezoneFile,
                                              const fs::path& zoneData) {
    source = localtime.string();
    if (auto zone = linkedZone(localtime, zoneData))
        return zone;
    const auto bytes = fileBytes(localtime);
    if (!bytes) {
        source += ", which cannot be read";
        return nullptr;
    }
    auto zone = zoneWithBytes(*bytes, timezoneFile, zoneData);
    if (!zone)
        source += ", whose contents match no file of " + zoneData.string();
    return zone;
}

std::shared_ptr<const TimeZone> machineZone(std::string& source) {
    if (const char* tz = std::getenv("TZ"); tz != nullptr) {
        source = "TZ=" + std::string(tz);
        std::string_view name = tz;
        // ":Europe/Berlin" and the zone file's own path name a zone as well;
        // an empty TZ is UTC to the C library.
        if (name.starts_with(':'))
            name.remove_prefix(1);
        const std::string data = std::string(kZoneData) + '/';
        if (name.starts_with(data))
            name.remove_prefix(data.size());
        return namedZone(name.empty() ? "UTC" : name);
    }
    return localtimeZone(source, "/etc/localtime", "/etc/timezone", std::string(kZoneData));
}

}  // namespace fennick::cli
