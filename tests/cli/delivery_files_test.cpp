// The files fennick-cli delivers (--json, --metrics) against the run's own
// files, through the real program: a delivery file that is one of them, by
// any path, is refused before anything is read or written.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick::cli {
namespace {

using namespace std::chrono;
using fennick::test::configText;
using fennick::test::dumpLine;
using fennick::test::epochOf;
using fennick::test::TempDir;

// The window's end as --end takes it (report zone), and the page it names.
constexpr const char* kEnd = "2026-12-05 06:00:00";
constexpr const char* kPage = "report_05-12-26.html";
const LocalTime kEndTime = local_days{2026y / 12 / 5} + 6h;

struct Outcome {
    int status = -1;
    std::string errors;
};

std::string quoted(const std::filesystem::path& path) {
    std::string text(1, '\'');
    text.append(path.string()).push_back('\'');
    return text;
}

Outcome runCli(const std::string& arguments) {
    TempDir scratch;
    const std::string line = "TZ=UTC timeout 60 " + quoted(FENNICK_CLI_BINARY) + " " + arguments +
                             " >/dev/null 2>" + quoted(scratch.file("stderr"));
    const int raw = std::system(line.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, scratch.read("stderr")};
}

void writeInputs(const TempDir& dir) {
    dir.write("fennick_config.txt", configText());
    dir.write("policy_list.txt", "PolA\r\nPolB\r\n");
    dir.write("status_codes.txt", "2=a failure\r\n");
    dir.write(
        "bpdbjobs.txt",
        dumpLine({.id = "12", .policy = "PolA", .start = epochOf(kEndTime) - 60}) +
            dumpLine(
                {.id = "11", .policy = "PolB", .start = epochOf(kEndTime) - 120, .status = "2"}));
}

// Every file under `root`, links read through, with its bytes; a link is
// also listed with where it leads.
std::map<std::string, std::string> everything(const std::filesystem::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.is_symlink())
            files[name + " ->"] = std::filesystem::read_symlink(entry.path()).string();
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            files[name] = bytes.str();
        }
    }
    return files;
}

TEST(DeliveryFiles, ARunFileByAnyPathIsAUsageErrorAndEveryFileStaysAsItWas) {
    // A folder `run` that one good run has filled, and beside it a folder of
    // links into it.
    TempDir root;
    const std::filesystem::path dir = root.file("run");
    const std::filesystem::path links = root.file("links");
    std::filesystem::create_directories(dir);
    std::filesystem::create_directories(links);
    const auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    };
    TempDir inputs;
    writeInputs(inputs);
    for (const auto& name : inputs.names())
        write(name, inputs.read(name));
    const std::string base = "--dir " + quoted(dir) + " --end '" + kEnd + "'";
    ASSERT_EQ(runCli(base).status, 0);
    ASSERT_TRUE(std::filesystem::exists(dir / kPage));

    const std::vector<std::string> protectedFiles = {"bpdbjobs.txt",
                                                     "policy_list.txt",
                                                     "fennick_config.txt",
                                                     "status_codes.txt",
                                                     "out.txt",
                                                     "out2.txt",
                                                     "out1.txt",
                                                     kPage,
                                                     "." + std::string(kPage) + ".partial",
                                                     ".bpdbjobs.txt.partial-AbC123"};
    enum class Form { Plain, Dot, DotDot, SymbolicLink, HardLink };
    const Form forms[] = {Form::Plain, Form::Dot, Form::DotDot, Form::SymbolicLink, Form::HardLink};
    int linkNumber = 0;
    for (const std::string& name : protectedFiles) {
        for (const Form form : forms) {
            std::filesystem::path path;
            switch (form) {
                case Form::Plain:
                    path = dir / name;
                    break;
                case Form::Dot:
                    path = dir / "." / name;
                    break;
                case Form::DotDot:
                    path = links / ".." / "run" / name;
                    break;
                case Form::SymbolicLink:
                    path = links / ("link" + std::to_string(++linkNumber));
                    std::filesystem::create_symlink(std::filesystem::path("../run") / name, path);
                    break;
                case Form::HardLink:
                    // Only a file that is there can have a second name.
                    if (!std::filesystem::exists(dir / name))
                        continue;
                    path = links / ("hard" + std::to_string(++linkNumber));
                    std::filesystem::create_hard_link(dir / name, path);
                    break;
            }
            for (const char* option : {"--json", "--metrics"}) {
                SCOPED_TRACE(std::string(option) + " " + path.string());
                const auto before = everything(root.path());
                const Outcome outcome = runCli(base + " " + option + " " + quoted(path));
                EXPECT_EQ(outcome.status, 2);
                EXPECT_NE(outcome.errors.find(" would replace "), std::string::npos)
                    << outcome.errors;
                EXPECT_EQ(std::count(outcome.errors.begin(), outcome.errors.end(), '\n'), 1);
                EXPECT_EQ(everything(root.path()), before);
            }
        }
    }
}

TEST(DeliveryFiles, TheTwoDeliveryFilesMustBeTwoFilesAndOwnFilesAreTaken) {
    TempDir dir;
    writeInputs(dir);
    const std::string base = "--dir " + quoted(dir.path()) + " --end '" + kEnd + "'";
    std::filesystem::create_directories(dir.file("deliver"));
    dir.write("deliver/kept.prom", "kept\n");
    std::filesystem::create_hard_link(dir.file("deliver/kept.prom"), dir.file("deliver/same"));
    struct Case {
        std::string json, metrics;
        int status;
    };
    const Case cases[] = {
        {"deliver/kept.prom", "deliver/kept.prom", 2},
        {"deliver/./kept.prom", "deliver/../deliver/kept.prom", 2},
        {"deliver/same", "deliver/kept.prom", 2},
        {"deliver/new.json", "deliver/./new.json", 2},
        // A file of its own beside the run's files, and another elsewhere.
        {"findings.json", "deliver/fennick.prom", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json + " / " + c.metrics);
        const auto before = dir.snapshot();
        const Outcome outcome = runCli(base + " --json " + quoted(dir.file(c.json)) +
                                       " --metrics " + quoted(dir.file(c.metrics)));
        EXPECT_EQ(outcome.status, c.status) << outcome.errors;
        if (c.status == 2) {
            EXPECT_NE(outcome.errors.find("--metrics"), std::string::npos) << outcome.errors;
            EXPECT_EQ(dir.snapshot(), before);
        } else {
            EXPECT_TRUE(dir.exists(c.json));
            EXPECT_TRUE(dir.exists(c.metrics));
        }
    }
    // A folder given as the file is not delivered to, and the failure names it.
    const Outcome folder = runCli(base + " --json " + quoted(dir.file("deliver")) + "/");
    EXPECT_EQ(folder.status, 3);
    EXPECT_NE(folder.errors.find("Cannot create file: deliver " + dir.file("deliver").string() +
                                 "/ (a folder, not a regular file)"),
              std::string::npos)
        << folder.errors;
}

// The history is kept as surely: no delivery file may replace it, and it may
// be none of the run's own files, whichever path names it.
TEST(DeliveryFiles, TheHistoryIsNoRunFileAndNoDeliveryFileReplacesIt) {
    TempDir dir;
    writeInputs(dir);
    const std::string base = "--dir " + quoted(dir.path()) + " --end '" + kEnd + "'";
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"--history " + quoted(dir.file("bpdbjobs.txt")), "the run's own bpdbjobs.txt"},
        {"--history " + quoted(dir.file("./out1.txt")), "the run's own out1.txt"},
        {"--json " + quoted(dir.file("fennick_history.db")),
         "--json \"" + dir.file("fennick_history.db").string() +
             "\" would replace the file of the "
             "history"},
        {"--history " + quoted(dir.file("h.db")) + " --metrics " + quoted(dir.file("./h.db")),
         "would replace the file of --history"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto before = dir.snapshot();
        const Outcome outcome = runCli(base + " " + c.arguments);
        EXPECT_EQ(outcome.status, 2) << outcome.errors;
        EXPECT_NE(outcome.errors.find(c.message), std::string::npos) << outcome.errors;
        EXPECT_EQ(dir.snapshot(), before);
    }
    // --no-history leaves the history's name free for a delivery file.
    EXPECT_EQ(
        runCli(base + " --no-history --json " + quoted(dir.file("fennick_history.db"))).status, 0);
}

// Two runs in one folder, the first of which mails slowly: the JSON on disk
// describes the page on disk, whichever run came last.
TEST(DeliveryFiles, JsonDescribesThePageOnDiskWhenARunWaitedForASlowerOne) {
    TempDir dir;
    writeInputs(dir);
    dir.write("slow-sendmail", "#!/bin/sh\ncat >/dev/null\nsleep 3\n");
    std::filesystem::permissions(dir.file("slow-sendmail"), std::filesystem::perms::owner_all);
    const std::string folder =
        "--dir " + quoted(dir.path()) + " --json " + quoted(dir.file("race.json"));
    const std::string first = quoted(FENNICK_CLI_BINARY) + " " + folder +
                              " --end '2026-12-05 06:00:00' --mail-to ops@example.com --sendmail " +
                              quoted(dir.file("slow-sendmail"));
    const std::string second =
        quoted(FENNICK_CLI_BINARY) + " " + folder + " --end '2026-12-05 07:00:00'";
    const std::string both = "TZ=UTC timeout 60 sh -c \"" + first + " >/dev/null & sleep 0.5; " +
                             second + " >/dev/null; wait\"";
    ASSERT_EQ(std::system(both.c_str()), 0);
    const std::string json = dir.read("race.json");
    const std::string page = dir.read(kPage);
    // The window's end in the JSON (epoch seconds) and on the page (clock text).
    const bool jsonSaysSix = json.find("\"end\": 1796421600") != std::string::npos;
    const bool jsonSaysSeven = json.find("\"end\": 1796425200") != std::string::npos;
    ASSERT_NE(jsonSaysSix, jsonSaysSeven) << json;
    const bool pageSaysSix = page.find("12/05/2026 06:00:00") != std::string::npos;
    const bool pageSaysSeven = page.find("12/05/2026 07:00:00") != std::string::npos;
    ASSERT_NE(pageSaysSix, pageSaysSeven);
    EXPECT_EQ(jsonSaysSix, pageSaysSix);
}

}  // namespace
}  // namespace fennick::cli
