// Selects the window's jobs from bpdbjobs.txt into out.txt and out2.txt.
#pragma once

#include <filesystem>

#include "common/fields.h"
#include "common/report_time.h"
#include "files/text_file.h"

namespace fennick {

// Where a job of the window goes, by its routing mark (field L-19, blanks
// trimmed, read as a number) and, without a mark, field 11 (untrimmed).
enum class JobRoute {
    One,      // mark 1: out.txt
    Dropped,  // any other mark: no file
    Two,      // no mark, field 11 not empty: out.txt
    Three,    // no mark, field 11 empty: out2.txt
};

// The route of a dump line split with at least 12 fields in front. A line
// without field L-19 or 11 is "subscript out of range", a mark that is no
// number a type mismatch at the mark's field.
JobRoute routeOf(EdgeFields& fields);

// Reads the dump (newest job first) up to the first job older than the
// window and writes each selected job to `jobs` (out.txt, 13 columns) or
// `otherJobs` (out2.txt, 14 columns), then closes both.
void extractJobs(LineReader& dump, LineWriter& jobs, LineWriter& otherJobs, const Window& window);

// The same on the files of `appDir`: the outputs are created only once the
// dump has opened, so a missing dump leaves earlier outputs as they were.
void extractJobs(const std::filesystem::path& appDir, const Window& window);

}  // namespace fennick
