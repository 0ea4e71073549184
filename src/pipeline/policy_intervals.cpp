#include "pipeline/policy_intervals.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "common/failure.h"
#include "common/file_names.h"

namespace fennick {

namespace {

// The days of a line's end, when they are 1 to 366 written as digits only.
std::optional<int> daysOf(std::string_view text) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int days = 0;
    std::from_chars(text.data(), text.data() + text.size(), days);
    if (days < 1 || days > kLongestIntervalDays)
        return std::nullopt;
    return days;
}

}  // namespace

PolicyIntervals readPolicyIntervals(LineReader& lines) {
    PolicyIntervals read;
    try {
        while (!lines.atEnd()) {
            const std::string_view line = lines.readLine();
            if (line.empty() || line.front() == '#')
                continue;
            const std::size_t equals = line.rfind('=');
            const std::optional<int> days = equals == std::string_view::npos || equals == 0
                                                ? std::nullopt
                                                : daysOf(line.substr(equals + 1));
            if (!days) {
                read.warnings.push_back(std::string(kPolicyIntervalsFile) + " line " +
                                        std::to_string(lines.lineNumber()) +
                                        ": not POLICY=DAYS (1 to 366), skipped");
                continue;
            }
            const std::string_view policy = line.substr(0, equals);
            const auto same =
                std::find_if(read.intervals.begin(), read.intervals.end(),
                             [policy](const auto& kept) { return kept.first == policy; });
            if (same != read.intervals.end())
                same->second = *days;
            else
                read.intervals.emplace_back(std::string(policy), *days);
        }
    } catch (const Failure& failure) {
        read.warnings.emplace_back(failure.what());
    }
    return read;
}

PolicyIntervals readPolicyIntervals(const std::filesystem::path& appDir) {
    try {
        LineReader lines(fileIn(appDir, kPolicyIntervalsFile), kPolicyIntervalsFile);
        return readPolicyIntervals(lines);
    } catch (const Failure& failure) {
        PolicyIntervals read;
        if (failure.kind() != FailureKind::FileNotFound)
            read.warnings.emplace_back(failure.what());
        return read;
    }
}

}  // namespace fennick
