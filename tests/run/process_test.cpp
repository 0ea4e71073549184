#include "run/report_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "common/failure.h"
#include "run/run_fixture.h"
#include "run/run_lock.h"

namespace fennick {
namespace {

using namespace std::chrono_literals;
using test::jobAt;
using test::kPage;
using test::kWindowEnd;
using test::kWindowStart;

const char* const kOutputs[] = {"out.txt", "out2.txt", "out1.txt", kPage};

const std::string kTableHeader =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,Tx Rate,"
    "Job ID,Schedule Type\r\n";
// The job lines of PolA for the dump of ProcessTest.
const std::string kPolARows =
    "PolA,Daily,client2,12/05/2026 23:58:20,12/06/2026 00:59:21,1:01.01,1024,12,1 month,2,5000,"
    "2,Full Backup\r\n"
    ",Daily,client1,12/05/2026,12/05/2026 01:01:01,1:01.01,1024,12,1 month,0,5000,1,"
    "Full Backup\r\n";

class ProcessTest : public test::RunTest {
  protected:
    void SetUp() override {
        RunTest::SetUp();
        // Newest first: after the window, at its last 100 seconds (failed),
        // at its start, and one second before it, which ends the scan.
        dir.write(kDumpFile,
                  jobAt("3", "PolB", kWindowEnd - kWindowStart + 10) +
                      jobAt("2", "PolA", kWindowEnd - kWindowStart - 100, "2", "client2") +
                      jobAt("1", "PolA", 0) + jobAt("0", "PolA", -1));
    }

    void writeEarlierOutputs() const {
        for (const char* name : kOutputs)
            dir.write(name, std::string("earlier ") + name);
    }

    Failure runExpectingFailure(Window& window) const {
        const auto failure = runFailing(window);
        if (!failure) {
            ADD_FAILURE() << "the run did not fail";
            return Failure(FailureKind::InvalidArgument, "");
        }
        return *failure;
    }
};

TEST_F(ProcessTest, CompleteRunWritesExactlyFourFilesAndChangesNoInput) {
    const auto before = dir.snapshot();
    Window window;
    const ReportFile report = run(window);

    EXPECT_EQ(window.StartEpoch, kWindowStart);
    EXPECT_EQ(window.EndEpoch, kWindowEnd);
    EXPECT_EQ(report.page, dir.file(kPage));
    EXPECT_EQ(report.counts, (PageCounts{.jobs = 2, .highlighted = 1, .notFound = 1}));

    auto after = dir.snapshot();
    for (const auto& [name, bytes] : before) {
        EXPECT_EQ(after[name], bytes) << name << " was changed";
        after.erase(name);
    }
    std::set<std::string> written;
    for (const auto& entry : after)
        written.insert(entry.first);
    EXPECT_EQ(written, (std::set<std::string>{"out.txt", "out1.txt", "out2.txt", kPage}));

    EXPECT_EQ(dir.read("out1.txt"), kTableHeader + kPolARows + "PolC,Not Found\r\n");
    EXPECT_EQ(dir.read("out2.txt"), "");
    const std::string page = dir.read(kPage);
    EXPECT_NE(page.find(" Start: 12/05/2026<br> End: 12/06/2026</font>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<TR BGCOLOR=\"DD44EE\"><TD>PolA</TD>"), std::string::npos);
}

TEST_F(ProcessTest, MissingConfigurationChangesNoFileAndKeepsTheWindow) {
    writeEarlierOutputs();
    std::filesystem::remove(dir.file(kConfigFile));
    const auto before = dir.snapshot();
    Window window{11, 22};

    const Failure failure = runExpectingFailure(window);

    EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
    EXPECT_EQ(failure.file(), kConfigFile);
    EXPECT_EQ(dir.snapshot(), before);
    EXPECT_EQ(window.StartEpoch, 11);
    EXPECT_EQ(window.EndEpoch, 22);
}

TEST_F(ProcessTest, MissingDumpKeepsEarlierOutputsButSetsTheNewWindow) {
    writeEarlierOutputs();
    std::filesystem::remove(dir.file(kDumpFile));
    const auto before = dir.snapshot();
    Window window;

    const Failure failure = runExpectingFailure(window);

    EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
    EXPECT_EQ(failure.file(), kDumpFile);
    EXPECT_EQ(dir.snapshot(), before);
    EXPECT_EQ(window.StartEpoch, kWindowStart);
    EXPECT_EQ(window.EndEpoch, kWindowEnd);
}

TEST_F(ProcessTest, MissingPolicyListKeepsEarlierTableAndPage) {
    writeEarlierOutputs();
    std::filesystem::remove(dir.file(kPolicyFile));
    Window window;

    const Failure failure = runExpectingFailure(window);

    EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
    EXPECT_EQ(failure.file(), kPolicyFile);
    EXPECT_NE(dir.read("out.txt"), "earlier out.txt");
    EXPECT_EQ(dir.read("out2.txt"), "");
    EXPECT_EQ(dir.read("out1.txt"), "earlier out1.txt");
    EXPECT_EQ(dir.read(kPage), std::string("earlier ") + kPage);
}

TEST_F(ProcessTest, BadDumpLineStopsBeforeTheTableAndPage) {
    writeEarlierOutputs();
    dir.write(kDumpFile, jobAt("2", "PolA", 100) + "9,a,b\r\n");
    Window window;

    const Failure failure = runExpectingFailure(window);

    EXPECT_EQ(failure.kind(), FailureKind::SubscriptOutOfRange);
    EXPECT_EQ(failure.file(), kDumpFile);
    EXPECT_EQ(failure.line(), 2);
    EXPECT_EQ(dir.read("out.txt").find("PolA,Daily,client1,"), 0u);
    EXPECT_EQ(dir.read("out1.txt"), "earlier out1.txt");
    EXPECT_EQ(dir.read(kPage), std::string("earlier ") + kPage);
}

// The table keeps the earlier policies' lines; the page is never begun, so
// an earlier one stays and none appears where there was none.
TEST_F(ProcessTest, CommaInAPolicyLineStopsTheRunBeforeThePage) {
    for (const bool earlierPage : {true, false}) {
        SCOPED_TRACE(earlierPage ? "with an earlier page" : "without an earlier page");
        dir.clear();
        SetUp();
        if (earlierPage)
            dir.write(kPage, "earlier page");
        dir.write(kPolicyFile, "PolA\r\nPol,X\r\nPolC\r\n");
        Window window;

        const Failure failure = runExpectingFailure(window);

        EXPECT_EQ(failure.kind(), FailureKind::InvalidArgument);
        EXPECT_EQ(failure.file(), kPolicyFile);
        EXPECT_EQ(failure.line(), 2);
        EXPECT_EQ(dir.read("out1.txt"), kTableHeader + kPolARows);
        EXPECT_EQ(dir.read(kPage), earlierPage ? "earlier page" : "<missing>");
        std::set<std::string> names = {std::string(kConfigFile),
                                       std::string(kDumpFile),
                                       std::string(kPolicyFile),
                                       "out.txt",
                                       "out2.txt",
                                       "out1.txt"};
        if (earlierPage)
            names.insert(kPage);
        EXPECT_EQ(dir.names(), names) << "no temporary page is left";
    }
}

TEST_F(ProcessTest, TwoRunsWithSameInputsWriteIdenticalFiles) {
    Window window;
    const ReportFile first = run(window);
    const auto files = dir.snapshot();
    const ReportFile second = run(window);
    EXPECT_EQ(dir.snapshot(), files);
    EXPECT_EQ(second.counts, first.counts);
    EXPECT_EQ(window.StartEpoch, kWindowStart);
}

// A run killed while it wrote the page or a fresh dump leaves a hidden
// temporary file; the next run, by any front end, clears it away, and
// nothing else.
TEST_F(ProcessTest, NextRunRemovesTemporaryFilesLeftBehind) {
    const char* const leftovers[] = {".report_07-12-26.html.partial",
                                     ".report_01-12-26.html.partial", ".bpdbjobs.txt.partial"};
    const char* const kept[] = {"report_01-12-26.html.partial", ".report_notes.txt",
                                ".report_01-12-26.html"};
    for (const char* name : leftovers)
        dir.write(name, "<html>\r\n<STYLE");
    for (const char* name : kept)
        dir.write(name, "the operator's");

    run();

    for (const char* name : leftovers)
        EXPECT_FALSE(dir.exists(name)) << name;
    for (const char* name : kept)
        EXPECT_EQ(dir.read(name), "the operator's") << name;
}

TEST_F(ProcessTest, ReportAloneWritesThePageOfTheGivenWindowAndClearsLeftovers) {
    dir.write("out1.txt", "A,B\r\nP,Not Found\r\n");
    dir.write(".report_06-12-26.html.partial", "<html>");
    const Window window{kWindowStart, kWindowEnd};

    const ReportFile report = writeTodaysReport(dir.path(), window, test::writtenOnDecember7);

    EXPECT_EQ(report.page, dir.file(kPage));
    EXPECT_EQ(report.counts, (PageCounts{.jobs = 0, .highlighted = 0, .notFound = 1}));
    EXPECT_NE(dir.read(kPage).find(" Start: 12/05/2026<br> End: 12/06/2026</font>"),
              std::string::npos);
    EXPECT_FALSE(dir.exists(".report_06-12-26.html.partial"));
    EXPECT_FALSE(dir.exists("out.txt")) << "only the page step runs";
}

// Another run of the folder holds the lock: this one starts no step until it
// is released, then runs whole.
TEST_F(ProcessTest, RunWaitsForAnotherRunOfTheSameFolder) {
    auto other = std::make_unique<RunLock>(dir.path());
    std::atomic<bool> done = false;
    std::optional<Failure> failure;
    std::thread waiting([&] {
        failure = runFailing();
        done = true;
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(done);
    EXPECT_FALSE(dir.exists("out.txt")) << "a step ran while the folder was held";

    other.reset();
    waiting.join();

    EXPECT_FALSE(failure) << failure->what();
    EXPECT_TRUE(dir.exists(kPage));
}

}  // namespace
}  // namespace fennick
