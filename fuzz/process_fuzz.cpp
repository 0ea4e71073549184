// A whole "Process" run over a directory made from the input: the
// configuration, a separator, the policy list, a separator, the dump. Every
// output starts as a stale file, so the check covers what a failing run must
// leave alone as well as what it writes.
#include <chrono>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "common/file_names.h"
#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"
#include "pipeline/retention_labels.h"
#include "run/report_run.h"
#include "support/expected.h"
#include "support/scratch.h"

namespace {

using namespace std::chrono;

// 14 November 2023 08:00:00 to 15 November 08:00:00 in the report zone.
const fennick::Pickers kPickers{
    local_days{2023y / 11 / 14},
    local_days{2000y / 1 / 1} + hours{8},
    local_days{2023y / 11 / 15} + hours{13},
    local_days{2000y / 1 / 1} + hours{8},
};
constexpr fennick::Window kWindow{1699920000, 1700006400};
const fennick::LocalTime kNow = local_days{2026y / 12 / 6} + hours{10};
constexpr std::string_view kStale = "stale\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fennick;
    using namespace fennick::fuzz;
    const auto parts = splitInput({reinterpret_cast<const char*>(data), size}, 3);
    const std::string_view config = parts[0];
    const std::string_view policies = parts[1];
    const std::string_view dump = parts[2];
    const std::string page = pageName(year_month_day{floor<days>(kNow)});
    const std::string_view outputs[] = {kJobsFile, kOtherJobsFile, kTableFile, page};

    clearScratch();
    putFile(kConfigFile, config);
    putFile(kPolicyFile, policies);
    putFile(kDumpFile, dump);
    for (const std::string_view output : outputs)
        putFile(output, kStale);

    // What each step leaves, as long as the steps before it succeed.
    std::string expectedFiles[] = {std::string(kStale), std::string(kStale), std::string(kStale),
                                   std::string(kStale)};
    Ending expectedEnding;
    Window expectedWindow{-1, -1};
    const LabelsResult labels = expectLabels(config);
    expectedEnding = labels.ending;
    if (!expectedEnding.kind) {
        expectedWindow = kWindow;
        const ExtractionResult jobs = expectExtraction(dump, kWindow);
        expectedFiles[0] = jobs.jobs;
        expectedFiles[1] = jobs.otherJobs;
        expectedEnding = jobs.ending;
        if (!expectedEnding.kind) {
            const TableResult table = expectTable(jobs.jobs, policies, labels.labels);
            expectedFiles[2] = table.table;
            expectedEnding = table.ending;
            if (!expectedEnding.kind) {
                const PageResult report =
                    expectPage(table.table, kWindow, year_month_day{floor<days>(kNow)});
                // A failing page step leaves the stale page whole.
                expectedFiles[3] = report.page.value_or(std::string(kStale));
                expectedEnding = report.ending;
            }
        }
    }

    Window window{-1, -1};
    Ending ending;
    try {
        // The window as its owner keeps it: set once the run reached its step.
        const RunResult result = runReport({scratchDir(), kPickers, [] { return kNow; }});
        if (result.windowStepRan)
            window = result.window;
        reportOf(result);
    } catch (const Failure& failure) {
        ending = Ending::of(failure);
    }
    expectSame("how the run ended", describe(expectedEnding), describe(ending));
    expect(window.StartEpoch == expectedWindow.StartEpoch &&
               window.EndEpoch == expectedWindow.EndEpoch,
           "the window is set once the labels are read, and only then");
    for (std::size_t i = 0; i < std::size(outputs); ++i) {
        expectSame(outputs[i], expectedFiles[i], fileBytes(outputs[i]).value_or("<missing>"));
    }
    expect(scratchNames().size() == 7, "a run leaves no file besides its inputs and outputs");
    expectSame("the configuration is left as it was", config, *fileBytes(kConfigFile));
    expectSame("the policy list is left as it was", policies, *fileBytes(kPolicyFile));
    expectSame("the dump is left as it was", dump, *fileBytes(kDumpFile));
    return 0;
}
