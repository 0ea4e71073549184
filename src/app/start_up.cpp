#include "app/start_up.h"

#include <chrono>
#include <string_view>

#include "common/failure.h"
#include "common/text_file.h"
#include "pipeline/extraction.h"

namespace fennick::app {

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

Pickers unattendedPickers(LocalTime created, const Clock& now) {
    // The same clock time on the previous calendar day, then now.
    const LocalTime start = now() - std::chrono::days{1};
    return Pickers{start, created, now(), created};
}

Window runUnattended(const std::filesystem::path& appDir, const Clock& now) {
    const LocalTime created = now();
    // The id goes nowhere, but a dump without one stops the run here.
    firstJobId(appDir);
    Window window;
    return process(appDir, unattendedPickers(created, now), now, window);
}

std::filesystem::path programDir(const char* argv0) {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        return program.parent_path();
    return std::filesystem::absolute(argv0).parent_path();
}

bool isUnattended(const QStringList& arguments) {
    return arguments.size() == 1 && arguments.front() == QLatin1String(kUnattendedSwitch);
}

}  // namespace fennick::app
