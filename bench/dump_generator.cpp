#include "dump_generator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "dump_shape.h"
#include "files/text_file.h"

namespace fennick::bench {

namespace {

// Lines are gathered in one buffer and handed to the writer in big pieces:
// five million jobs are about a gigabyte.
constexpr std::size_t kFlushAt = std::size_t{1} << 22;

// A small, fast generator whose output is fixed by its seed on every
// platform (the standard distributions are not).
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // 0 .. bound-1
    std::uint32_t below(std::uint32_t bound) {
        return static_cast<std::uint32_t>(((next() >> 32) * bound) >> 32);
    }
    // [0, 1)
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  private:
    std::uint64_t state_;
};

void appendNumber(std::string& out, long long value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// At least `width` digits, zeros in front.
void appendPadded(std::string& out, int value, int width = 2) {
    for (int limit = 10; --width > 0; limit *= 10) {
        if (value < limit)
            out += '0';
    }
    appendNumber(out, value);
}

constexpr std::array<std::string_view, 5> kKinds = {"daily_fs", "daily_db", "weekly_db", "daily_vm",
                                                    "weekly_fs"};

// Mostly 0 and 1; the rest are the failures a real server reports most.
std::string_view pickStatus(Rng& rng) {
    static constexpr std::array<std::string_view, 7> kFailures = {"2",  "13",  "50", "96",
                                                                  "58", "150", "196"};
    const std::uint32_t roll = rng.below(100);
    if (roll < 86)
        return "0";
    if (roll < 95)
        return "1";
    return kFailures[rng.below(kFailures.size())];
}

// Code 3 is rare: the daily table shows it as "Not Programmed".
int pickScheduleType(Rng& rng) {
    const std::uint32_t roll = rng.below(100);
    if (roll < 30)
        return 0;
    if (roll < 75)
        return 1;
    if (roll < 90)
        return 4;
    if (roll < 98)
        return 2;
    return 3;
}

std::string_view scheduleSuffix(int type) {
    static constexpr std::array<std::string_view, 5> kSuffixes = {"Full", "Diff_Incr", "User",
                                                                  "Calendar", "Cum_Incr"};
    return kSuffixes[static_cast<std::size_t>(type)];
}

void appendRetention(std::string& out, Rng& rng) {
    const std::uint32_t roll = rng.below(200);
    if (roll < 110) {
        out += '1';
    } else if (roll < 140) {
        out += '3';
    } else if (roll < 160) {
        out += '0';
    } else if (roll < 198) {
        appendNumber(out, rng.below(29));
    } else {
        out += "29";  // outside the configured levels
    }
}

// The routing mark: mostly 1, sometimes blank (one in five of those made of
// spaces), sometimes a mark that drops the job, now and then 1 in another form.
std::string_view pickMark(Rng& rng) {
    const std::uint32_t roll = rng.below(200);
    if (roll < 174)
        return "1";
    if (roll < 176)
        return "01";
    if (roll < 184)
        return "";
    if (roll < 186)
        return "  ";
    if (roll < 194)
        return "0";
    return "2";
}

bool trimmedEmpty(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// Fields the pipeline never reads, four kinds picked by two random bits.
constexpr std::array<std::string_view, 4> kFiller = {"0", "", "1", "0"};

// What the long middle of a real job line holds: tries, hosts, paths and
// progress notes. No commas, so a cut anywhere is one field.
constexpr std::string_view kNotes =
    "1767225600 media01 bpbrm pid=4312 1767225641 started backup job for client srv012 "
    "policy daily_fs_01 schedule Daily_Full on storage unit stu_disk_01 /var/backup/vol0 "
    "bptm pid=4420 1767225700 connecting begin writing 1767226112 end writing; write time "
    "0:06:52 Info bpbkar pid=981 done. status: 0 the requested operation was successfully "
    "completed tries 1 of 2 kbytes 48211904 files 201874 D:\\data\\share C:\\Program Files "
    "snapshot vss_0042 mounted image daily_fs_01_1767225600_C1_F1 catalog 1767226150 ";

// `length` bytes of kNotes from `offset` on, wrapping at its end.
void appendNotes(std::string& out, std::size_t offset, std::size_t length) {
    offset %= kNotes.size();
    while (length > 0) {
        const std::size_t piece = std::min(length, kNotes.size() - offset);
        out.append(kNotes.substr(offset, piece));
        length -= piece;
        offset = 0;
    }
}

class JobWriter {
  public:
    explicit JobWriter(const DumpOptions& options)
        : options_(options),
          rng_(options.seed * 0x2545f4914f6cdd1dULL + 1),
          counts_(fieldCounts(options.fewestFields, options.mostFields)),
          spanSeconds_(options.spanHours * 3600.0) {
        for (int index = 0; index < options.policies; ++index)
            names_.push_back(policyName(index));
    }

    void append(std::string& out, long long index) {
        // Most jobs are short; a few carry hundreds of fields and kilobytes.
        const double share = std::pow(rng_.unit(), 5);
        const std::size_t count =
            counts_[std::min(counts_.size() - 1, static_cast<std::size_t>(
                                                     share * static_cast<double>(counts_.size())))];
        line_.clear();
        fillers_.clear();
        appendFields(line_, index, count);
        appendLengthened(out, share);
        out += "\r\n";
    }

  private:
    // A filler field: where its text ends in line_, and how long it is.
    struct Filler {
        std::size_t end;
        std::size_t length;
    };

    // Writes line_ to `out`, lengthening the filler fields until the line
    // reaches its target length (a longer line stays as it is).
    void appendLengthened(std::string& out, double share) {
        std::size_t target = 0;
        if (options_.longestLine > 0 && !fillers_.empty()) {
            const double jitter = (rng_.unit() - 0.5) * 0.1;
            const double place = std::clamp(share + jitter, 0.0, 1.0);
            target = options_.shortestLine +
                     static_cast<std::size_t>(
                         place * static_cast<double>(options_.longestLine - options_.shortestLine));
        }
        if (target <= line_.size()) {
            out += line_;
            return;
        }
        std::size_t missing = target - line_.size();
        std::size_t copied = 0;
        for (std::size_t i = 0; i < fillers_.size(); ++i) {
            const Filler& filler = fillers_[i];
            const std::size_t left = fillers_.size() - i;
            std::size_t pad = missing;
            if (left > 1) {
                const auto most = static_cast<std::uint32_t>(std::min<std::size_t>(
                    2 * missing / left + 1, std::numeric_limits<std::uint32_t>::max()));
                pad = std::min<std::size_t>(missing, rng_.below(most));
            }
            missing -= pad;
            const std::size_t begin = filler.end - filler.length;
            out.append(line_, copied, begin - copied);
            if (pad == 0) {
                out.append(line_, begin, filler.length);
            } else {
                appendNotes(out, rng_.below(static_cast<std::uint32_t>(kNotes.size())),
                            filler.length + pad);
            }
            copied = filler.end;
        }
        out.append(line_, copied, std::string::npos);
    }

    void appendFields(std::string& out, long long index, std::size_t count) {
        const int policy =
            static_cast<int>(rng_.below(static_cast<std::uint32_t>(options_.policies)));
        const std::size_t last = count - 1;
        const std::size_t markField = last - dump::kRoutingMarkFromEnd;
        const std::size_t rateField = last - dump::kTransferRateFromEnd;
        const std::size_t flaggedRateField = last - dump::kFlaggedTransferRateFromEnd;

        // Offsets grow strictly with the index, so start times never rise.
        const auto offset =
            static_cast<long long>(std::floor((static_cast<double>(index) + rng_.unit()) *
                                              spanSeconds_ / static_cast<double>(options_.jobs)));
        // Now and then a queued job that has not started: start time 0.
        const bool queued = rng_.below(4000) == 0;
        const long long start = queued ? 0 : options_.now - offset;
        const long long elapsed = queued ? 0 : pickElapsed();
        const long long rate = 500 + rng_.below(80000);  // kilobytes per second
        const long long kbytes = elapsed * rate;
        const int type = pickScheduleType(rng_);
        // Field 11 is mostly set; left empty more often beside a blank mark,
        // so that out2.txt gets its share of jobs.
        const std::string_view mark = pickMark(rng_);
        const bool pageFlag = rng_.below(100) >= (trimmedEmpty(mark) ? 40 : 8);
        std::uint64_t bits = rng_.next();
        int bitsLeft = 32;

        for (std::size_t field = 0; field < count; ++field) {
            if (field > 0)
                out += ',';
            if (field == markField) {
                out += mark;
                continue;
            }
            if (field == rateField) {
                appendNumber(out, rate);
                continue;
            }
            if (field == flaggedRateField) {
                appendNumber(out, rate * (90 + rng_.below(10)) / 100);
                continue;
            }
            switch (field) {
                case dump::kJobId:
                    appendNumber(out, kFirstJobId + options_.jobs - index);
                    break;
                case 2:
                    out += '3';  // done
                    break;
                case dump::kStatus:
                    out += pickStatus(rng_);
                    break;
                case dump::kPolicy:
                    out += names_[static_cast<std::size_t>(policy)];
                    break;
                case dump::kSchedule:
                    out += isDailyPolicy(policy) ? "Daily_" : "Weekly_";
                    out += scheduleSuffix(type);
                    break;
                case dump::kClient:
                    out += "srv";
                    appendPadded(out, static_cast<int>((policy * 7 + rng_.below(12)) % 400), 3);
                    out += ".corp.local";
                    break;
                case 7:
                    out += rng_.below(2) == 0 ? "media01" : "media02";
                    break;
                case dump::kStart:
                    appendNumber(out, start);
                    break;
                case dump::kElapsed:
                    appendNumber(out, elapsed);
                    break;
                case dump::kEnd:
                    appendNumber(out, start + elapsed);
                    break;
                case dump::kPageFlag:
                    if (pageFlag)
                        out += '1';
                    break;
                case dump::kKilobytes:
                    appendNumber(out, kbytes);
                    break;
                case dump::kFiles:
                    appendNumber(out, kbytes / (40 + rng_.below(400)) + 1);
                    break;
                case 16:
                    out += "/";
                    break;
                case dump::kScheduleType:
                    appendNumber(out, type);
                    break;
                case dump::kRetention:
                    appendRetention(out, rng_);
                    break;
                default: {
                    if (bitsLeft == 0) {
                        bits = rng_.next();
                        bitsLeft = 32;
                    }
                    const std::string_view filler = kFiller[bits & 3];
                    out += filler;
                    // Only the middle grows long, as the tries and their
                    // notes do in a real dump; the fixed fields stay short.
                    if (field > dump::kRetention && field < flaggedRateField)
                        fillers_.push_back({out.size(), filler.size()});
                    bits >>= 2;
                    --bitsLeft;
                }
            }
        }
    }

  private:
    // Mostly minutes, some hours, a few long runs.
    long long pickElapsed() {
        const std::uint32_t roll = rng_.below(100);
        if (roll < 70)
            return 30 + rng_.below(1800);
        if (roll < 95)
            return 1800 + rng_.below(5400);
        return 7200 + rng_.below(28800);
    }

    const DumpOptions& options_;
    Rng rng_;
    std::vector<std::size_t> counts_;
    std::vector<std::string> names_;
    double spanSeconds_;
    std::string line_;  // the line before its fillers are lengthened
    std::vector<Filler> fillers_;
};

}  // namespace

std::string policyName(int index) {
    std::string name(kKinds[static_cast<std::size_t>(index) % kKinds.size()]);
    name += '_';
    appendPadded(name, index / static_cast<int>(kKinds.size()) + 1);
    return name;
}

bool isDailyPolicy(int index) {
    return kKinds[static_cast<std::size_t>(index) % kKinds.size()].starts_with("daily");
}

std::uintmax_t writeDump(const std::filesystem::path& dir, const DumpOptions& options) {
    const std::filesystem::path path = fileIn(dir, "bpdbjobs.txt");
    {
        LineWriter dump(path, "bpdbjobs.txt");
        JobWriter jobs(options);
        std::string buffer;
        buffer.reserve(kFlushAt + 4096);
        for (long long index = 0; index < options.jobs; ++index) {
            jobs.append(buffer, index);
            if (buffer.size() >= kFlushAt) {
                dump.write(buffer);
                buffer.clear();
            }
        }
        dump.write(buffer);
        dump.close();
    }
    return std::filesystem::file_size(path);
}

std::string retiredPolicyName(int index) {
    std::string name = "daily_retired_";
    appendPadded(name, index + 1);
    return name;
}

std::vector<std::string> listedPolicies(const DumpOptions& options) {
    std::vector<std::string> listed;
    int daily = 0;
    for (int index = 0; index < options.policies; ++index) {
        if (!isDailyPolicy(index))
            continue;
        if (options.listedDaily < 0) {
            // Leave some daily policies out, as an operator's list would.
            if (daily++ % 5 == 4)
                continue;
        } else if (static_cast<int>(listed.size()) == options.listedDaily) {
            break;
        }
        listed.push_back(policyName(index));
    }
    return listed;
}

void writePolicyList(const std::filesystem::path& dir, const DumpOptions& options) {
    LineWriter list(fileIn(dir, "policy_list.txt"), "policy_list.txt");
    for (const std::string& name : listedPolicies(options))
        list.writeLine(name);
    for (int index = 0; index < options.absentPolicies; ++index)
        list.writeLine(retiredPolicyName(index));
    list.close();
}

void writeConfig(const std::filesystem::path& dir) {
    static constexpr std::array<std::string_view, 29> kLabels = {"1 week",
                                                                 "2 weeks",
                                                                 "3 weeks",
                                                                 "1 month",
                                                                 "2 months",
                                                                 "3 months",
                                                                 "6 months",
                                                                 "9 months",
                                                                 "1 year",
                                                                 "infinity",
                                                                 "2 years",
                                                                 "3 years",
                                                                 "5 years",
                                                                 "7 years",
                                                                 "10 years",
                                                                 "2 days",
                                                                 "3 days",
                                                                 "4 days",
                                                                 "5 days",
                                                                 "6 days",
                                                                 "10 days",
                                                                 "12 days",
                                                                 "2 weeks (vault)",
                                                                 "4 weeks (vault)",
                                                                 "expires immediately",
                                                                 "1 day",
                                                                 "18 months",
                                                                 "30 years",
                                                                 "infinity (legal hold)"};
    LineWriter config(fileIn(dir, "fennick_config.txt"), "fennick_config.txt");
    config.writeLine("# Retention level names for the Backup Report (RLnn=label)");
    std::string line;
    for (std::size_t level = 0; level < kLabels.size(); ++level) {
        line = "RL";
        appendPadded(line, static_cast<int>(level));
        line += '=';
        line += kLabels[level];
        config.writeLine(line);
    }
    config.close();
}

std::uintmax_t generateAppDir(const std::filesystem::path& dir, const DumpOptions& options) {
    std::filesystem::create_directories(dir);
    writeConfig(dir);
    writePolicyList(dir, options);
    return writeDump(dir, options);
}

}  // namespace fennick::bench
