// The names of the retention levels 0 to 28, from fennick_config.txt.
#pragma once

#include <array>
#include <filesystem>
#include <string>

#include "files/text_file.h"

namespace fennick {

using RetentionLabels = std::array<std::string, 29>;

// Lines "RLnn...=label[=...]" set label nn (00..28), the last such line
// winning; every other line is ignored. A missing file is "file not found";
// a key line without "=" is "subscript out of range"; a label that holds a
// comma is "invalid argument" (it would split its out1.txt column in two).
RetentionLabels readRetentionLabels(const std::filesystem::path& appDir);
// The same from lines already open; failures name fennick_config.txt.
RetentionLabels readRetentionLabels(LineReader& config);

}  // namespace fennick
