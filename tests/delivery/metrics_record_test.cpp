#include "delivery/metrics_record.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::failureOf;
using test::TempDir;

ino_t inodeOf(const std::filesystem::path& file) {
    struct stat status {};
    EXPECT_EQ(::stat(file.c_str(), &status), 0) << file;
    return status.st_ino;
}

TEST(MetricsRecord, ListsEachPathOnceAbsoluteAndInTheOrderWritten) {
    TempDir dir;
    const auto record = dir.file("metrics-files");
    // The purge removes absolute paths only; a relative one is the run's own.
    EXPECT_TRUE(recordWrittenMetrics(record, "here.prom").empty());
    const std::string here = (std::filesystem::current_path() / "here.prom").string();
    EXPECT_EQ(dir.read("metrics-files"), here + "\n");
    EXPECT_TRUE(recordWrittenMetrics(record, "/srv/textfile/fennick.prom").empty());
    const std::string both = here + "\n/srv/textfile/fennick.prom\n";
    EXPECT_EQ(dir.read("metrics-files"), both);

    // Every daily run writes the same path: the record is left as it is.
    const ino_t before = inodeOf(record);
    EXPECT_TRUE(recordWrittenMetrics(record, here).empty());
    EXPECT_EQ(dir.read("metrics-files"), both);
    EXPECT_EQ(inodeOf(record), before);
    EXPECT_EQ(dir.names(), std::set<std::string>{"metrics-files"});
}

TEST(MetricsRecord, FullRecordDropsTheOldestForTheNewest) {
    TempDir dir;
    const auto record = dir.file("metrics-files");
    const auto path = [](std::size_t i) { return "/m/" + std::to_string(i) + ".prom"; };
    std::string expected;
    for (std::size_t i = 0; i < kMostRecordedMetricsFiles; ++i)
        expected += path(i) + '\n';
    dir.write("metrics-files", expected);
    EXPECT_TRUE(recordWrittenMetrics(record, path(0)).empty());  // listed: nothing goes
    const auto dropped = recordWrittenMetrics(record, path(kMostRecordedMetricsFiles));
    EXPECT_EQ(dropped, std::vector<std::filesystem::path>{path(0)});
    expected = expected.substr(expected.find('\n') + 1) + path(kMostRecordedMetricsFiles) + '\n';
    EXPECT_EQ(dir.read("metrics-files"), expected);
}

TEST(MetricsRecord, PathWithALineBreakIsRefusedAndTheRecordKept) {
    TempDir dir;
    dir.write("metrics-files", "/m/a.prom\n");
    const auto failure =
        failureOf([&] { recordWrittenMetrics(dir.file("metrics-files"), "/m/b\n/m/a.prom"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::InvalidArgument);
    EXPECT_EQ(dir.read("metrics-files"), "/m/a.prom\n");
}

TEST(MetricsRecord, RecordThatCannotBeWrittenIsCannotCreateNamingIt) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("taken"));  // a folder in the record's place
    for (const auto& record : {dir.file("no-such-folder/metrics-files"), dir.file("taken")}) {
        SCOPED_TRACE(record);
        const auto failure = failureOf([&] { recordWrittenMetrics(record, "/m/a.prom"); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
        EXPECT_NE(failure->detail().find(record.string()), std::string::npos) << failure->what();
    }
    EXPECT_EQ(dir.names(), std::set<std::string>{"taken"});
}

// As systemd passes it; each test here runs in a process of its own.
void stateDirectory(const std::string& value) {
    ::setenv("STATE_DIRECTORY", value.c_str(), 1);
}

TEST(MetricsRecordInState, OutsideTheServiceNothingIsRecordedAnywhere) {
    TempDir dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    ::unsetenv("STATE_DIRECTORY");
    EXPECT_EQ(recordWrittenMetricsInState("/m/a.prom"), std::nullopt);
    stateDirectory("");
    EXPECT_EQ(recordWrittenMetricsInState("/m/a.prom"), std::nullopt);
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(dir.names().empty());
}

TEST(MetricsRecordInState, RecordsInTheFirstStateFolderAndNotesWhatItCannot) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("state"));
    stateDirectory(dir.file("state").string() + ":" + dir.file("other").string());
    EXPECT_EQ(recordWrittenMetricsInState("/m/a.prom"), std::nullopt);
    EXPECT_EQ(dir.read("state/metrics-files"), "/m/a.prom\n");

    // Notes, one line each, never a throw: the metrics are out already.
    const auto newline = recordWrittenMetricsInState("/m/b\n.prom");
    ASSERT_TRUE(newline);
    EXPECT_NE(newline->find("/m/b\\n.prom is not recorded"), std::string::npos) << *newline;
    stateDirectory(dir.file("gone").string());
    const auto missing = recordWrittenMetricsInState("/m/a.prom");
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->find("Cannot create file: metrics-files"), std::string::npos) << *missing;
    stateDirectory("relative");
    EXPECT_TRUE(recordWrittenMetricsInState("/m/a.prom"));
    EXPECT_EQ(dir.names(), (std::set<std::string>{"state"}));
    EXPECT_EQ(dir.read("state/metrics-files"), "/m/a.prom\n");
}

}  // namespace
}  // namespace fennick
