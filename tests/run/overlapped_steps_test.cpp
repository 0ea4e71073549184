// Extraction and the daily table overlapped on the second core against the
// same steps run one after the other: the same files, failures and messages,
// whatever the inputs and wherever a step fails. The thread starts from
// out.txt's first byte, so that short files are followed too.
#include "run/overlapped_steps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "common/file_names.h"
#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"
#include "run/report_file.h"
#include "run/run_fixture.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono;
using test::jobAt;
using test::kWindowEnd;
using test::kWindowStart;
using test::TempDir;

constexpr year_month_day kToday{2026y / 12 / 7};
const Window kDay{kWindowStart, kWindowEnd};
// Selects every job; its end is past what a page can show, so the page
// fails after its head.
const Window kPastYear9999{0, 1e300};

RetentionLabels labels() {
    RetentionLabels labels;
    labels[3] = "1 month";
    labels[9] = "a,b";
    return labels;
}

// How one step ended; nothing when it succeeded.
struct Ending {
    std::optional<FailureKind> kind;
    std::string file;
    long line = 0;
    long field = 0;
    std::string message;
    bool operator==(const Ending&) const = default;
};

void PrintTo(const Ending& ending, std::ostream* out) {
    *out << (ending.kind ? ending.message : "success");
}

template <typename Step>
Ending endingOf(const TempDir& dir, Step step) {
    Ending ending;
    try {
        step();
    } catch (const Failure& failure) {
        ending = {failure.kind(), failure.file(), failure.line(), failure.field(), failure.what()};
        // The folder differs from run to run; the rest of the text may not.
        const std::string folder = dir.path().string();
        for (std::size_t at; (at = ending.message.find(folder)) != std::string::npos;)
            ending.message.replace(at, folder.size(), "AppDir");
    }
    return ending;
}

// How the three steps of a run ended, and what the folder holds after them.
// Each step runs whether or not the one before failed, so that a step is
// also asked for after its input was left unfinished.
struct Outcome {
    Ending extraction, table, page;
    ReportFile report;
    std::map<std::string, std::string> files;
    std::set<std::string> names;
    // out.txt was gone while the table was written.
    bool jobsHidden = false;
};

struct Case {
    std::string name;
    std::string dump;
    std::optional<std::string> policies;  // none: no policy list
    Window window = kDay;
    // The list the run starts with, replaced by `policies` after extraction:
    // the run reads its list once, at its start, both ways.
    std::optional<std::string> policiesDuringExtraction{};
    std::string takenByAFolder{};  // an output that cannot be created
};

void writeInputs(const TempDir& dir, const Case& c) {
    dir.write(kDumpFile, c.dump);
    if (c.policiesDuringExtraction)
        dir.write(kPolicyFile, *c.policiesDuringExtraction);
    else if (c.policies)
        dir.write(kPolicyFile, *c.policies);
    if (!c.takenByAFolder.empty())
        std::filesystem::create_directory(dir.file(c.takenByAFolder));
}

void afterExtraction(const TempDir& dir, const Case& c) {
    if (c.policiesDuringExtraction) {
        std::filesystem::remove(dir.file(kPolicyFile));
        if (c.policies)
            dir.write(kPolicyFile, *c.policies);
    }
}

Outcome plainRun(const Case& c) {
    TempDir dir;
    writeInputs(dir, c);
    const PolicyFile policies = readPolicyFile(dir.path());
    Outcome run;
    run.extraction = endingOf(dir, [&] { extractJobs(dir.path(), c.window); });
    afterExtraction(dir, c);
    run.table = endingOf(dir, [&] {
        if (policies.openFailure)
            throw *policies.openFailure;
        LineWriter table(dir.file(kTableFile), kTableFile);
        writeDailyTable(policies.list, table, [&](const std::vector<std::string>& names) {
            return readJobRows(dir.path(), names, labels());
        });
    });
    run.page = endingOf(dir, [&] { run.report = writeReportFile(dir.path(), c.window, kToday); });
    run.files = dir.snapshot();
    run.names = dir.names();
    run.report.page = run.report.page.filename();
    return run;
}

// The overlapped run; with `hideJobs`, out.txt is gone while the table is
// written, wherever its rows must come from the thread that read them while
// extraction wrote the file.
Outcome overlappedRun(const Case& c, bool hideJobs) {
    TempDir dir;
    writeInputs(dir, c);
    Outcome run;
    const PolicyFile policies = readPolicyFile(dir.path());
    std::optional<OverlappedSteps> steps(std::in_place, dir.path(), labels(), c.window, policies,
                                         0);
    run.extraction = endingOf(dir, [&] { steps->extractJobs(); });
    afterExtraction(dir, c);
    // Read for the list the table reads, from out.txt's first line on.
    std::optional<std::string> jobs;
    if (hideJobs && !run.extraction.kind && !c.policiesDuringExtraction)
        jobs = dir.bytes(kJobsFile);
    run.jobsHidden = jobs && !jobs->empty();
    if (run.jobsHidden)
        std::filesystem::remove(dir.file(kJobsFile));
    run.table = endingOf(dir, [&] { steps->writeDailyTable(); });
    if (run.jobsHidden)
        dir.write(kJobsFile, *jobs);
    run.page = endingOf(dir, [&] { run.report = writeReportFile(dir.path(), c.window, kToday); });
    steps.reset();
    run.files = dir.snapshot();
    run.names = dir.names();
    run.report.page = run.report.page.filename();
    return run;
}

void expectSame(const Outcome& actual, const Outcome& expected) {
    EXPECT_EQ(actual.extraction, expected.extraction);
    EXPECT_EQ(actual.table, expected.table);
    EXPECT_EQ(actual.page, expected.page);
    EXPECT_EQ(actual.report.page, expected.report.page);
    EXPECT_EQ(actual.report.counts, expected.report.counts);
    EXPECT_EQ(actual.names, expected.names);
    for (const auto& [name, bytes] : expected.files) {
        const auto found = actual.files.find(name);
        if (found == actual.files.end())
            continue;  // the names differ: said above
        // Files run to megabytes: say where they part rather than print them.
        if (found->second != bytes) {
            const std::string& got = found->second;
            const auto at = std::mismatch(bytes.begin(), bytes.end(), got.begin(), got.end());
            ADD_FAILURE() << name << ": " << got.size() << " bytes for " << bytes.size()
                          << ", first difference at " << (at.first - bytes.begin());
        }
    }
}

// A dump line with field `index` replaced by `text`.
std::string withField(std::string line, std::size_t index, std::string_view text) {
    std::size_t begin = 0;
    for (std::size_t i = 0; i < index; ++i)
        begin = line.find(',', begin) + 1;
    line.replace(begin, line.find(',', begin) - begin, text);
    return line;
}

// Newest first, as the dump lists them: `jobs` jobs inside the window, then
// one before it, which ends the scan.
std::string generatedDump(int jobs, std::mt19937& random) {
    const std::vector<std::string> policies = {"PolA", "PolB", "PolC", "", "pol a"};
    const std::vector<std::string> statuses = {"0", "1", "2", "150"};
    const auto pick = [&random](const std::vector<std::string>& from) {
        return from[random() % from.size()];
    };
    std::string dump = jobAt("0", "PolA", kWindowEnd - kWindowStart + 60);  // after the window
    for (int i = 0; i < jobs; ++i) {
        const long long offset = (kWindowEnd - kWindowStart) * (jobs - i) / (jobs + 1);
        std::string line =
            test::dumpLine({.id = std::to_string(i + 1),
                            .policy = pick(policies),
                            .start = kWindowStart + offset,
                            .status = pick(statuses),
                            .client = "client" + std::to_string(random() % 50),
                            .route = random() % 8 == 0 ? test::Route::Other : test::Route::Marked});
        if (random() % 5 == 0)
            line = withField(line, dump::kRetention, std::to_string(random() % 30));
        dump += line;
    }
    return dump + jobAt("0", "PolA", -1);
}

std::vector<Case> fixedCases() {
    const std::string jobs = jobAt("3", "PolB", 9000, "0", "client3") +
                             jobAt("2", "PolA", 7200, "2", "client2") + jobAt("1", "PolA", 0) +
                             jobAt("0", "PolA", -1);
    const std::string badElapsed =
        withField(jobAt("2", "PolB", 7200), dump::kElapsed, "2147483648") + jobAt("1", "PolA", 0);
    std::vector<Case> cases = {
        {.name = "jobs of listed and unlisted policies",
         .dump = jobs,
         .policies = "PolA\r\nPolC\r\n"},
        {.name = "no policy list", .dump = jobs, .policies = std::nullopt},
        {.name = "empty policy list", .dump = jobs, .policies = ""},
        {.name = "comma in the second policy line",
         .dump = jobs,
         .policies = "PolA\r\nPol,X\r\nPolC"},
        {.name = "comma in the first policy line", .dump = jobs, .policies = "Pol,A\r\nPolA\r\n"},
        {.name = "row with an elapsed time past 32 bits",
         .dump = badElapsed,
         .policies = "PolA\r\n"},
        {.name = "dump line cut short after selected jobs",
         .dump = jobAt("2", "PolA", 7200) + "9,a,b\r\n",
         .policies = "PolA\r\n"},
        {.name = "no dump", .dump = "", .policies = "PolA\r\n"},
        {.name = "no job in the window", .dump = jobAt("0", "PolA", -1), .policies = "PolA\r\n"},
        {.name = "policy list changed during extraction",
         .dump = jobs,
         .policies = "PolB\r\nPolA\r\n",
         .policiesDuringExtraction = "PolA\r\nPolC\r\n"},
        {.name = "policy list written during extraction",
         .dump = jobs,
         .policies = "PolA\r\n",
         .policiesDuringExtraction = ""},
        {.name = "window past year 9999",
         .dump = jobs,
         .policies = "PolA\r\n",
         .window = kPastYear9999},
    };
    for (const std::string output : {"out.txt", "out2.txt", "out1.txt", "report_07-12-26.html"})
        cases.push_back({.name = output + " taken by a folder",
                         .dump = jobs,
                         .policies = "PolA\r\n",
                         .takenByAFolder = output});
    return cases;
}

TEST(OverlappedSteps, WriteWhatTheStepsOneAfterTheOtherWrite) {
    std::vector<Case> cases = fixedCases();
    std::mt19937 random(20261207);
    for (int round = 0; round < 30; ++round) {
        // Every fifth dump makes an out.txt longer than the writer's buffer,
        // which the thread then follows while it is written.
        const int jobs = round % 5 == 0 ? 3000 + static_cast<int>(random() % 2000)
                                        : static_cast<int>(random() % 40);
        std::string dump = generatedDump(jobs, random);
        if (random() % 4 == 0) {  // a bad line somewhere in the window
            std::vector<std::size_t> ends;
            for (std::size_t at = 0; (at = dump.find("\r\n", at)) != std::string::npos; at += 2)
                ends.push_back(at + 2);
            const std::size_t at = ends[random() % ends.size()];
            dump.insert(at, random() % 2 == 0
                                ? withField(jobAt("99", "PolA", 1), dump::kElapsed, "x")
                                : std::string("9,short\r\n"));
        }
        const std::vector<std::string> lists = {"PolA\r\nPolB\r\nPolD\r\n", "PolC\r\n\r\nPolA",
                                                "pol a\r\nPolA\r\nPolA\r\n", "PolB\r\nPol,X\r\n"};
        Case c{.name = "generated round " + std::to_string(round),
               .dump = dump,
               .policies = lists[random() % lists.size()]};
        if (random() % 6 == 0)
            c.policiesDuringExtraction = lists[random() % lists.size()];
        cases.push_back(c);
    }

    int jobsHidden = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome expected = plainRun(c);
        expectSame(overlappedRun(c, false), expected);
        const Outcome hidden = overlappedRun(c, true);
        expectSame(hidden, expected);
        jobsHidden += hidden.jobsHidden ? 1 : 0;
    }
    // The cases do reach the rows taken from the thread.
    EXPECT_GT(jobsHidden, 20);
}

}  // namespace
}  // namespace fennick
