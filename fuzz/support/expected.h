// A second, deliberately plain reading of the rules for each step: straight
// loops over whole strings, no buffers, no index. The fuzz targets compare
// the real steps with it byte for byte, failures included. Number and date
// conversions come from the library (the numbers target checks those).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "common/report_time.h"
#include "pipeline/retention_labels.h"

namespace fennick::fuzz {

// How a step ended: no failure, or a failure of a kind, in a file, at a line.
struct Ending {
    std::optional<FailureKind> kind;
    std::string file;
    long line = Failure::kNoLine;

    static Ending of(const Failure& failure);
    bool operator==(const Ending&) const = default;
};
std::string describe(const Ending& ending);

// The lines a text file reader returns: split at LF, one CR before an LF
// dropped, a last line without LF kept, no line for an empty file.
std::vector<std::string_view> textLines(std::string_view bytes);
// Fields of a line split at every `separator`; an empty line has none.
std::vector<std::string_view> fieldsOf(std::string_view line, char separator = ',');

struct LabelsResult {
    RetentionLabels labels;
    Ending ending;
};
LabelsResult expectLabels(std::string_view config);

struct ExtractionResult {
    std::string jobs;       // out.txt as left on disk
    std::string otherJobs;  // out2.txt as left on disk
    Ending ending;
};
ExtractionResult expectExtraction(std::string_view dump, const Window& window);

// Duration text, computed the long way round (floors in double precision).
std::string expectDuration(std::int32_t seconds);

struct TableResult {
    std::string table;  // out1.txt as left on disk
    Ending ending;
};
TableResult expectTable(std::string_view jobs, std::string_view policies,
                        const RetentionLabels& labels);

// "report_DD-MM-YY.html" for the day the page is written on.
std::string pageName(std::chrono::year_month_day today);

struct PageResult {
    std::string name;
    // The whole page; nothing when the step fails, which then leaves the
    // page on disk as it was: the page appears whole or not at all.
    std::optional<std::string> page;
    Ending ending;
};
PageResult expectPage(std::string_view table, const Window& window,
                      std::chrono::year_month_day today);

}  // namespace fennick::fuzz
