// Selects the window's jobs from bpdbjobs.txt into out.txt and out2.txt.
#pragma once

#include <filesystem>

#include "common/fields.h"
#include "common/report_time.h"
#include "files/text_file.h"

namespace fennick {

// Where a job's start (field 8) lies for the window. The tests run in this
// order, so a job after the end is passed over before its start is compared
// with the window's start, even in a window that ends before it starts.
enum class StartPlace {
    NotStarted,   // start 0: a job still queued; passed over
    AfterEnd,     // passed over; the dump's newer jobs stand here
    Inside,       // a job of the window
    BeforeStart,  // newest first, no later line can start inside the window
};
StartPlace placeOfStart(double start, const Window& window);

// Where a job of the window goes, by its routing mark (field L-19, blanks
// trimmed, read as a number) and, without a mark, by the flag of field 11
// (untrimmed).
enum class JobRoute {
    Marked,   // mark 1: a job of the page, to out.txt
    Dropped,  // any other mark: to no file
    Flagged,  // no mark, field 11 not empty: a job of the page, to out.txt, rate at L-22
    Other,    // no mark, field 11 empty: to out2.txt, with field 1 as a 14th column
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
