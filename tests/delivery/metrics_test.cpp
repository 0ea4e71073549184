#include "delivery/metrics.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <charconv>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"
#include "support/special_files.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::failureOf;
using test::TempDir;

// A metrics text read back: each sample's value by its name without the
// "fennick_report_" prefix, the label parts as written, the values as
// written. Every sample must follow its own HELP and TYPE gauge lines.
using Values = std::map<std::string, double>;
struct Samples {
    Values values;
    std::set<std::string> labels;
    std::vector<std::string> texts;
};

Samples samplesOf(const std::string& text) {
    EXPECT_TRUE(text.ends_with('\n'));
    Samples samples;
    std::istringstream lines(text);
    std::string line, helped, typed;
    while (std::getline(lines, line)) {
        if (line.starts_with("# HELP ")) {
            helped = line.substr(7, line.find(' ', 7) - 7);
            continue;
        }
        if (line.starts_with("# TYPE ")) {
            typed = line.substr(7);
            continue;
        }
        const std::size_t brace = line.find('{'), close = line.rfind("} ");
        const std::string name = line.substr(0, brace);
        EXPECT_EQ(helped, name);
        EXPECT_EQ(typed, name + " gauge");
        EXPECT_TRUE(name.starts_with("fennick_report_")) << name;
        samples.labels.insert(line.substr(brace, close + 1 - brace));
        samples.texts.push_back(line.substr(close + 2));
        double value = -1;
        const auto [end, error] =
            std::from_chars(line.data() + close + 2, line.data() + line.size(), value);
        EXPECT_TRUE(error == std::errc() && end == line.data() + line.size()) << line;
        EXPECT_TRUE(samples.values.emplace(name.substr(15), value).second) << name;
    }
    return samples;
}

const RunOutcome kSuccess{"/srv/fennick", true, 1796623201.25, 2.5, {477, 30, 2, 1}, std::nullopt};
const RunOutcome kFailure{"/srv/fennick", false, 1796709601.5, 0.125, {}, std::nullopt};

TEST(MetricsText, SuccessReportsItsOwnTimeAndCounts) {
    const std::string text = metricsText(kSuccess, std::nullopt);
    const Samples samples = samplesOf(text);
    EXPECT_EQ(samples.values, (Values{{"success", 1},
                                      {"last_run_timestamp_seconds", 1796623201.25},
                                      {"last_success_timestamp_seconds", 1796623201.25},
                                      {"jobs", 477},
                                      // A job still running is highlighted, not failed.
                                      {"failed_jobs", 28},
                                      {"highlighted_jobs", 30},
                                      {"policies_not_found", 1},
                                      {"duration_seconds", 2.5}}));
    EXPECT_EQ(samples.labels, (std::set<std::string>{"{folder=\"/srv/fennick\"}"}));
    // An earlier success does not outweigh this one.
    EXPECT_EQ(metricsText(kSuccess, EarlierSuccess{5, {1, 1, 0, 1}}), text);
}

TEST(MetricsText, NumbersKeepMillisecondsInPlainDigits) {
    struct Case {
        double finished, duration;
        const char* finishedText;
        const char* durationText;
    };
    const Case cases[] = {
        {1796623201.123456, 0.0004, "1796623201.123", "0"},
        {1e15, 1e-7, "1000000000000000", "0"},
        {12.0, -0.0, "12", "0"},
    };
    for (const Case& c : cases) {
        const RunOutcome run{"/f", false, c.finished, c.duration, {}, std::nullopt};
        const auto texts = samplesOf(metricsText(run, std::nullopt)).texts;
        EXPECT_EQ(texts, (std::vector<std::string>{"0", c.finishedText, "0", c.durationText}));
    }
    // Only a hand-edited file brings such a success time; it still reads back.
    const Samples huge = samplesOf(metricsText(kFailure, EarlierSuccess{1e300, {1, 2, 0, 3}}));
    EXPECT_EQ(huge.values.at("last_success_timestamp_seconds"), 1e300);
}

TEST(MetricsText, MailLineOnlyWhenTheRunSendsMail) {
    const Values without = samplesOf(metricsText(kFailure, std::nullopt)).values;
    for (const std::optional<bool> delivered : {std::optional<bool>(), {true}, {false}}) {
        RunOutcome run = kFailure;
        run.mailDelivered = delivered;
        const std::string text = metricsText(run, std::nullopt);
        Values expected = without;
        if (delivered)
            expected["mail_delivered"] = *delivered ? 1 : 0;
        EXPECT_EQ(samplesOf(text).values, expected);
        // The other gauges keep their text, so the new one comes last.
        EXPECT_TRUE(text.starts_with(metricsText(kFailure, std::nullopt)));
    }
}

// Only a history the run used has a count: no line reads as "no data",
// where a 0 would read as an emptied history.
TEST(MetricsText, HistoryJobsOnlyFromAHistoryTheRunUsed) {
    const HistoryState used{.file = "h.db", .jobs = 1200, .recorded = 3, .error = ""};
    HistoryState unread = used;  // a count beside an error is none to trust
    unread.error = "h.db: locked";
    const std::string without = metricsText(kSuccess, std::nullopt);
    const std::string gauge =
        "\n# TYPE fennick_history_jobs gauge\n"
        "fennick_history_jobs{folder=\"/srv/fennick\"} 1200\n";
    const HistoryState* const histories[] = {nullptr, &used, &unread};
    for (const HistoryState* history : histories) {
        RunOutcome run = kSuccess;
        run.history = history;
        const std::string text = metricsText(run, std::nullopt);
        EXPECT_TRUE(text.starts_with(without));
        EXPECT_EQ(text.substr(without.size()).starts_with("# HELP fennick_history_jobs "),
                  history == &used);
        EXPECT_EQ(text.ends_with(gauge), history == &used);
    }
}

// The findings' gauges come from this run only; each policy's last success
// is said once, and one only on policy_intervals.txt carries its interval,
// so that a rule for the daily policies can leave it out.
TEST(MetricsText, OverdueAndSuspiciousCountsAndEachPolicysLastSuccessOnce) {
    using Verdict = IntervalPolicy::Verdict;
    Findings findings;
    findings.counts = {.jobs = 9, .failing = 1, .overdue = 2, .suspicious = 3};
    findings.dailyLastSuccess = {{"PolA", 1796000000.0}, {"PolB", 1795000000.0}};
    findings.intervals = {// Daily as well, with a newer success from the history.
                          {"PolB", 3, 1795500000.0, 1795500000.0, Verdict::Kept},
                          {"PolW", 7, 1795400000.0, 1795900000.0, Verdict::Overdue},
                          {"PolN", 30, std::nullopt, std::nullopt, Verdict::Overdue}};
    const std::string label = "{folder=\"/srv/fennick\"";
    const std::string counts =
        "# TYPE fennick_report_overdue_policies gauge\n"
        "fennick_report_overdue_policies" +
        label +
        "} 2\n"
        "# HELP fennick_report_suspicious_jobs ";
    const std::string suspicious =
        "# TYPE fennick_report_suspicious_jobs gauge\n"
        "fennick_report_suspicious_jobs" +
        label +
        "} 3\n"
        "# HELP fennick_policy_last_success_timestamp_seconds ";
    const std::string lasts =
        "# TYPE fennick_policy_last_success_timestamp_seconds gauge\n"
        "fennick_policy_last_success_timestamp_seconds" +
        label +
        ",policy=\"PolA\"} 1796000000\n"
        "fennick_policy_last_success_timestamp_seconds" +
        label +
        ",policy=\"PolB\"} 1795500000\n"
        "fennick_policy_last_success_timestamp_seconds" +
        label + ",policy=\"PolW\",interval_days=\"7\"} 1795400000\n";
    struct Case {
        bool success;
        const Findings* findings;
    };
    for (const Case c : {Case{true, &findings}, Case{false, &findings}, Case{true, nullptr}}) {
        SCOPED_TRACE(std::to_string(c.success) + (c.findings ? " with findings" : ""));
        RunOutcome run = c.success ? kSuccess : kFailure;
        run.findings = c.findings;
        const std::string text = metricsText(run, std::nullopt);
        const bool said = c.success && c.findings;
        EXPECT_EQ(text.find(counts) != std::string::npos, said) << text;
        EXPECT_EQ(text.find(suspicious) != std::string::npos, said);
        EXPECT_EQ(text.find(lasts) != std::string::npos, said);
        EXPECT_EQ(text.find("PolN"), std::string::npos);  // no success to tell
        EXPECT_EQ(text.find("overdue") != std::string::npos, said);
    }
}

// Of the mail's 14 nights, how many each daily policy failed, each policy
// once; no line when the nights were not gathered or the run failed.
TEST(MetricsText, EachDailyPolicysFailedNightsOfTheMailsFourteen) {
    using enum NightState;
    Findings findings;
    findings.nights = nightsOf({1795990000, 1796076400}, kPageNights);
    NightStates polA{Failed, Ok, Failed, Unknown, Partial, Running, None};
    polA.resize(13, Ok);
    polA.push_back(Failed);            // night 13, the oldest shown
    polA.resize(kPageNights, Failed);  // not shown: not counted
    findings.dailyNights = {{"PolA", polA},
                            {"caf\xE9", NightStates(kPageNights, Ok)},
                            {"PolA", NightStates(kPageNights, Ok)}};
    const std::string lines =
        "# TYPE fennick_policy_failed_nights gauge\n"
        "fennick_policy_failed_nights{folder=\"/srv/fennick\",policy=\"PolA\"} 3\n"
        "fennick_policy_failed_nights{folder=\"/srv/fennick\",policy=\"caf\xC3\xA9\"} 0\n";
    Findings without = findings;
    without.nights.clear();
    struct Case {
        bool success;
        const Findings* findings;
        bool said;
    };
    for (const Case c : {Case{true, &findings, true}, Case{true, &without, false},
                         Case{false, &findings, false}}) {
        SCOPED_TRACE(std::to_string(c.success) + (c.said ? " said" : ""));
        RunOutcome run = c.success ? kSuccess : kFailure;
        run.findings = c.findings;
        const std::string text = metricsText(run, std::nullopt);
        const std::size_t help = text.find("# HELP fennick_policy_failed_nights Of the last 14 ");
        EXPECT_EQ(help != std::string::npos, c.said) << text;
        if (!c.said)
            continue;
        const std::size_t type = text.find('\n', help) + 1;
        EXPECT_EQ(text.substr(type, lines.size()), lines);
        EXPECT_EQ(text.find("fennick_policy_failed_nights", type + lines.size()),
                  std::string::npos);
    }
}

TEST(Metrics, FailedRunKeepsTheLastSuccessOnlyForItsOwnFolder) {
    struct Case {
        const char* name;
        std::optional<std::string> earlier;  // the file before the failed run
        bool kept;
        double failedKept = 28;  // the failed jobs kept
    };
    const Case cases[] = {
        {"after a success", metricsText(kSuccess, std::nullopt), true},
        {"after a failure that kept a success",
         metricsText(kFailure, EarlierSuccess{1796623201.25, {477, 30, 2, 1}}), true},
        {"no file", std::nullopt, false},
        {"never a success", metricsText(kFailure, std::nullopt), false},
        {"another folder's success",
         metricsText({"/srv/other", true, 1796623201.25, 1, {477, 30, 2, 1}, std::nullopt},
                     std::nullopt),
         false},
        {"a folder whose name starts the same",
         metricsText({"/srv/fennick2", true, 1796623201.25, 1, {477, 30, 2, 1}, std::nullopt},
                     std::nullopt),
         false},
        {"a file too large to be one of ours",
         metricsText(kSuccess, std::nullopt) + std::string(std::size_t{1} << 20, '#'), false},
        {"garbage", "fennick_report_jobs{folder=\"/srv/fennick\"} lots\n\x01\xFF", false},
        // An earlier version wrote no highlighted rows: all its failed ones were.
        {"a success of an earlier version",
         "fennick_report_last_success_timestamp_seconds{folder=\"/srv/fennick\"} 1796623201.25\n"
         "fennick_report_jobs{folder=\"/srv/fennick\"} 477\n"
         "fennick_report_failed_jobs{folder=\"/srv/fennick\"} 30\n"
         "fennick_report_policies_not_found{folder=\"/srv/fennick\"} 1\n",
         true, 30},
        {"fewer highlighted rows than failed ones",
         "fennick_report_last_success_timestamp_seconds{folder=\"/srv/fennick\"} 17\n"
         "fennick_report_jobs{folder=\"/srv/fennick\"} 4\n"
         "fennick_report_failed_jobs{folder=\"/srv/fennick\"} 2\n"
         "fennick_report_highlighted_jobs{folder=\"/srv/fennick\"} 1\n"
         "fennick_report_policies_not_found{folder=\"/srv/fennick\"} 0\n",
         false},
        {"a count missing",
         "fennick_report_last_success_timestamp_seconds{folder=\"/srv/fennick\"} 17\n"
         "fennick_report_jobs{folder=\"/srv/fennick\"} 4\n"
         "fennick_report_failed_jobs{folder=\"/srv/fennick\"} 1\n",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.earlier)
            dir.write("fennick.prom", *c.earlier);

        writeMetrics(dir.file("fennick.prom"), kFailure);

        Values expected{{"success", 0},
                        {"last_run_timestamp_seconds", 1796709601.5},
                        {"last_success_timestamp_seconds", 0},
                        {"duration_seconds", 0.125}};
        if (c.kept) {
            expected["last_success_timestamp_seconds"] = 1796623201.25;
            expected.insert({{"jobs", 477},
                             {"failed_jobs", c.failedKept},
                             {"highlighted_jobs", 30},
                             {"policies_not_found", 1}});
        }
        EXPECT_EQ(samplesOf(dir.read("fennick.prom")).values, expected);
    }
}

TEST(Metrics, FolderLabelIsEscapedAndReadBack) {
    struct Case {
        const char* folder;
        const char* label;
    };
    const Case cases[] = {
        {"/srv/a\"b\\c\nd", "{folder=\"/srv/a\\\"b\\\\c\\nd\"}"},
        {"/srv/caf\xC3\xA9", "{folder=\"/srv/caf\xC3\xA9\"}"},
        {"/srv/caf\xE9", "{folder=\"/srv/caf\xEF\xBF\xBD\"}"},  // not UTF-8: U+FFFD
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RunOutcome success = kSuccess, failure = kFailure;
        success.folder = failure.folder = c.folder;
        const std::string text = metricsText(success, std::nullopt);
        EXPECT_EQ(samplesOf(text).labels, (std::set<std::string>{c.label}));
        EXPECT_EQ(earlierSuccess(text, c.folder), (EarlierSuccess{1796623201.25, {477, 30, 2, 1}}));
    }
}

TEST(Metrics, WriteReplacesTheFileWholeAndLeavesNothingElse) {
    TempDir dir;
    dir.write("fennick.prom", std::string(100000, '#') + "\nold_metric 1\n");
    const mode_t old = ::umask(077);
    writeMetrics(dir.file("fennick.prom"), kSuccess);
    ::umask(old);

    EXPECT_EQ(dir.read("fennick.prom"), metricsText(kSuccess, std::nullopt));
    EXPECT_EQ(dir.names(), (std::set<std::string>{"fennick.prom"}));
    struct stat status {};
    ASSERT_EQ(::stat(dir.file("fennick.prom").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

// Two runs may end at once (two folders sharing a file, or a run that fails
// at once while the one before it writes): whoever reads the file meanwhile
// finds a whole text, and no writer fails for the other's sake.
TEST(Metrics, WritersAtTheSameTimeEachPutAWholeFileInPlace) {
    TempDir dir;
    const auto file = dir.file("fennick.prom");
    const std::string whole = metricsText(kSuccess, std::nullopt);
    std::vector<pid_t> writers;
    for (int w = 0; w < 3; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failed = 0;
            for (int i = 0; i < 300; ++i) {
                try {
                    writeMetrics(file, kSuccess);
                } catch (const Failure&) {
                    ++failed;
                }
            }
            ::_exit(failed == 0 ? 0 : 1);
        }
        writers.push_back(pid);
    }
    int partial = 0;
    for (int i = 0; i < 2000; ++i) {
        const auto text = dir.bytes("fennick.prom");
        if (text && *text != whole)
            ++partial;
    }
    for (const pid_t pid : writers) {
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(dir.read("fennick.prom"), whole);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"fennick.prom"}));
}

TEST(Metrics, WriteThatCannotFinishNamesTheFileAndRemovesItsPart) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("taken"));
    dir.write("taken/inside", "x");  // a folder in the way
    std::filesystem::create_symlink("loop", dir.file("loop"));
    const std::filesystem::path cases[] = {dir.file("taken"), dir.file("no/such/folder.prom"),
                                           dir.file("loop")};
    for (const auto& file : cases) {
        SCOPED_TRACE(file);
        const auto failure = failureOf([&] { writeMetrics(file, kSuccess); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
        EXPECT_EQ(failure->file(), file.filename().string());
        EXPECT_NE(failure->detail().find(file.string()), std::string::npos) << failure->what();
    }
    EXPECT_EQ(dir.names(), (std::set<std::string>{"taken", "loop"}));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("loop")));
}

// Renaming onto /dev/null breaks the host, onto a link loses the link, and
// a FIFO there would hold a failed run (which reads the last success) for
// ever: only a regular file is replaced, through any links that lead to it.
TEST(Metrics, WriteLeavesWhatIsNotARegularFileAlone) {
    TempDir dir;
    std::string notMade;
    for (const test::SpecialFile& special : test::kSpecialFiles) {
        for (const bool throughLink : {false, true}) {
            SCOPED_TRACE(std::string(special.kind) + (throughLink ? " through a link" : ""));
            dir.clear();
            const auto thing = dir.file("thing");
            if (!special.make(thing)) {
                notMade += std::string(" ") + special.kind;
                continue;
            }
            auto file = thing;
            std::string detail = thing.string() + " (";
            if (throughLink) {
                file = dir.file("fennick.prom");
                std::filesystem::create_symlink("thing", file);
                detail = file.string() + " (links to " + thing.string() + ": ";
            }
            detail += std::string(special.kind) + ", not a regular file)";
            struct stat before {};
            ASSERT_EQ(::lstat(thing.c_str(), &before), 0);
            const auto names = dir.names();

            for (const RunOutcome& run : {kSuccess, kFailure}) {
                const auto failure = test::failureWithin([file, run] { writeMetrics(file, run); });
                ASSERT_TRUE(failure);
                EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
                EXPECT_EQ(failure->what(),
                          "Cannot create file: " + file.filename().string() + " " + detail);
            }
            struct stat after {};
            ASSERT_EQ(::lstat(thing.c_str(), &after), 0);
            EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode);
            EXPECT_EQ(dir.names(), names);  // the link too, and no hidden part
            EXPECT_EQ(throughLink, std::filesystem::is_symlink(file));
        }
    }
    if (!notMade.empty())
        GTEST_SKIP() << "could not make:" << notMade;
}

// Every name under `dir`, folders and links included, relative to it.
std::set<std::string> allNames(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        names.insert(entry.path().lexically_relative(dir).string());
    return names;
}

TEST(Metrics, WriteThroughLinksReplacesTheFileTheyLeadToAndKeepsThem) {
    struct Link {
        const char* name;
        const char* target;  // "@" stands for the test's folder
    };
    struct Case {
        const char* name;
        std::vector<Link> links;  // the first is the file written
        const char* real;         // where they lead
        bool exists;              // with an earlier success in it
    };
    const Case cases[] = {
        {"an absolute link", {{"fennick.prom", "@/real.prom"}}, "real.prom", true},
        {"a dangling link", {{"fennick.prom", "@/real.prom"}}, "real.prom", false},
        {"a relative link into a folder",
         {{"fennick.prom", "sub/real.prom"}},
         "sub/real.prom",
         true},
        // The second link leads on from its own folder, not the first's.
        {"a chain of two links",
         {{"fennick.prom", "sub/middle.prom"}, {"sub/middle.prom", "../real.prom"}},
         "real.prom",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::filesystem::create_directory(dir.file("sub"));
        std::set<std::string> names{"sub", c.real};
        for (const Link& link : c.links) {
            std::string target = link.target;
            if (target.starts_with('@'))
                target.replace(0, 1, dir.path().string());
            std::filesystem::create_symlink(target, dir.file(link.name));
            names.insert(link.name);
        }
        if (c.exists)
            dir.write(c.real, metricsText(kSuccess, std::nullopt));

        writeMetrics(dir.file(c.links.front().name), kFailure);

        std::optional<EarlierSuccess> earlier;
        if (c.exists)
            earlier = EarlierSuccess{kSuccess.finished, kSuccess.counts};
        EXPECT_EQ(dir.read(c.real), metricsText(kFailure, earlier));
        for (const Link& link : c.links)
            EXPECT_TRUE(std::filesystem::is_symlink(dir.file(link.name))) << link.name;
        EXPECT_EQ(allNames(dir.path()), names);  // no hidden part left anywhere
    }
}

}  // namespace
}  // namespace fennick
