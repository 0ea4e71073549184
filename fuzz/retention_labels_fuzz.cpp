// The configuration reader over a fennick_config.txt made of the input.
#include <cstdint>
#include <string_view>

#include "common/failure.h"
#include "pipeline/retention_labels.h"
#include "support/expected.h"
#include "support/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fennick;
    using namespace fennick::fuzz;
    const std::string_view config(reinterpret_cast<const char*>(data), size);
    clearScratch();
    putFile(kConfigFile, config);

    const LabelsResult expected = expectLabels(config);
    Ending ending;
    RetentionLabels labels;
    try {
        labels = readRetentionLabels(scratchDir());
    } catch (const Failure& failure) {
        ending = Ending::of(failure);
    }
    expectSame("how reading the labels ended", describe(expected.ending), describe(ending));
    if (!ending.kind) {
        for (std::size_t level = 0; level < labels.size(); ++level)
            expectSame("label " + std::to_string(level), expected.labels[level], labels[level]);
    }
    expectSame("the configuration file is left as it was", config, *fileBytes(kConfigFile));
    return 0;
}
