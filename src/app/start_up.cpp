#include "app/start_up.h"

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

bool isUnattended(const QStringList& arguments) {
    return arguments.size() == 1 && arguments.front() == QLatin1String(kUnattendedSwitch);
}

}  // namespace fennick::app
