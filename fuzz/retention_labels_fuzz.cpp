// The configuration reader over a fennick_config.txt made of the input.
// A first byte of 0x80 or more asks for filler before the rest, ending near
// 64 KiB (bit 0x40 clear) or 256 KiB (set), so that the input's lines
// straddle where a large file's reading buffer ends and is refilled; with an
// odd first byte the filler has no line end and becomes one very long line.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "common/file_names.h"
#include "pipeline/retention_labels.h"
#include "support/expected.h"
#include "support/scratch.h"

namespace {

std::string configOf(std::string_view input) {
    if (input.empty() || static_cast<unsigned char>(input[0]) < 0x80)
        return std::string(input);
    const auto mode = static_cast<unsigned char>(input[0]);
    const std::size_t boundary = (mode & 0x40) != 0 ? std::size_t{1} << 18 : std::size_t{1} << 16;
    const std::size_t filler = boundary - 64 + (mode & 0x3f) * 2;
    std::string config(filler, '#');  // an ignored line
    if ((mode & 1) == 0) {
        config[filler - 2] = '\r';
        config[filler - 1] = '\n';
    }
    config += input.substr(1);
    return config;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fennick;
    using namespace fennick::fuzz;
    const std::string config = configOf({reinterpret_cast<const char*>(data), size});
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
