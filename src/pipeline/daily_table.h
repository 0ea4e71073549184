// Joins the daily policy list with out.txt into out1.txt.
#pragma once

#include <filesystem>
#include <string_view>

#include "pipeline/retention_labels.h"

namespace fennick {

class JobsAhead;
class WriteWatcher;

// The Retention Period text of a level code: the label for "0".."28",
// "Not Programmed" for any other text.
std::string_view retentionText(std::string_view code, const RetentionLabels& labels);

// The Schedule Type text of a schedule-type code.
std::string_view scheduleText(std::string_view code);

// Writes out1.txt: the header line, then for each policy line its job lines
// (the name on the first only) or its not-found line. A policy line with a
// comma is an invalid argument, met when that line's turn comes. With
// `ahead`, out.txt was read while it was written, and is not read again.
// `tableWatcher` hears how far out1.txt is written.
void writeDailyTable(const std::filesystem::path& appDir, const RetentionLabels& labels,
                     JobsAhead* ahead = nullptr, WriteWatcher* tableWatcher = nullptr);

}  // namespace fennick
