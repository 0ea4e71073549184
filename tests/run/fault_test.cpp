// Whole runs over an AppDir that is hostile in some way: outputs that cannot
// be created, inputs that are directories, huge lines and odd bytes.
#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"
#include "run/report_file.h"
#include "run/report_run.h"
#include "run/run_fixture.h"

namespace fennick {
namespace {

using test::jobAt;
using test::kPage;

using FaultTest = test::RunTest;

// Tests run as root, so permission bits would not stop a write: a directory
// in the output's place does.
TEST_F(FaultTest, OutputTakenByADirectoryCannotBeCreatedAndLeavesTheInputs) {
    for (const std::string output : {"out.txt", "out2.txt", "out1.txt", kPage}) {
        SCOPED_TRACE(output);
        fresh();
        std::filesystem::create_directory(dir.file(output));
        const auto inputs = dir.snapshot();

        const auto failure = runFailing();

        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
        EXPECT_EQ(failure->file(), output);
        EXPECT_NE(std::string(failure->what()).find(output), std::string::npos) << failure->what();
        EXPECT_TRUE(std::filesystem::is_directory(dir.file(output)));
        EXPECT_TRUE(std::filesystem::is_empty(dir.file(output)));
        for (const auto& [name, bytes] : inputs)
            EXPECT_EQ(dir.read(name), bytes) << name;
        EXPECT_FALSE(dir.exists(kPage) && output != kPage) << "the page follows a failure";
        for (const std::string& name : dir.names())
            EXPECT_FALSE(isUnfinishedPageName(name)) << name;
    }
}

TEST_F(FaultTest, InputThatIsADirectoryFailsNamingIt) {
    for (const std::string_view input : {kConfigFile, kDumpFile, kPolicyFile}) {
        SCOPED_TRACE(input);
        fresh();
        std::filesystem::remove(dir.file(input));
        std::filesystem::create_directory(dir.file(input));

        const auto failure = runFailing();

        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::IoError) << failure->what();
        EXPECT_EQ(failure->file(), input);
        EXPECT_TRUE(std::filesystem::is_directory(dir.file(input)));
        EXPECT_FALSE(dir.exists(kPage));
    }
}

TEST_F(FaultTest, TenMegabyteFieldAndOddBytesPassThroughUnchanged) {
    const std::string client = std::string("\0\x01\x80\xE9\xFF", 5) + std::string(10 << 20, 'c');
    const std::string label = std::string("1 m\0nth \xE9", 10);
    dir.write(kConfigFile, "RL03=" + label + "\r\n");
    dir.write(kDumpFile, jobAt("2", "Pol\xE9", 7200, "0", client) + jobAt("1", "PolA", 0));
    dir.write(kPolicyFile, "Pol\xE9\r\nPolA\r\n");

    ASSERT_FALSE(runFailing());

    const std::string jobs = dir.read("out.txt");
    EXPECT_EQ(jobs.rfind("Pol\xE9,Daily," + client + ",12/05/2026 02:00:00,", 0), 0u);
    const std::string table = dir.read("out1.txt");
    EXPECT_NE(table.find("Pol\xE9,Daily," + client +
                         ",12/05/2026 02:00:00,12/05/2026 03:01:01,"
                         "1:01.01,1024,12," +
                         label + ",0,5000,2,Full Backup\r\n"),
              std::string::npos);
    const std::string page = dir.read(kPage);
    EXPECT_NE(page.find("<TD>" + client + "</TD>"), std::string::npos);
    EXPECT_NE(page.find("<TD>" + label + "</TD>"), std::string::npos);
}

// Lines the scan never selects may be as long and as odd as they like.
TEST_F(FaultTest, HugeLineOutsideTheWindowIsSkipped) {
    const std::string huge = jobAt("3", "PolA", 86400 + 5, "0", std::string(10 << 20, '\0'));
    dir.write(kDumpFile, huge + jobAt("2", "PolA", 7200, "0", "client2"));

    ASSERT_FALSE(runFailing());

    EXPECT_EQ(dir.read("out.txt").rfind("PolA,Daily,client2,", 0), 0u);
    EXPECT_LT(dir.read("out.txt").size(), 1000u);
}

}  // namespace
}  // namespace fennick
