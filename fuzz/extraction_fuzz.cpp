// Extraction over an arbitrary dump. The first input byte picks the window,
// the rest is bpdbjobs.txt; out.txt and out2.txt must be what a plain
// reading of the rules leaves, on success and on failure alike.
#include <cstdint>
#include <string_view>

#include "common/failure.h"
#include "common/file_names.h"
#include "pipeline/extraction.h"
#include "support/expected.h"
#include "support/scratch.h"

namespace {

// A day of November 2023 (report zone), the window before any is computed,
// a start after the end, and a span wide enough to reach the years outside
// what a date text can show.
const fennick::Window kWindows[] = {
    {1699920000, 1700006400},
    {0, 0},
    {1700006400, 1699920000},
    {-1e12, 1e12},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fennick;
    using namespace fennick::fuzz;
    if (size == 0)
        return 0;
    const Window& window = kWindows[data[0] % std::size(kWindows)];
    const std::string_view dump(reinterpret_cast<const char*>(data) + 1, size - 1);
    clearScratch();
    putFile(kDumpFile, dump);

    const ExtractionResult expected = expectExtraction(dump, window);
    Ending ending;
    try {
        extractJobs(scratchDir(), window);
    } catch (const Failure& failure) {
        ending = Ending::of(failure);
    }
    expectSame("how extraction ended", describe(expected.ending), describe(ending));
    expectSame("out.txt", expected.jobs, fileBytes(kJobsFile).value_or("<missing>"));
    expectSame("out2.txt", expected.otherJobs, fileBytes(kOtherJobsFile).value_or("<missing>"));
    expectSame("the dump is left as it was", dump, *fileBytes(kDumpFile));
    return 0;
}
