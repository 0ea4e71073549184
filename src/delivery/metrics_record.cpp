#include "delivery/metrics_record.h"

#include <algorithm>
#include <cstdlib>
#include <exception>

#include "common/failure.h"
#include "files/safe_file.h"

namespace fennick {

namespace {

// Far more than kMostRecordedMetricsFiles paths of PATH_MAX bytes: anything
// larger is no record of ours, and is replaced rather than read.
constexpr std::size_t kLargestRecord = std::size_t{1} << 20;

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        if (end > 0)
            lines.emplace_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

}  // namespace

std::vector<std::filesystem::path> recordWrittenMetrics(const std::filesystem::path& record,
                                                        const std::filesystem::path& written) {
    if (written.native().find('\n') != std::string::npos) {
        throw Failure(FailureKind::InvalidArgument,
                      written.string() + " (a line break in the path, which the record " +
                          "could not read back)")
            .at(record.filename().string());
    }
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(written, error);
    if (error) {
        throw Failure(FailureKind::InvalidArgument, written.string() + " (" + error.message() + ")")
            .at(record.filename().string());
    }
    std::vector<std::string> lines = linesOf(smallFileText(record, kLargestRecord));
    if (std::find(lines.begin(), lines.end(), path.native()) != lines.end())
        return {};  // the daily run writes nothing
    lines.push_back(path.native());
    // The newest stay: the file that monitoring reads now is the one that
    // matters most to remove.
    std::vector<std::filesystem::path> dropped;
    const std::size_t excess =
        lines.size() > kMostRecordedMetricsFiles ? lines.size() - kMostRecordedMetricsFiles : 0;
    dropped.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(excess));
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(excess));
    std::string text;
    for (const std::string& line : lines)
        text.append(line).push_back('\n');
    replaceFile(record, text, 0644);
    return dropped;
}

std::optional<std::string> recordWrittenMetricsInState(const std::filesystem::path& written) {
    const char* state = std::getenv("STATE_DIRECTORY");
    if (state == nullptr || *state == '\0')
        return std::nullopt;
    // systemd lists one folder per StateDirectory= entry, joined by ':'.
    const std::string_view folders(state);
    const std::filesystem::path folder(folders.substr(0, folders.find(':')));
    const std::string unrecorded = "the metrics file " + oneLine(written.string()) +
                                   " is not recorded, so purging the " + "package will leave it: ";
    if (!folder.is_absolute())
        return unrecorded + "STATE_DIRECTORY is no absolute path: " + quotedText(state);
    try {
        const std::vector<std::filesystem::path> dropped =
            recordWrittenMetrics(folder / kMetricsRecordName, written);
        if (dropped.empty())
            return std::nullopt;
        std::string note = "the record of metrics files keeps the newest " +
                           std::to_string(kMostRecordedMetricsFiles) +
                           ", so purging the package will leave ";
        for (std::size_t i = 0; i < dropped.size(); ++i)
            note += (i > 0 ? ", " : "") + oneLine(dropped[i].string());
        return note;
    } catch (const std::exception& failure) {
        return unrecorded + failure.what();
    }
}

}  // namespace fennick
