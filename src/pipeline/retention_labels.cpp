#include "pipeline/retention_labels.h"

#include "common/failure.h"
#include "common/fields.h"
#include "common/file_names.h"
#include "common/located.h"
#include "files/text_file.h"

namespace fennick {

namespace {

// The level of a key "RL00".."RL28" in the line's first four characters,
// or -1 when they are no key.
int keyLevel(std::string_view line) {
    if (line.size() < 4 || line[0] != 'R' || line[1] != 'L')
        return -1;
    const char tens = line[2];
    const char ones = line[3];
    if (tens < '0' || tens > '9' || ones < '0' || ones > '9')
        return -1;
    const int level = (tens - '0') * 10 + (ones - '0');
    return level <= 28 ? level : -1;
}

}  // namespace

RetentionLabels readRetentionLabels(const std::filesystem::path& appDir) {
    LineReader config(fileIn(appDir, kConfigFile), kConfigFile);
    return readRetentionLabels(config);
}

RetentionLabels readRetentionLabels(LineReader& config) {
    RetentionLabels labels;
    Fields pieces;
    while (!config.atEnd()) {
        const std::string_view line = config.readLine();
        const int level = keyLevel(line);
        if (level < 0)
            continue;
        pieces.split(line, '=');
        const std::string_view label = located(kConfigFile, config.lineNumber(), Failure::kNoField,
                                               [&] { return pieces.at(1); });
        // The label becomes a column of out1.txt, where a comma would start a
        // new column and shift the status out of its place.
        if (label.find(',') != std::string_view::npos) {
            throw Failure(FailureKind::InvalidArgument,
                          "has the label " + quotedText(label) + ": a label may not hold a comma")
                .at(kConfigFile, config.lineNumber());
        }
        labels[static_cast<std::size_t>(level)] = label;
    }
    return labels;
}

}  // namespace fennick
