#include "delivery/metrics.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <charconv>
#include <map>
#include <set>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::failureOf;
using test::TempDir;

// The samples of a metrics text by name, with the label part as written;
// every sample must follow its own HELP and TYPE gauge lines.
struct Samples {
    std::map<std::string, std::string> labels;
    std::map<std::string, double> values;
};

Samples samplesOf(const std::string& text) {
    Samples samples;
    std::string helped, typed;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        EXPECT_NE(end, std::string::npos) << "the last line has no end";
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.starts_with("# HELP ")) {
            helped = line.substr(7, line.find(' ', 7) - 7);
        } else if (line.starts_with("# TYPE ")) {
            typed = line.substr(7, line.find(' ', 7) - 7);
            EXPECT_TRUE(line.ends_with(" gauge")) << line;
        } else {
            const std::size_t brace = line.find('{');
            const std::size_t close = line.rfind("} ");
            const std::string name = line.substr(0, brace);
            EXPECT_EQ(name, helped);
            EXPECT_EQ(name, typed);
            EXPECT_EQ(samples.labels.count(name), 0u) << name;
            samples.labels[name] = line.substr(brace, close + 1 - brace);
            double value = -1;
            const char* first = line.data() + close + 2;
            const auto result = std::from_chars(first, line.data() + line.size(), value);
            EXPECT_TRUE(result.ec == std::errc() && result.ptr == line.data() + line.size())
                << line;
            samples.values[name] = value;
        }
    }
    return samples;
}

const std::set<std::string> kAlways = {
    "fennick_report_success", "fennick_report_last_run_timestamp_seconds",
    "fennick_report_last_success_timestamp_seconds", "fennick_report_duration_seconds"};
const std::set<std::string> kCounts = {"fennick_report_jobs", "fennick_report_failed_jobs",
                                       "fennick_report_policies_not_found"};

std::set<std::string> namesOf(const Samples& samples) {
    std::set<std::string> names;
    for (const auto& [name, value] : samples.values)
        names.insert(name);
    return names;
}

std::set<std::string> allNames() {
    std::set<std::string> names = kAlways;
    names.insert(kCounts.begin(), kCounts.end());
    return names;
}

const RunOutcome kSuccess{"/srv/fennick", true, 1796623201.25, 2.5, {477, 30, 1}};
const RunOutcome kFailure{"/srv/fennick", false, 1796709601.5, 0.125, {}};

TEST(MetricsText, SuccessReportsItsOwnTimeAndCounts) {
    const std::string text = metricsText(kSuccess, std::nullopt);
    const Samples samples = samplesOf(text);
    EXPECT_EQ(namesOf(samples), allNames());
    for (const auto& [name, label] : samples.labels)
        EXPECT_EQ(label, "{folder=\"/srv/fennick\"}") << name;
    EXPECT_EQ(samples.values.at("fennick_report_success"), 1);
    EXPECT_EQ(samples.values.at("fennick_report_last_run_timestamp_seconds"), 1796623201.25);
    EXPECT_EQ(samples.values.at("fennick_report_last_success_timestamp_seconds"), 1796623201.25);
    EXPECT_EQ(samples.values.at("fennick_report_jobs"), 477);
    EXPECT_EQ(samples.values.at("fennick_report_failed_jobs"), 30);
    EXPECT_EQ(samples.values.at("fennick_report_policies_not_found"), 1);
    EXPECT_EQ(samples.values.at("fennick_report_duration_seconds"), 2.5);
    // An earlier success does not outweigh this one.
    EXPECT_EQ(metricsText(kSuccess, EarlierSuccess{5, {1, 1, 1}}), text);
}

TEST(MetricsText, NumbersKeepMillisecondsInPlainDigits) {
    RunOutcome run = kSuccess;
    run.finished = 1796623201.123456;
    run.duration = 0.0004;
    const std::string text = metricsText(run, std::nullopt);
    EXPECT_NE(text.find("} 1796623201.123\n"), std::string::npos) << text;
    EXPECT_NE(text.find("fennick_report_duration_seconds{folder=\"/srv/fennick\"} 0\n"),
              std::string::npos)
        << text;
    // No exponent and no locale's separators, whatever the size.
    run.duration = 1e-7;
    run.finished = 1e15;
    const std::string large = metricsText(run, std::nullopt);
    for (const auto& [name, label] : samplesOf(large).labels) {
        const std::size_t start = large.find(name + label + ' ') + name.size() + label.size() + 1;
        const std::string value = large.substr(start, large.find('\n', start) - start);
        EXPECT_EQ(value.find_first_not_of("0123456789."), std::string::npos) << value;
    }
}

TEST(Metrics, FailedRunKeepsTheLastSuccessOnlyForItsOwnFolder) {
    struct Case {
        const char* name;
        std::optional<std::string> earlier;  // the file before the failed run
        bool kept;
    };
    const Case cases[] = {
        {"after a success", metricsText(kSuccess, std::nullopt), true},
        {"after a failure that kept a success",
         metricsText(kFailure, EarlierSuccess{1796623201.25, {477, 30, 1}}), true},
        {"no file", std::nullopt, false},
        {"never a success", metricsText(kFailure, std::nullopt), false},
        {"another folder's success",
         metricsText({"/srv/other", true, 1796623201.25, 1, {477, 30, 1}}, std::nullopt), false},
        {"a folder whose name starts the same",
         metricsText({"/srv/fennick2", true, 1796623201.25, 1, {477, 30, 1}}, std::nullopt), false},
        {"garbage", "fennick_report_jobs{folder=\"/srv/fennick\"} lots\n\x01\xFF", false},
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

        const Samples samples = samplesOf(dir.read("fennick.prom"));
        EXPECT_EQ(samples.values.at("fennick_report_success"), 0);
        EXPECT_EQ(samples.values.at("fennick_report_last_run_timestamp_seconds"), 1796709601.5);
        EXPECT_EQ(samples.values.at("fennick_report_duration_seconds"), 0.125);
        if (c.kept) {
            EXPECT_EQ(namesOf(samples), allNames());
            EXPECT_EQ(samples.values.at("fennick_report_last_success_timestamp_seconds"),
                      1796623201.25);
            EXPECT_EQ(samples.values.at("fennick_report_jobs"), 477);
            EXPECT_EQ(samples.values.at("fennick_report_failed_jobs"), 30);
            EXPECT_EQ(samples.values.at("fennick_report_policies_not_found"), 1);
        } else {
            EXPECT_EQ(namesOf(samples), kAlways);
            EXPECT_EQ(samples.values.at("fennick_report_last_success_timestamp_seconds"), 0);
        }
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
        for (const auto& [name, label] : samplesOf(text).labels)
            EXPECT_EQ(label, c.label) << name;
        EXPECT_EQ(earlierSuccess(text, c.folder), (EarlierSuccess{1796623201.25, {477, 30, 1}}));
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

TEST(Metrics, WriteThatCannotFinishNamesTheFileAndRemovesItsPart) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("taken"));
    dir.write("taken/inside", "x");  // a folder in the way: the rename fails
    const std::filesystem::path cases[] = {dir.file("taken"), dir.file("no/such/folder.prom")};
    for (const auto& file : cases) {
        SCOPED_TRACE(file);
        const auto failure = failureOf([&] { writeMetrics(file, kSuccess); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
        EXPECT_EQ(failure->file(), file.filename().string());
        EXPECT_NE(failure->detail().find(file.string()), std::string::npos) << failure->what();
    }
    EXPECT_EQ(dir.names(), (std::set<std::string>{"taken"}));
}

}  // namespace
}  // namespace fennick
