// Whole runs over an AppDir that is hostile in some way: outputs that cannot
// be created, inputs that are directories, huge lines and odd bytes.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "job_line.h"
#include "pipeline/process.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono;

// 2026-12-05 00:00:00 to 2026-12-06 00:00:00 in the report zone.
constexpr long long kWindowStart = 1796428800 - 28800;

Pickers dayOfDecember5() {
    const LocalTime fifth = local_days{2026y / 12 / 5};
    const LocalTime sixth = local_days{2026y / 12 / 6};
    return Pickers{fifth, fifth, sixth, sixth};
}

LocalTime writtenOnDecember7() {
    return local_days{2026y / 12 / 7} + hours{6};
}

// A dump line starting `offset` seconds into the window.
std::string job(int id, const std::string& policy, const std::string& client, long long offset) {
    return test::job(id, policy, kWindowStart + offset, "0", client);
}

const char* const kPage = "report_07-12-26.html";

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("fennick_config.txt", "RL03=1 month\r\n");
        dir.write("bpdbjobs.txt", job(2, "PolA", "client2", 7200) + job(1, "PolA", "client1", 0));
        dir.write("policy_list.txt", "PolA\r\nPolC\r\n");
    }

    // Back to the inputs of SetUp alone.
    void fresh() {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            std::filesystem::remove_all(entry.path());
        SetUp();
    }

    std::optional<Failure> run() const {
        return test::failureOf([this] {
            Window window;
            process(dir.path(), dayOfDecember5(), writtenOnDecember7, window);
        });
    }

    // Every plain file's bytes, by name.
    std::map<std::string, std::string> files() const {
        std::map<std::string, std::string> bytes;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            if (entry.is_regular_file())
                bytes[entry.path().filename().string()] =
                    dir.read(entry.path().filename().string());
        }
        return bytes;
    }

    test::TempDir dir;
};

// Tests run as root, so permission bits would not stop a write: a directory
// in the output's place does.
TEST_F(FaultTest, OutputTakenByADirectoryCannotBeCreatedAndLeavesTheInputs) {
    for (const std::string output : {"out.txt", "out2.txt", "out1.txt", kPage}) {
        SCOPED_TRACE(output);
        fresh();
        std::filesystem::create_directory(dir.file(output));
        const auto inputs = files();

        const auto failure = run();

        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
        EXPECT_EQ(failure->file(), output);
        EXPECT_NE(std::string(failure->what()).find(output), std::string::npos) << failure->what();
        EXPECT_TRUE(std::filesystem::is_directory(dir.file(output)));
        EXPECT_TRUE(std::filesystem::is_empty(dir.file(output)));
        for (const auto& [name, bytes] : inputs)
            EXPECT_EQ(dir.read(name), bytes) << name;
        EXPECT_FALSE(dir.exists(kPage) && output != kPage) << "the page follows a failure";
    }
}

TEST_F(FaultTest, InputThatIsADirectoryFailsNamingIt) {
    for (const std::string input : {"fennick_config.txt", "bpdbjobs.txt", "policy_list.txt"}) {
        SCOPED_TRACE(input);
        fresh();
        std::filesystem::remove(dir.file(input));
        std::filesystem::create_directory(dir.file(input));

        const auto failure = run();

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
    dir.write("fennick_config.txt", "RL03=" + label + "\r\n");
    dir.write("bpdbjobs.txt", job(2, "Pol\xE9", client, 7200) + job(1, "PolA", "client1", 0));
    dir.write("policy_list.txt", "Pol\xE9\r\nPolA\r\n");

    ASSERT_FALSE(run());

    const std::string jobs = dir.read("out.txt");
    EXPECT_EQ(jobs.rfind("Pol\xE9,daily," + client + ",12/05/2026 02:00:00,", 0), 0u);
    const std::string table = dir.read("out1.txt");
    EXPECT_NE(table.find("Pol\xE9,daily," + client +
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
    const std::string huge = job(3, "PolA", std::string(10 << 20, '\0'), 86400 + 5);
    dir.write("bpdbjobs.txt", huge + job(2, "PolA", "client2", 7200));

    ASSERT_FALSE(run());

    EXPECT_EQ(dir.read("out.txt").rfind("PolA,daily,client2,", 0), 0u);
    EXPECT_LT(dir.read("out.txt").size(), 1000u);
}

}  // namespace
}  // namespace fennick
