// The real fennick-cli, started the way a script starts it, against the real
// "fennick -q" on the same inputs at the same frozen moment.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/program.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick::cli {
namespace {

using namespace std::chrono;
using fennick::test::configText;
using fennick::test::dumpLine;
using fennick::test::epochOf;
using fennick::test::installProgram;
using fennick::test::kWindowProgram;
using fennick::test::TempDir;

constexpr int kTimedOut = 124;  // timeout(1)'s status when it had to stop the program

// The frozen clock of the runs, read in UTC: 02:15:00 on 5 December 2026,
// and the same moment as --end takes it.
constexpr const char* kFrozenClock = "2026-12-05 02:15:00";
constexpr const char* kEndOption = "--end '2026-12-05 02:15:00'";
const LocalTime kEnd = local_days{2026y / 12 / 5} + 2h + 15min;
const LocalTime kStart = kEnd - days{1};
constexpr const char* kPage = "report_05-12-26.html";

struct Outcome {
    int status = -1;
    std::string out;
    std::string errors;
};

struct Command {
    std::filesystem::path program;
    std::string arguments;  // shell words
    std::filesystem::path workDir;
    bool frozenClock = true;
};

// Runs without a display, in UTC, stopped by timeout(1) if it waits.
// Standard output goes to `stdoutTo` when given, else to a scratch file.
Outcome run(const Command& command, const std::string& stdoutTo = "") {
    TempDir scratch;
    const std::string line = "cd '" + command.workDir.string() + "' && " +
                             fennick::test::kAsScheduled + "timeout 60 " +
                             (command.frozenClock ? fennick::test::frozenAt(kFrozenClock) : "") +
                             "'" + command.program.string() + "' " + command.arguments + " >'" +
                             (stdoutTo.empty() ? scratch.file("stdout").string() : stdoutTo) +
                             "' 2>'" + scratch.file("stderr").string() + "'";
    const int raw = std::system(line.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = scratch.read("stdout");
    outcome.errors = scratch.read("stderr");
    return outcome;
}

// Every file of `dir` but the window program, with its bytes.
std::map<std::string, std::string> filesIn(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name != "fennick")
            files[name] = dir.read(name);
    }
    return files;
}

std::string folderOf(const TempDir& dir) {
    return std::filesystem::weakly_canonical(dir.path()).string();
}

// Messages name the file with its folder, which differs between the runs.
std::string inAnyFolder(std::string text, const TempDir& dir) {
    const std::string folder = folderOf(dir);
    for (std::size_t at; (at = text.find(folder)) != std::string::npos;)
        text.replace(at, folder.size(), "<folder>");
    return text;
}

using Inputs = std::function<void(const TempDir&)>;

// Jobs on both edges of the window and one past each, a failed job, and a
// daily policy without jobs.
void goodInputs(const TempDir& dir) {
    dir.write("fennick_config.txt", configText());
    dir.write("policy_list.txt", "PolA\r\nPolB\r\nPolC\r\n");
    dir.write(
        "bpdbjobs.txt",
        dumpLine({.id = "106", .policy = "PolA", .start = epochOf(kEnd) + 1}) +
            dumpLine({.id = "105", .policy = "PolA", .start = epochOf(kEnd)}) +
            dumpLine({.id = "104", .policy = "PolB", .start = epochOf(kEnd) - 60, .status = "2"}) +
            dumpLine({.id = "103", .policy = "PolA", .start = epochOf(kStart), .status = "1"}) +
            dumpLine({.id = "102", .policy = "PolA", .start = epochOf(kStart) - 1}));
}

TEST(CliRun, MakesTheFilesAndFailuresOfTheUnattendedRunByteForByte) {
    if (!kWindowProgram)
        GTEST_SKIP() << "built without the window program";
    struct Case {
        const char* name;
        Inputs inputs;
        int status;
    };
    const Case cases[] = {
        {"jobs around the window", goodInputs, 0},
        {"no dump",
         [](const TempDir& dir) {
             dir.write("fennick_config.txt", configText());
             dir.write("policy_list.txt", "PolA\r\n");
         },
         1},
        {"empty dump", [](const TempDir& dir) { dir.write("bpdbjobs.txt", ""); }, 1},
        {"first line without a comma",
         [](const TempDir& dir) {
             goodInputs(dir);
             dir.write("bpdbjobs.txt", "4711\r\n");
         },
         1},
        {"no configuration",
         [](const TempDir& dir) {
             goodInputs(dir);
             std::filesystem::remove(dir.file("fennick_config.txt"));
         },
         1},
        {"no policy list",
         [](const TempDir& dir) {
             goodInputs(dir);
             std::filesystem::remove(dir.file("policy_list.txt"));
         },
         1},
        {"a bad start time halfway, over an earlier run's files",
         [](const TempDir& dir) {
             goodInputs(dir);
             dir.write("bpdbjobs.txt",
                       dumpLine({.id = "105", .policy = "PolA", .start = epochOf(kEnd)}) +
                           "104,x,,0,PolA,Daily,c,,12a,\r\n" +
                           dumpLine({.id = "103", .policy = "PolA", .start = epochOf(kStart)}));
             dir.write("out1.txt", "an earlier table\r\n");
             dir.write(kPage, "an earlier page\r\n");
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir elsewhere;
        TempDir unattended;
        c.inputs(unattended);
        const auto fennick = installProgram(unattended, false);
        const Outcome expected = run({fennick, "-q", elsewhere.path()});
        ASSERT_NE(expected.status, kTimedOut);
        ASSERT_EQ(expected.status, c.status) << expected.errors;
        if (c.status != 0) {
            ASSERT_EQ(expected.errors.rfind("fennick: ", 0), 0u) << expected.errors;
        }
        const auto expectedFiles = filesIn(unattended);

        TempDir withDir;
        TempDir current;
        TempDir remade;
        struct Variant {
            const char* name;
            const TempDir& dir;
            Command command;
        };
        const Variant variants[] = {
            {"--dir",
             withDir,
             {FENNICK_CLI_BINARY, "--dir '" + withDir.path().string() + "'", elsewhere.path()}},
            {"the current folder", current, {FENNICK_CLI_BINARY, "", current.path()}},
            {"--end on the real clock",
             remade,
             {FENNICK_CLI_BINARY, "--dir '" + remade.path().string() + "' " + kEndOption,
              elsewhere.path(), false}},
        };
        for (const Variant& v : variants) {
            SCOPED_TRACE(v.name);
            c.inputs(v.dir);
            const Outcome outcome = run(v.command);
            ASSERT_NE(outcome.status, kTimedOut);
            EXPECT_EQ(outcome.status, expected.status) << outcome.errors;
            EXPECT_EQ(inAnyFolder(outcome.errors, v.dir), inAnyFolder(expected.errors, unattended));
            EXPECT_EQ(filesIn(v.dir), expectedFiles);
            if (c.status == 0) {
                EXPECT_EQ(outcome.out, folderOf(v.dir) + "/" + kPage +
                                           ": 3 jobs, 1 failed, 1 daily policy not found\n");
            } else {
                EXPECT_EQ(outcome.out, "");
            }
        }
    }
}

// What the page shows decides --check's status; a run that fails is a
// failure whatever the page would have shown.
TEST(CliRun, CheckExitsWith4OnlyWhenAJobFailedOrADailyPolicyIsNotFound) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> jobs;  // policy, status
        const char* policies;
        const char* options;
        int status;
        const char* counts;  // the summary after the page's path; empty for none
    };
    const Case cases[] = {
        {"all done",
         {{"PolA", "0"}, {"PolA", "1"}},
         "PolA\r\n",
         "--check",
         0,
         "2 jobs, 0 failed, 0 daily policies not found"},
        {"a failed job",
         {{"PolA", "0"}, {"PolA", "2"}},
         "PolA\r\n",
         "--check",
         4,
         "2 jobs, 1 failed, 0 daily policies not found"},
        {"a failed job unchecked",
         {{"PolA", "2"}},
         "PolA\r\n",
         "",
         0,
         "1 job, 1 failed, 0 daily policies not found"},
        {"a daily policy not found",
         {{"PolA", "0"}},
         "PolA\r\nPolZ\r\n",
         "--check",
         4,
         "1 job, 0 failed, 1 daily policy not found"},
        {"no job in the window",
         {},
         "PolA\r\nPolB\r\n",
         "--check",
         4,
         "0 jobs, 0 failed, 2 daily policies not found"},
        {"a failed job of a policy that is not daily",
         {{"PolA", "0"}, {"PolX", "2"}},
         "PolA\r\n",
         "--check",
         0,
         "1 job, 0 failed, 0 daily policies not found"},
        {"quiet and failed", {{"PolA", "2"}}, "PolA\r\n", "--check --quiet", 4, ""},
        {"quiet and done", {{"PolA", "0"}}, "PolA\r\n", "--quiet --check", 0, ""},
        {"the run fails", {{"PolA", "0"}}, nullptr, "--check", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("fennick_config.txt", configText());
        if (c.policies)
            dir.write("policy_list.txt", c.policies);
        // A job after the window first, so even a window without jobs has a
        // dump with a first job.
        std::string dump =
            dumpLine({.id = "99", .policy = "PolA", .start = epochOf(kEnd) + 3600, .status = "2"});
        int id = 100;
        for (const auto& [policy, status] : c.jobs)
            dump += dumpLine({.id = std::to_string(id++),
                              .policy = policy,
                              .start = epochOf(kEnd) - 3600,
                              .status = status});
        dir.write("bpdbjobs.txt", dump);

        const Outcome outcome =
            run({FENNICK_CLI_BINARY,
                 std::string(kEndOption) + " --dir '" + dir.path().string() + "' " + c.options,
                 dir.path(), false});

        EXPECT_EQ(outcome.status, c.status) << outcome.errors;
        if (*c.counts) {
            EXPECT_EQ(outcome.out, folderOf(dir) + "/" + kPage + ": " + c.counts + "\n");
        } else {
            EXPECT_EQ(outcome.out, "");
        }
        if (c.status == 1) {
            EXPECT_EQ(outcome.errors.rfind("fennick: File not found: policy_list.txt", 0), 0u)
                << outcome.errors;
        } else {
            EXPECT_EQ(outcome.errors, "");
        }
    }
}

// The page takes the dump's order on trust; the findings read on and tell
// when its window jobs lay below the line where the page stopped.
TEST(CliRun, ADumpThatIsNotNewestFirstIsToldAndNeedsAttention) {
    const std::string jobs[] = {
        dumpLine({.id = "104", .policy = "PolA", .start = epochOf(kEnd) + 60}),
        dumpLine({.id = "103", .policy = "PolA", .start = epochOf(kEnd) - 60}),
        dumpLine({.id = "102", .policy = "PolB", .start = epochOf(kStart) + 60, .status = "2"}),
        dumpLine({.id = "101", .policy = "PolA", .start = epochOf(kStart) - 60}),
    };
    struct Case {
        const char* name;
        std::string dump;
        int status;
        const char* summary;  // after the page's path
        const char* outOfOrder;
    };
    const Case cases[] = {
        {"newest first", jobs[0] + jobs[1] + jobs[2] + jobs[3], 0,
         "2 jobs, 1 failed, 0 daily policies not found; all policies: 2 jobs, 1 stream still "
         "failing, 0 recovered",
         "false"},
        {"oldest first", jobs[3] + jobs[2] + jobs[1] + jobs[0], 4,
         "0 jobs, 0 failed, 2 daily policies not found; all policies: 0 jobs, 0 streams still "
         "failing, 0 recovered; "
         "the dump is not newest first: the page left out 2 window jobs",
         "true"},
        {"one job out of place", jobs[0] + jobs[1] + jobs[3] + jobs[2], 4,
         "1 job, 0 failed, 1 daily policy not found; all policies: 1 job, 0 streams still "
         "failing, 0 recovered; "
         "the dump is not newest first: the page left out 1 window job",
         "true"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("fennick_config.txt", configText());
        dir.write("policy_list.txt", "PolA\r\nPolB\r\n");
        dir.write("bpdbjobs.txt", c.dump);

        const Outcome outcome = run({FENNICK_CLI_BINARY,
                                     std::string(kEndOption) + " --dir '" + dir.path().string() +
                                         "' --json '" + dir.file("findings.json").string() + "'",
                                     dir.path(), false});

        EXPECT_EQ(outcome.status, c.status) << outcome.errors;
        // The run keeps the folder's history, so the line names its page too.
        EXPECT_EQ(outcome.out, folderOf(dir) + "/" + kPage + ": " + c.summary + "; nights: " +
                                   folderOf(dir) + "/history.html\n");
        EXPECT_NE(dir.read("findings.json")
                      .find(std::string("\"dump_out_of_order\": ") + c.outOfOrder + ","),
                  std::string::npos);
    }
}

// The value of a gauge of the metrics file, as its text stands.
std::string gauge(const std::string& metrics, const std::string& name) {
    const std::size_t at = metrics.find("\n" + name + "{");
    if (at == std::string::npos)
        return "<none>";
    const std::size_t value = metrics.find("} ", at) + 2;
    return metrics.substr(value, metrics.find('\n', value) - value);
}

// A number of the JSON's counts, as its text stands.
std::string jsonCount(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos)
        return "<none>";
    const std::size_t value = at + key.size() + 4;
    return json.substr(value, json.find_first_of(",\n", value) - value);
}

// One run with a job still running, a partial success and jobs of a policy
// that is not daily: every output names each count after what it counts,
// and none counts a running job as failed.
TEST(CliRun, TheSummaryLineTheMetricsAndTheJsonCountTheSameSetsAlike) {
    const double end = epochOf(kEnd);
    const auto job = [end](const char* id, const char* policy, const char* client, double ago,
                           const char* status) {
        return dumpLine({.id = id,
                         .policy = policy,
                         .start = static_cast<long long>(end - ago),
                         .status = status,
                         .client = client});
    };
    struct Case {
        const char* name;
        std::string dump;
        int status;  // with --check
        const char* line;
        std::map<std::string, std::string> metrics, json;
    };
    const Case cases[] = {
        {"failed, running, partial and not daily",
         job("16", "PolA", "client1", 50, "") + job("15", "PolA", "client1", 100, "0") +
             job("14", "PolA", "client1", 200, "1") + job("13", "PolA", "client2", 300, "2") +
             job("12", "PolX", "client1", 400, "13") + job("11", "PolX", "client3", 500, ""),
         4,
         "4 jobs, 1 failed, 1 still running, 1 daily policy not found; all policies: 6 jobs, 2 "
         "streams still failing, 0 recovered",
         {{"fennick_report_jobs", "4"},
          {"fennick_report_failed_jobs", "1"},
          {"fennick_report_highlighted_jobs", "2"},
          {"fennick_report_policies_not_found", "1"},
          {"fennick_report_running_jobs", "2"},
          {"fennick_report_failing_streams", "2"}},
         {{"jobs", "6"},
          {"page_jobs", "4"},
          {"page_failed", "1"},
          {"page_highlighted", "2"},
          {"failed", "2"},
          {"running", "2"},
          {"partial", "1"},
          {"failing", "2"},
          {"not_found", "1"}}},
        // The only job that is no success is still running: nothing failed.
        {"only a running job",
         job("16", "PolA", "client1", 50, "") + job("15", "PolB", "client1", 100, "0"),
         0,
         "2 jobs, 0 failed, 1 still running, 0 daily policies not found; all policies: 2 jobs, 0 "
         "streams still failing, 0 recovered",
         {{"fennick_report_jobs", "2"},
          {"fennick_report_failed_jobs", "0"},
          {"fennick_report_highlighted_jobs", "1"},
          {"fennick_report_running_jobs", "1"}},
         {{"jobs", "2"},
          {"page_failed", "0"},
          {"page_highlighted", "1"},
          {"failed", "0"},
          {"running", "1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("fennick_config.txt", configText());
        dir.write("policy_list.txt", "PolA\r\nPolB\r\n");
        dir.write("bpdbjobs.txt", c.dump);

        const Outcome outcome =
            run({FENNICK_CLI_BINARY,
                 std::string(kEndOption) + " --check --dir '" + dir.path().string() + "' --json '" +
                     dir.file("findings.json").string() + "' --metrics '" +
                     dir.file("fennick.prom").string() + "'",
                 dir.path(), false});

        EXPECT_EQ(outcome.status, c.status) << outcome.errors;
        EXPECT_EQ(outcome.out, folderOf(dir) + "/" + kPage + ": " + c.line + "; nights: " +
                                   folderOf(dir) + "/history.html\n");
        const std::string metrics = dir.read("fennick.prom");
        for (const auto& [name, value] : c.metrics)
            EXPECT_EQ(gauge(metrics, name), value) << name;
        const std::string json = dir.read("findings.json");
        for (const auto& [key, value] : c.json)
            EXPECT_EQ(jsonCount(json, key), value) << key;
    }
}

TEST(CliRun, UsageErrorsExitWith2AndOneLineAndTouchNothing) {
    struct Case {
        const char* arguments;
        const char* problem;
    };
    const Case cases[] = {
        {"--foo", "The following argument was not expected: --foo"},
        {"--dump-command ' '", "--dump-command needs a command, not an empty text"},
        {"--dump-timeout 0", "--dump-timeout needs a positive number of seconds, not \"0\""},
        {"--mail-to \"$(printf 'ops@example.com\\nBcc: x')\"",
         "--mail-to holds a control character: \"ops@example.com\\nBcc: x\""},
        {"--metrics ' '", "--metrics needs a file, not a blank text"},
        {"--end '1601-01-01 12:00:00'",
         "--end is too early for the default --start, one day before it"},
        {"--end tomorrow",
         "--end needs a date and time as \"YYYY-MM-DD HH:MM:SS\", not "
         "\"tomorrow\""},
        {"--start '2026-12-06 00:00:00' --end '2026-12-05 00:00:00'", "--start is after --end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        TempDir dir;
        goodInputs(dir);
        const auto before = filesIn(dir);

        const Outcome outcome = run({FENNICK_CLI_BINARY, c.arguments, dir.path()});

        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.errors,
                  std::string("fennick-cli: ") + c.problem + "; see fennick-cli --help\n");
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(filesIn(dir), before);
    }
}

// A script reading the summary must not take a lost line for success.
TEST(CliRun, SummaryThatCannotBeWrittenIsAFailure) {
    TempDir dir;
    goodInputs(dir);
    const Outcome outcome =
        run({FENNICK_CLI_BINARY, std::string(kEndOption) + " --dir '" + dir.path().string() + "'",
             dir.path(), false},
            "/dev/full");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.errors, "fennick-cli: the summary line could not be written\n");
}

// fennick-cli started directly, as a terminal or a service manager starts it,
// so that the test can signal it; its standard error goes to `errors`.
pid_t startCli(const std::vector<std::string>& arguments, const std::filesystem::path& errors) {
    std::vector<char*> argv{const_cast<char*>(FENNICK_CLI_BINARY)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The stop signals as a fresh login has them, whatever ran the test.
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            ::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::dup2(::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        ::execv(FENNICK_CLI_BINARY, argv.data());
        ::_exit(127);
    }
    return pid;
}

// Gone, or a zombie that nobody has reaped yet.
bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

bool goneSoon(pid_t pid) {
    for (int i = 0; i < 100 && running(pid); ++i)
        std::this_thread::sleep_for(20ms);
    return !running(pid);
}

// Ctrl-C, a stop by cron's owner or the service manager, or a closed
// terminal while the dump command runs: nothing of the command's group runs
// on, no temporary dump or new page stays, and fennick-cli ends by the
// signal, as a stopped program does.
TEST(CliRun, StopSignalDuringTheDumpCommandStopsItsGroupAndEndsByTheSignal) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        TempDir dir;
        TempDir scratch;
        goodInputs(dir);
        const auto before = filesIn(dir);
        const std::string pids = scratch.path().string();
        const std::string command =
            "printf '3,0,0,half a dump'; echo $$ > '" + pids + "/sh.pid'; sleep 100 & echo $! > '" +
            pids + "/bg.part' && mv '" + pids + "/bg.part' '" + pids + "/bg.pid'; wait";
        const pid_t cli = startCli({"--dir", dir.path().string(), "--end", kFrozenClock,
                                    "--dump-command", command, "--dump-timeout", "30"},
                                   scratch.file("errors"));
        ASSERT_GT(cli, 0);
        for (int i = 0; i < 500 && !scratch.exists("bg.pid"); ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(scratch.exists("bg.pid")) << scratch.read("errors");

        ::kill(cli, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(cli, &status, 0), cli);

        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        const pid_t sh = std::stoi(scratch.read("sh.pid"));
        const pid_t background = std::stoi(scratch.read("bg.pid"));
        EXPECT_TRUE(goneSoon(sh));
        EXPECT_TRUE(goneSoon(background));
        ::kill(-sh, SIGKILL);  // should the test fail, nothing of it stays either
        EXPECT_EQ(filesIn(dir), before);
        EXPECT_NE(
            scratch.read("errors").find("fennick-cli: stopped by signal " + std::to_string(signal)),
            std::string::npos)
            << scratch.read("errors");
    }
}

TEST(CliRun, HelpAndVersionPrintOnStdoutAndRunNothing) {
    TempDir dir;
    goodInputs(dir);
    const auto before = filesIn(dir);

    const Outcome help = run({FENNICK_CLI_BINARY, "--check --help", dir.path()});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: fennick-cli [OPTIONS]"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--mail-to"), std::string::npos) << help.out;
    EXPECT_EQ(help.errors, "");

    const Outcome version = run({FENNICK_CLI_BINARY, "--version", dir.path()});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "fennick-cli " FENNICK_VERSION "\n");
    EXPECT_EQ(version.errors, "");

    EXPECT_EQ(filesIn(dir), before);
}

}  // namespace
}  // namespace fennick::cli
