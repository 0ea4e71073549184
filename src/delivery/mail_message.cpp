#include "delivery/mail_message.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "common/failure.h"
#include "delivery/mail_encoding.h"
#include "run/run_summary.h"

namespace fennick {

namespace {

constexpr std::string_view kTitle = "Backup Report";

std::string counted(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}

// "07-12-26" of "report_07-12-26.html"; a page named otherwise by its name.
std::string pageDate(const std::filesystem::path& page) {
    const std::string name = page.filename().string();
    constexpr std::string_view kPrefix = "report_", kSuffix = ".html";
    if (name.size() > kPrefix.size() + kSuffix.size() && name.starts_with(kPrefix) &&
        name.ends_with(kSuffix))
        return name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    return name;
}

std::string randomHex(std::size_t bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::random_device device;
    std::string out;
    while (out.size() < bytes * 2) {
        unsigned value = device();
        for (int i = 0; i < 4 && out.size() < bytes * 2; ++i, value >>= 8) {
            out += kHex[value >> 4 & 0xF];
            out += kHex[value & 0xF];
        }
    }
    return out;
}

std::string messageId(const MailHeaderInfo& header) {
    std::string domain;
    for (const char c : header.messageIdDomain) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-')
            domain += c;
    }
    if (domain.empty())
        domain = "localhost";
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(header.date.time_since_epoch())
            .count();
    return '<' + std::to_string(millis) + '.' + std::to_string(::getpid()) + '.' + randomHex(8) +
           '@' + domain + '>';
}

std::string headers(const MailHeaderInfo& header, std::string_view subject) {
    std::string out = headerField("Date", mailDate(header.date));
    if (!header.from.empty())
        out += headerField("From", header.from, false);
    std::string to;
    for (const std::string& address : header.to)
        to += (to.empty() ? "" : ", ") + address;
    if (!to.empty())
        out += headerField("To", to, false);
    out += headerField("Subject", subject);
    out += headerField("Message-ID", messageId(header));
    // Vacation responders and the like leave a machine's mail alone (RFC 3834).
    out += "Auto-Submitted: auto-generated\n";
    out += "MIME-Version: 1.0\n";
    return out;
}

std::string plainHeaders(std::string_view text) {
    return "Content-Type: text/plain; charset=" + std::string(charsetOf(text)) +
           "\nContent-Transfer-Encoding: quoted-printable\n\n";
}

// Characters as a monospaced mail client shows them: UTF-8 counts its
// sequences, anything else its bytes.
std::size_t width(std::string_view text) {
    if (!isValidUtf8(text))
        return text.size();
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void appendRow(std::string& out, const std::array<std::string_view, 6>& cells,
               const std::array<std::size_t, 6>& widths) {
    out += "  ";
    for (std::size_t i = 0; i < cells.size(); ++i) {
        out += cells[i];
        if (i + 1 < cells.size())
            out.append(widths[i] - width(cells[i]) + 2, ' ');
    }
    out += '\n';
}

void appendFailedJobs(std::string& out, const ReportFindings& findings) {
    if (findings.failedCount == 0) {
        out += "No failed jobs.\n";
        return;
    }
    out += "Failed jobs:\n";
    const std::array<std::string_view, 6> heading{"Policy", "Client", "Schedule",
                                                  "Status", "Job ID", "Start"};
    std::array<std::size_t, 6> widths{};
    const auto cellsOf = [](const FailedJob& job) {
        return std::array<std::string_view, 6>{job.policy, job.client, job.schedule,
                                               job.status, job.jobId,  job.start};
    };
    for (std::size_t i = 0; i < widths.size(); ++i)
        widths[i] = width(heading[i]);
    for (const FailedJob& job : findings.failed) {
        const auto cells = cellsOf(job);
        for (std::size_t i = 0; i < widths.size(); ++i)
            widths[i] = std::max(widths[i], width(cells[i]));
    }
    appendRow(out, heading, widths);
    for (const FailedJob& job : findings.failed)
        appendRow(out, cellsOf(job), widths);
    if (findings.failedCount > findings.failed.size())
        out += "  ... and " + std::to_string(findings.failedCount - findings.failed.size()) +
               " more\n";
}

void appendNotFound(std::string& out, const ReportFindings& findings) {
    if (findings.notFoundCount == 0) {
        out += "Every daily policy has jobs.\n";
        return;
    }
    out += "Daily policies not found:\n";
    for (const std::string& policy : findings.notFound)
        out += "  " + policy + '\n';
    if (findings.notFoundCount > findings.notFound.size())
        out += "  ... and " + std::to_string(findings.notFoundCount - findings.notFound.size()) +
               " more\n";
}

std::string reportText(const ReportFile& report, const ReportFindings& findings,
                       const PageForMail& page) {
    std::string out = std::string(kTitle) + ' ' + pageDate(report.page) + ": " +
                      countsText(report.counts) + ".\n\n";
    appendFailedJobs(out, findings);
    out += '\n';
    appendNotFound(out, findings);
    out += '\n';
    if (!page.bytes) {
        out += "The page is not attached: it has " + std::to_string(page.size) +
               " bytes, more than the limit of " + std::to_string(page.limit) + " bytes.\n";
    }
    out += "The page: " + report.page.string() + '\n';
    return out;
}

}  // namespace

PageForMail readPageForMail(const std::filesystem::path& page, std::uintmax_t limit) {
    const std::string name = page.filename().string();
    const auto failed = [&](int error) {
        return Failure(error == ENOENT ? FailureKind::FileNotFound : FailureKind::IoError,
                       page.string() + " (" + std::strerror(error) + ")")
            .at(name);
    };
    std::FILE* file = std::fopen(page.c_str(), "rb");
    if (file == nullptr)
        throw failed(errno);
    struct Closer {
        std::FILE* file;
        ~Closer() { std::fclose(file); }
    } closer{file};

    PageForMail result;
    result.limit = limit;
    std::string bytes;
    std::array<char, 1 << 16> buffer;
    // One byte past the limit tells a page over it, without reading it all.
    const std::uintmax_t most = limit == UINTMAX_MAX ? limit : limit + 1;
    while (bytes.size() < most) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uintmax_t>(buffer.size(), most - bytes.size()));
        const std::size_t got = std::fread(buffer.data(), 1, want, file);
        bytes.append(buffer.data(), got);
        if (got < want) {
            if (std::ferror(file))
                throw failed(errno);
            break;
        }
    }
    if (bytes.size() > limit) {
        std::error_code unknown;
        const std::uintmax_t size = std::filesystem::file_size(page, unknown);
        result.size = unknown ? bytes.size() : std::max<std::uintmax_t>(size, bytes.size());
        return result;
    }
    result.size = bytes.size();
    result.bytes = std::move(bytes);
    return result;
}

std::string reportSubject(const ReportFile& report) {
    const PageCounts& counts = report.counts;
    std::string out = std::string(kTitle) + ' ' + pageDate(report.page) + ": ";
    if (counts.failed == 0 && counts.notFound == 0) {
        if (counts.jobs == 0)
            return out + "no jobs";
        return out + (counts.jobs == 1
                          ? "1 job succeeded"
                          : "all " + counted(counts.jobs, "job", "jobs") + " succeeded");
    }
    std::string parts;
    if (counts.failed > 0)
        parts = std::to_string(counts.failed) + " failed";
    if (counts.notFound > 0) {
        parts += parts.empty() ? "" : ", ";
        parts += counted(counts.notFound, "daily policy not found", "daily policies not found");
    }
    return out + parts + " (" + counted(counts.jobs, "job", "jobs") + ')';
}

std::string failureSubject(std::string_view failure) {
    return std::string(kTitle) + " FAILED: " + std::string(failure);
}

std::string mailDate(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto second = floor<seconds>(time);
    const auto day = floor<days>(second);
    const year_month_day date{day};
    const hh_mm_ss clock{second - day};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d +0000",
                  kDays[weekday{day}.c_encoding()], static_cast<unsigned>(date.day()),
                  kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()),
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::string reportMessage(const MailHeaderInfo& header, const ReportFile& report,
                          const ReportFindings& findings, const PageForMail& page) {
    const std::string text = reportText(report, findings, page);
    std::string out = headers(header, reportSubject(report));
    if (!page.bytes) {
        out += plainHeaders(text);
        out += quotedPrintable(text);
        return out;
    }
    // Base64 and quoted-printable never hold "=_", so no part can contain
    // the boundary; the random rest keeps it unique among forwarded mails.
    const std::string boundary = "=_fennick_" + randomHex(12);
    out += "Content-Type: multipart/alternative;\n boundary=\"" + boundary + "\"\n\n";
    out += "This is a multi-part message in MIME format.\n";
    out += "\n--" + boundary + '\n';
    out += plainHeaders(text);
    out += quotedPrintable(text);
    out += "\n--" + boundary + '\n';
    out += "Content-Type: text/html; charset=" + std::string(charsetOf(*page.bytes)) + '\n';
    out += "Content-Transfer-Encoding: base64\n\n";
    out += base64(*page.bytes);
    out += "\n--" + boundary + "--\n";
    return out;
}

std::string failureMessage(const MailHeaderInfo& header, std::string_view failure,
                           const std::filesystem::path& folder) {
    const std::string text = "The backup report run in " + folder.string() + " failed:\n\n" +
                             std::string(failure) +
                             "\n\nThe system journal or the run's standard error has more.\n";
    return headers(header, failureSubject(failure)) + plainHeaders(text) + quotedPrintable(text);
}

}  // namespace fennick
