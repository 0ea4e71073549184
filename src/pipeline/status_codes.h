// What the backup product's status codes mean, from the optional
// status_codes.txt of AppDir, so that a summary can say what went wrong.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "files/text_file.h"

namespace fennick {

struct StatusCodes {
    // Code to meaning; found by a view of the status field.
    std::map<std::string, std::string, std::less<>> meanings;
    // "status_codes.txt line 3: not CODE=text, skipped", one per line or
    // failure that was passed over.
    std::vector<std::string> warnings;
};

// Lines "CODE=text": the code is everything before the first "=", compared
// with the status field exactly as text ("05" is not "5"); the meaning is
// everything after it. A later line for the same code wins. Any other line
// (no "=", an empty code) is skipped with a warning, and a read that fails
// keeps the meanings before it with a warning: nothing here fails a run.
StatusCodes readStatusCodes(LineReader& lines);

// The same on status_codes.txt of `appDir`; no file means no meanings.
StatusCodes readStatusCodes(const std::filesystem::path& appDir);

}  // namespace fennick
