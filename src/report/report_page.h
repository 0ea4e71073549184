// The "Backup Report" page from out1.txt.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/report_time.h"

namespace fennick {

// "report_DD-MM-YY.html" for the date the page is written on.
std::string reportFileName(std::chrono::year_month_day today);

// Reads out1.txt from `appDir` and writes the page named after `today`
// there; returns the page's path. A missing out1.txt leaves any page as it
// was.
std::filesystem::path writeReport(const std::filesystem::path& appDir, const Window& window,
                                  std::chrono::year_month_day today);

}  // namespace fennick
