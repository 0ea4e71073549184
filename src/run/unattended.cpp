#include "run/unattended.h"

#include <chrono>
#include <string_view>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/text_file.h"

namespace fennick {

std::string firstJobId(const std::filesystem::path& appDir) {
    LineReader dump(fileIn(appDir, kDumpFile), kDumpFile);
    const std::string_view line = dump.readLine();
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) {
        // Taking the text before a comma that is not there asks for a
        // negative length.
        throw Failure(FailureKind::InvalidArgument, "the first line holds no comma")
            .at(kDumpFile, dump.lineNumber());
    }
    return std::string(line.substr(0, comma));
}

Pickers dayBefore(LocalTime end, LocalTime times) {
    // The same clock time on the previous calendar day: the report zone has
    // no daylight saving, so that is always 24 hours.
    return Pickers{end - std::chrono::days{1}, times, end, times};
}

ReportFile runUnattended(const std::filesystem::path& appDir, const Clock& now) {
    // One reading of the clock for the dates and the times of day alike: two
    // readings on either side of midnight would shift the window by a day.
    const LocalTime start = now();
    RunRequest request{appDir, dayBefore(start, start), now};
    request.readFirstJobId = true;
    return reportOf(runReport(request));
}

}  // namespace fennick
