// The daily table over an arbitrary out.txt. The input is the policy list,
// a separator, then out.txt; the labels are fixed and include an empty one
// and one with a comma.
#include <cstdint>
#include <string_view>

#include "common/failure.h"
#include "common/file_names.h"
#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"
#include "support/expected.h"
#include "support/scratch.h"

namespace {

fennick::RetentionLabels fixedLabels() {
    fennick::RetentionLabels labels;
    for (std::size_t level = 0; level < labels.size(); ++level)
        labels[level] = "L" + std::to_string(level);
    labels[3] = "1 month";
    labels[7] = "";
    labels[9] = "a,b";
    labels[28] = " infinite ";
    return labels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fennick;
    using namespace fennick::fuzz;
    static const RetentionLabels labels = fixedLabels();
    const auto parts = splitInput({reinterpret_cast<const char*>(data), size}, 2);
    const std::string_view policies = parts[0];
    const std::string_view jobs = parts[1];
    clearScratch();
    putFile(kPolicyFile, policies);
    putFile(kJobsFile, jobs);

    const TableResult expected = expectTable(jobs, policies, labels);
    Ending ending;
    try {
        writeDailyTable(scratchDir(), labels);
    } catch (const Failure& failure) {
        ending = Ending::of(failure);
    }
    expectSame("how the daily table ended", describe(expected.ending), describe(ending));
    expectSame("out1.txt", expected.table, fileBytes(kTableFile).value_or("<missing>"));
    expectSame("out.txt is left as it was", jobs, *fileBytes(kJobsFile));
    return 0;
}
