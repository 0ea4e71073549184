#include "delivery/metrics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/failure.h"
#include "common/sync_directory.h"
#include "delivery/mail_encoding.h"

namespace fennick {

namespace {

constexpr std::string_view kSuccess = "fennick_report_success";
constexpr std::string_view kLastRun = "fennick_report_last_run_timestamp_seconds";
constexpr std::string_view kLastSuccess = "fennick_report_last_success_timestamp_seconds";
constexpr std::string_view kJobs = "fennick_report_jobs";
constexpr std::string_view kFailed = "fennick_report_failed_jobs";
constexpr std::string_view kNotFound = "fennick_report_policies_not_found";
constexpr std::string_view kDuration = "fennick_report_duration_seconds";

// Label values are UTF-8 in the format; a path's other bytes become U+FFFD
// so that the collector does not reject the whole file.
std::string labelValue(const std::filesystem::path& folder) {
    const std::string path = folder.string();
    std::string out;
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t length = utf8SequenceLength(path, at);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        for (const char c : std::string_view(path).substr(at, length)) {
            if (c == '\\')
                out += "\\\\";
            else if (c == '"')
                out += "\\\"";
            else if (c == '\n')
                out += "\\n";
            else
                out += c;
        }
        at += length;
    }
    return out;
}

// Milliseconds at most, in the C locale's digits whatever the process's.
std::string number(double value) {
    if (!std::isfinite(value))
        value = 0;
    if (const double rounded = std::round(value * 1000) / 1000; std::isfinite(rounded))
        value = rounded;
    if (value == 0)
        return "0";  // and never "-0"
    // Room for any finite double in plain digits: the largest has 309.
    std::array<char, 400> text;
    const auto result =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return std::string(text.data(), result.ptr);
}

std::string number(std::size_t value) {
    std::array<char, 24> text;
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

void appendGauge(std::string& out, std::string_view name, std::string_view help,
                 const std::string& label, const std::string& value) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += " gauge\n";
    out += name;
    out += "{folder=\"" + label + "\"} " + value + '\n';
}

// The value of `name`'s line for this folder's label, as the text stands.
std::optional<std::string_view> valueOf(std::string_view text, std::string_view name,
                                        const std::string& label) {
    const std::string start = std::string(name) + "{folder=\"" + label + "\"} ";
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(start))
            continue;
        line.remove_prefix(start.size());
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        return line;
    }
    return std::nullopt;
}

template <typename Number>
std::optional<Number> parsed(std::optional<std::string_view> text) {
    if (!text || text->empty())
        return std::nullopt;
    Number value{};
    const auto result = std::from_chars(text->data(), text->data() + text->size(), value);
    if (result.ec != std::errc() || result.ptr != text->data() + text->size())
        return std::nullopt;
    return value;
}

std::string fileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

// Writes all of `text` to `fd`; false with errno set when it cannot.
bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

std::string metricsText(const RunOutcome& run, const std::optional<EarlierSuccess>& earlier) {
    const std::string label = labelValue(run.folder);
    std::optional<EarlierSuccess> last = earlier;
    if (run.success)
        last = EarlierSuccess{run.finished, run.counts};

    std::string out;
    appendGauge(out, kSuccess, "Whether the last report run succeeded (1) or failed (0).", label,
                run.success ? "1" : "0");
    appendGauge(out, kLastRun, "When the last report run ended, in unix seconds.", label,
                number(run.finished));
    // Never a success is 0 rather than no line: an alert on
    // "time() - last success > 26h" then fires for a folder that never
    // produced a page, as it should.
    appendGauge(out, kLastSuccess,
                "When the last successful report run ended, in unix seconds; 0 for never.", label,
                last ? number(last->finished) : "0");
    // The counts are left out without a success: a 0 would read as "nothing
    // failed" on a dashboard, while no line reads as "no data".
    if (last) {
        appendGauge(out, kJobs, "Job rows on the page of the last successful run.", label,
                    number(last->counts.jobs));
        appendGauge(out, kFailed, "Failed job rows on the page of the last successful run.", label,
                    number(last->counts.failed));
        appendGauge(out, kNotFound,
                    "Daily policies without jobs on the page of the last successful run.", label,
                    number(last->counts.notFound));
    }
    appendGauge(out, kDuration, "How long the last report run took, in seconds.", label,
                number(run.duration));
    return out;
}

std::optional<EarlierSuccess> earlierSuccess(std::string_view text,
                                             const std::filesystem::path& folder) {
    const std::string label = labelValue(folder);
    const auto finished = parsed<double>(valueOf(text, kLastSuccess, label));
    const auto jobs = parsed<std::size_t>(valueOf(text, kJobs, label));
    const auto failed = parsed<std::size_t>(valueOf(text, kFailed, label));
    const auto notFound = parsed<std::size_t>(valueOf(text, kNotFound, label));
    if (!finished || !std::isfinite(*finished) || *finished <= 0 || !jobs || !failed || !notFound)
        return std::nullopt;
    return EarlierSuccess{*finished, {*jobs, *failed, *notFound}};
}

void writeMetrics(const std::filesystem::path& file, const RunOutcome& run) {
    std::optional<EarlierSuccess> earlier;
    if (!run.success)
        earlier = earlierSuccess(fileText(file), run.folder);
    const std::string text = metricsText(run, earlier);

    const std::string name = file.filename().string();
    // A name of its own: a run that fails at once may write while the run
    // before it, no longer holding the folder, still writes the same file.
    std::string part = (file.parent_path() / ('.' + name + ".XXXXXX")).string();
    const auto fail = [&](int error, int fd) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(part.c_str());
        return Failure(FailureKind::CannotCreate, file.string() + " (" + std::strerror(error) + ")")
            .at(name);
    };
    // Made anew (O_EXCL): a link planted under the hidden name is not followed.
    const int fd = ::mkostemp(part.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Failure(FailureKind::CannotCreate, file.string() + " (" + std::strerror(error) + ")")
            .at(name);
    }
    if (::fchmod(fd, 0644) != 0 || !writeAll(fd, text) || ::fsync(fd) != 0)
        throw fail(errno, fd);
    if (::close(fd) != 0)
        throw fail(errno, -1);
    if (::rename(part.c_str(), file.c_str()) != 0)
        throw fail(errno, -1);
    // The rename itself reaches the disk with the folder's entry.
    const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
    // The file is whole either way; only a crash could still lose the rename.
    static_cast<void>(syncDirectory(folder));
}

}  // namespace fennick
