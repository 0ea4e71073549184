#include "pipeline/extraction.h"

#include <string>
#include <string_view>

#include "common/columns.h"
#include "common/failure.h"
#include "common/fields.h"
#include "common/file_names.h"
#include "common/located.h"
#include "common/numbers.h"
#include "files/text_file.h"

namespace fennick {

namespace {

using namespace dump;

// The step reads fields 0 to 27 from the front and the last 23 from the
// back; a dump line's long middle is never split.
constexpr std::size_t kFrontFields = kRetention + 1;

// What one dump line does to the scan: nothing, end it, or a line for
// out.txt or out2.txt.
enum class Verdict { Skip, Stop, Job, OtherJob };

void addColumn(std::string& text, std::string_view column) {
    text += column;
    text += ',';
}

void addDateColumn(std::string& text, const EdgeFields& fields, std::size_t index,
                   const TimeZone* zone) {
    const std::string_view field = fields.at(index);
    inField(index, [&text, field, zone] { appendZoneText(text, leadingNumber(field), zone); });
    text += ',';
}

// Builds the whole output line first, so a field that fails leaves nothing
// of the line on disk. out2.txt is the out.txt layout with field 1 second.
void buildLine(std::string& text, EdgeFields& fields, std::size_t rateBack, bool otherJob,
               const TimeZone* zone) {
    text.clear();
    // Fields 4 to 6 and 14 to 15 stand side by side in the dump as in the
    // output: each run is copied in one piece.
    if (otherJob) {
        addColumn(text, fields.at(kPolicy));
        addColumn(text, fields.at(kOtherJobField));
        addColumn(text, fieldRun(fields.at(kSchedule), fields.at(kClient)));
    } else {
        addColumn(text, fieldRun(fields.at(kPolicy), fields.at(kClient)));
    }
    addDateColumn(text, fields, kStart, zone);
    addDateColumn(text, fields, kEnd, zone);
    addColumn(text, fields.at(kElapsed));
    addColumn(text, fieldRun(fields.at(kKilobytes), fields.at(kFiles)));
    addColumn(text, fields.at(kRetention));
    addColumn(text, fields.at(kStatus));
    // Field 27 came first, so a line this far has the transfer rate too.
    addColumn(text, fields.fromEnd(rateBack));
    addColumn(text, fields.at(kJobId));
    text += fields.at(kScheduleType);
}

// Decides what one dump line does to the scan and, for a job to be written,
// builds its line into `text`.
Verdict examine(EdgeFields& fields, const Window& window, std::string& text) {
    const std::string_view startField = fields.at(kStart);
    const double start = inField(kStart, [startField] { return parseNumber(startField); });
    switch (placeOfStart(start, window)) {
        case StartPlace::NotStarted:
        case StartPlace::AfterEnd:
            return Verdict::Skip;
        case StartPlace::BeforeStart:
            // The rest of the dump is never read.
            return Verdict::Stop;
        case StartPlace::Inside:
            break;
    }

    switch (routeOf(fields)) {
        case JobRoute::Marked:
            buildLine(text, fields, kTransferRateFromEnd, false, window.zone);
            return Verdict::Job;
        case JobRoute::Dropped:
            return Verdict::Skip;
        case JobRoute::Flagged:
            buildLine(text, fields, kFlaggedTransferRateFromEnd, false, window.zone);
            return Verdict::Job;
        case JobRoute::Other:
            break;
    }
    buildLine(text, fields, kTransferRateFromEnd, true, window.zone);
    return Verdict::OtherJob;
}

}  // namespace

StartPlace placeOfStart(double start, const Window& window) {
    if (start == 0)
        return StartPlace::NotStarted;
    if (start > window.EndEpoch)
        return StartPlace::AfterEnd;
    // The dump lists the newest job first: nothing after this one can start
    // inside the window.
    if (start < window.StartEpoch)
        return StartPlace::BeforeStart;
    return StartPlace::Inside;
}

JobRoute routeOf(EdgeFields& fields) {
    using namespace dump;
    const std::string_view mark = trimBlanks(fields.fromEnd(kRoutingMarkFromEnd));
    if (!mark.empty()) {
        // Only a failure needs the mark's index, and with it the count of
        // the middle's fields.
        const double value = inField([&fields] { return fields.size() - 1 - kRoutingMarkFromEnd; },
                                     [mark] { return parseNumber(mark); });
        return value == 1 ? JobRoute::Marked : JobRoute::Dropped;
    }
    // The flag is tested untrimmed: a blank there still counts as text.
    return fields.at(kPageFlag).empty() ? JobRoute::Other : JobRoute::Flagged;
}

void extractJobs(LineReader& dump, LineWriter& jobs, LineWriter& otherJobs, const Window& window) {
    // One line view, one field list and one output text serve every line, so
    // memory follows the widest line rather than the dump.
    EdgeFields fields;
    std::string text;
    for (bool scanning = true; scanning && !dump.atEnd();) {
        fields.split(dump.readLine(), kFrontFields);
        const Verdict verdict = located(kDumpFile, dump.lineNumber(), Failure::kNoField,
                                        [&] { return examine(fields, window, text); });
        switch (verdict) {
            case Verdict::Skip:
                break;
            case Verdict::Stop:
                scanning = false;
                break;
            case Verdict::Job:
                jobs.writeLine(text);
                break;
            case Verdict::OtherJob:
                otherJobs.writeLine(text);
                break;
        }
    }
    // Nothing reads out2.txt later in the run, so it closes with out.txt;
    // close() rather than the destructor so that a failed flush is reported.
    jobs.close();
    otherJobs.close();
}

void extractJobs(const std::filesystem::path& appDir, const Window& window) {
    // The dump opens first, so a missing dump leaves earlier outputs alone.
    LineReader dump(fileIn(appDir, kDumpFile), kDumpFile);
    LineWriter jobs(fileIn(appDir, kJobsFile), kJobsFile);
    LineWriter otherJobs(fileIn(appDir, kOtherJobsFile), kOtherJobsFile);
    extractJobs(dump, jobs, otherJobs, window);
}

}  // namespace fennick
