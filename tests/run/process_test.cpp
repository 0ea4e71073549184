#include "pipeline/process.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/failure.h"
#include "job_line.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono;

// 2026-12-05 00:00:00 to 2026-12-06 00:00:00 in the report zone.
constexpr long long kWindowStart = 1796428800 - 28800;
constexpr long long kWindowEnd = 1796515200 - 28800;

Pickers dayOfDecember5() {
    const LocalTime fifth = local_days{2026y / 12 / 5};
    const LocalTime sixth = local_days{2026y / 12 / 6};
    return Pickers{fifth, fifth, sixth, sixth};
}

LocalTime writtenOnDecember7() {
    return local_days{2026y / 12 / 7} + hours{6} + minutes{30};
}

using test::job;

const char* const kOutputs[] = {"out.txt", "out2.txt", "out1.txt", "report_07-12-26.html"};

class ProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("fennick_config.txt", "RL03=1 month\r\n");
        dir.write("bpdbjobs.txt",
                  job(3, "PolB", kWindowEnd + 10, "0") + job(2, "PolA", kWindowEnd - 100, "2") +
                      job(1, "PolA", kWindowStart, "0") + job(0, "PolA", kWindowStart - 1, "0"));
        dir.write("policy_list.txt", "PolA\r\nPolC\r\n");
    }

    void writeEarlierOutputs() const {
        for (const char* name : kOutputs)
            dir.write(name, std::string("earlier ") + name);
    }

    Failure runExpectingFailure(Window& window) const {
        try {
            process(dir.path(), dayOfDecember5(), writtenOnDecember7, window);
        } catch (const Failure& failure) {
            return failure;
        }
        ADD_FAILURE() << "the run did not fail";
        return Failure(FailureKind::InvalidArgument, "");
    }

    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            files[entry.path().filename().string()] = dir.read(entry.path().filename().string());
        }
        return files;
    }

    test::TempDir dir;
};

TEST_F(ProcessTest, CompleteRunWritesExactlyFourFilesAndChangesNoInput) {
    const auto before = snapshot();
    Window window;
    const Window result = process(dir.path(), dayOfDecember5(), writtenOnDecember7, window);

    EXPECT_EQ(window.StartEpoch, kWindowStart);
    EXPECT_EQ(window.EndEpoch, kWindowEnd);
    EXPECT_EQ(result.StartEpoch, kWindowStart);
    EXPECT_EQ(result.EndEpoch, kWindowEnd);

    auto after = snapshot();
    for (const auto& [name, bytes] : before) {
        EXPECT_EQ(after[name], bytes) << name << " was changed";
        after.erase(name);
    }
    std::vector<std::string> written;
    for (const auto& entry : after)
        written.push_back(entry.first);
    EXPECT_EQ(written, (std::vector<std::string>{"out.txt", "out1.txt", "out2.txt",
                                                 "report_07-12-26.html"}));

    EXPECT_EQ(dir.read("out1.txt"),
              "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,"
              "Status,Tx Rate,Job ID,Schedule Type\r\n"
              "PolA,daily,client2,12/05/2026 23:58:20,12/06/2026 00:59:21,1:01.01,1024,12,"
              "1 month,2,5000,2,Full Backup\r\n"
              ",daily,client1,12/05/2026,12/05/2026 01:01:01,1:01.01,1024,12,1 month,0,5000,1,"
              "Full Backup\r\n"
              "PolC,Not Found\r\n");
    EXPECT_EQ(dir.read("out2.txt"), "");
    const std::string page = dir.read("report_07-12-26.html");
    EXPECT_NE(page.find(" Start: 12/05/2026<br> End: 12/06/2026</font>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<TR BGCOLOR=\"DD44EE\"><TD>PolA</TD>"), std::string::npos);
}

TEST_F(ProcessTest, MissingConfigurationChangesNoFileAndKeepsTheWindow) {
    writeEarlierOutputs();
    std::filesystem::remove(dir.file("fennick_config.txt"));
    const auto before = snapshot();
    Window window{11, 22};

    const Failure failure = runExpectingFailure(window);

    EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
    EXPECT_EQ(failure.file(), "fennick_config.txt");
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(window.StartEpoch, 11);
    EXPECT_EQ(window.EndEpoch, 22);
}

TEST_F(ProcessTest, MissingDumpKeepsEarlierOutputsButSetsTheNewWindow) {
    writeEarlierOutputs();
    std::filesystem::remove(dir.file("bpdbjobs.txt"));
    const auto before = snapshot();
    Window window;

    const Failure failure = runExpectingFailure(window);

    EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
    EXPECT_EQ(failure.file(), "bpdbjobs.txt");
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(window.StartEpoch, kWindowStart);
    EXPECT_EQ(window.EndEpoch, kWindowEnd);
}

TEST_F(ProcessTest, MissingPolicyListKeepsEarlierTableAndPage) {
    writeEarlierOutputs();
    std::filesystem::remove(dir.file("policy_list.txt"));
    Window window;

    const Failure failure = runExpectingFailure(window);

    EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
    EXPECT_EQ(failure.file(), "policy_list.txt");
    EXPECT_NE(dir.read("out.txt"), "earlier out.txt");
    EXPECT_EQ(dir.read("out2.txt"), "");
    EXPECT_EQ(dir.read("out1.txt"), "earlier out1.txt");
    EXPECT_EQ(dir.read("report_07-12-26.html"), "earlier report_07-12-26.html");
}

TEST_F(ProcessTest, BadDumpLineStopsBeforeTheTableAndPage) {
    writeEarlierOutputs();
    dir.write("bpdbjobs.txt", job(2, "PolA", kWindowEnd - 100, "0") + "9,a,b\r\n");
    Window window;

    const Failure failure = runExpectingFailure(window);

    EXPECT_EQ(failure.kind(), FailureKind::SubscriptOutOfRange);
    EXPECT_EQ(failure.file(), "bpdbjobs.txt");
    EXPECT_EQ(failure.line(), 2);
    EXPECT_EQ(dir.read("out.txt").find("PolA,daily,client2,"), 0u);
    EXPECT_EQ(dir.read("out1.txt"), "earlier out1.txt");
    EXPECT_EQ(dir.read("report_07-12-26.html"), "earlier report_07-12-26.html");
}

TEST_F(ProcessTest, TwoRunsWithSameInputsWriteIdenticalFiles) {
    Window window;
    process(dir.path(), dayOfDecember5(), writtenOnDecember7, window);
    const auto first = snapshot();
    process(dir.path(), dayOfDecember5(), writtenOnDecember7, window);
    EXPECT_EQ(snapshot(), first);
    EXPECT_EQ(window.StartEpoch, kWindowStart);
}

}  // namespace
}  // namespace fennick
