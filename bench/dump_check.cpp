// Reads a generated AppDir back through the system's own reader, splitter
// and number conversions, so the check sees the files as the pipeline will.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_set>

#include "common/failure.h"
#include "common/fields.h"
#include "common/numbers.h"
#include "dump_generator.h"
#include "dump_shape.h"
#include "files/text_file.h"
#include "pipeline/retention_labels.h"

namespace fennick::bench {

namespace {

constexpr std::size_t kMostProblems = 20;

class Problems {
  public:
    void add(std::string_view file, long line, const std::string& what) {
        if (list_.size() < kMostProblems) {
            list_.push_back(std::string(file) + " line " + std::to_string(line) + ": " + what);
        }
    }
    void add(const std::string& what) {
        if (list_.size() < kMostProblems)
            list_.push_back(what);
    }
    std::vector<std::string> take() { return std::move(list_); }

  private:
    std::vector<std::string> list_;
};

// How the generated jobs spread over the routes and statuses; a big dump
// must show every kind, or the benchmarks would miss a path.
struct Mix {
    // As JobRoute names the routes.
    long long marked = 0;
    long long flagged = 0;
    long long other = 0;
    long long dropped = 0;
    long long failed = 0;  // status neither 0 nor 1
    long long queued = 0;  // start time 0
};

double number(const Fields& fields, std::size_t index) {
    try {
        return parseNumber(fields.at(index));
    } catch (Failure& failure) {
        failure.at({}, Failure::kNoLine, static_cast<long>(index));
        throw;
    }
}

void checkDump(const std::filesystem::path& dir, const DumpOptions& options, Problems& problems) {
    constexpr std::string_view kName = "bpdbjobs.txt";
    const std::vector<std::size_t> counts = fieldCounts(options.fewestFields, options.mostFields);
    std::unordered_set<std::string> pool;
    for (int index = 0; index < options.policies; ++index)
        pool.insert(policyName(index));

    LineReader dump(fileIn(dir, kName), std::string(kName));
    Fields fields;
    Mix mix;
    std::uintmax_t textBytes = 0;
    std::size_t shortest = std::numeric_limits<std::size_t>::max();
    std::size_t longest = 0;
    double previousStart = static_cast<double>(options.now);
    const double oldest = static_cast<double>(options.now) - options.spanHours * 3600.0 - 1.0;
    while (!dump.atEnd()) {
        const std::string_view line = dump.readLine();
        const long lineNumber = dump.lineNumber();
        textBytes += line.size();
        shortest = std::min(shortest, line.size());
        longest = std::max(longest, line.size());
        fields.split(line);
        try {
            if (std::find(counts.begin(), counts.end(), fields.size()) == counts.end()) {
                problems.add(kName, lineNumber, std::to_string(fields.size()) + " fields");
                continue;
            }
            const double id = number(fields, dump::kJobId);
            if (id != static_cast<double>(kFirstJobId + options.jobs - lineNumber + 1)) {
                problems.add(kName, lineNumber, "job id out of sequence");
            }
            const double start = number(fields, dump::kStart);
            const double elapsed = number(fields, dump::kElapsed);
            if (number(fields, dump::kEnd) != start + elapsed) {
                problems.add(kName, lineNumber, "end is not start + elapsed");
            }
            if (start == 0) {
                ++mix.queued;
            } else {
                if (start > previousStart || start < oldest) {
                    problems.add(kName, lineNumber, "start time out of order or out of span");
                }
                previousStart = start;
            }
            if (!pool.contains(std::string(fields.at(dump::kPolicy)))) {
                problems.add(kName, lineNumber, "policy outside the pool");
            }
            const double type = number(fields, dump::kScheduleType);
            if (type < 0 || type > 4)
                problems.add(kName, lineNumber, "schedule type code");
            const std::string_view status = fields.at(dump::kStatus);
            if (status != "0" && status != "1")
                ++mix.failed;

            const std::size_t markIndex = fields.size() - 1 - dump::kRoutingMarkFromEnd;
            const std::string_view mark = trimBlanks(fields[markIndex]);
            if (!mark.empty()) {
                ++(number(fields, markIndex) == 1 ? mix.marked : mix.dropped);
            } else {
                ++(fields.at(dump::kPageFlag).empty() ? mix.other : mix.flagged);
            }
            number(fields, fields.size() - 1 - dump::kTransferRateFromEnd);
            number(fields, fields.size() - 1 - dump::kFlaggedTransferRateFromEnd);
        } catch (Failure& failure) {
            throw failure.at(kName, lineNumber);
        }
    }
    if (dump.lineNumber() != options.jobs) {
        problems.add(std::string(kName) + ": " + std::to_string(dump.lineNumber()) + " lines");
    }
    // Every terminator was two bytes only if the sizes add up.
    const std::uintmax_t size = std::filesystem::file_size(fileIn(dir, kName));
    if (size != textBytes + 2 * static_cast<std::uintmax_t>(dump.lineNumber())) {
        problems.add(std::string(kName) + ": not every line ends in CR LF");
    }
    // Lengthened lines land within their range; a line of many short fields
    // may be longer than asked, but not by much.
    if (options.longestLine > 0 && options.jobs > 0 &&
        (shortest < options.shortestLine ||
         longest > options.longestLine + options.longestLine / 10)) {
        problems.add(std::string(kName) + ": lines of " + std::to_string(shortest) + " to " +
                     std::to_string(longest) + " bytes");
    }
    if (options.jobs >= 20000 &&
        std::min({mix.marked, mix.flagged, mix.other, mix.dropped, mix.failed, mix.queued}) == 0) {
        problems.add(std::string(kName) + ": a route, a failed status or a queued job is missing");
    }
}

void checkPolicyList(const std::filesystem::path& dir, const DumpOptions& options,
                     Problems& problems) {
    constexpr std::string_view kName = "policy_list.txt";
    std::vector<std::string> expected = listedPolicies(options);
    if (options.listedDaily >= 0 && static_cast<int>(expected.size()) != options.listedDaily) {
        problems.add(std::string(kName) + ": the pool holds only " +
                     std::to_string(expected.size()) + " daily policies");
    }
    for (int index = 0; index < options.absentPolicies; ++index)
        expected.push_back(retiredPolicyName(index));
    std::unordered_set<std::string> daily;
    for (int index = 0; index < options.policies; ++index) {
        if (isDailyPolicy(index))
            daily.insert(policyName(index));
    }
    LineReader list(fileIn(dir, kName), std::string(kName));
    std::size_t at = 0;
    while (!list.atEnd()) {
        const std::string_view name = list.readLine();
        if (at >= expected.size() || name != expected[at]) {
            problems.add(kName, list.lineNumber(), "unexpected policy " + std::string(name));
        } else if (at < expected.size() - static_cast<std::size_t>(options.absentPolicies) &&
                   !daily.contains(std::string(name))) {
            problems.add(kName, list.lineNumber(), "not a daily policy of the pool");
        }
        ++at;
    }
    if (at != expected.size()) {
        problems.add(std::string(kName) + ": " + std::to_string(at) + " lines, not " +
                     std::to_string(expected.size()));
    }
}

void checkConfig(const std::filesystem::path& dir, Problems& problems) {
    const RetentionLabels labels = readRetentionLabels(dir);
    for (std::size_t level = 0; level < labels.size(); ++level) {
        if (labels[level].empty()) {
            problems.add("fennick_config.txt: no label for level " + std::to_string(level));
        }
    }
}

}  // namespace

std::vector<std::string> checkAppDir(const std::filesystem::path& dir, const DumpOptions& options) {
    Problems problems;
    checkConfig(dir, problems);
    checkPolicyList(dir, options, problems);
    checkDump(dir, options, problems);
    return problems.take();
}

}  // namespace fennick::bench
