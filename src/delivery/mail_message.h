// The report mail as one MIME message, for `sendmail -t -oi` to send.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/report_findings.h"
#include "run/report_file.h"

namespace fennick {

struct MailHeaderInfo {
    std::vector<std::string> to;  // addresses, already checked
    std::string from;             // empty: no From header, the mail system adds its own
    std::chrono::system_clock::time_point date;
    std::string messageIdDomain;  // the host name; other than letters, digits, "." and "-" dropped
};

// What the HTML part carries.
struct PageForMail {
    std::optional<std::string> bytes;  // the page; nothing when it is over the limit
    std::uintmax_t size = 0;
    std::uintmax_t limit = 0;
};

// Reads at most `limit` bytes of the page; a larger page is left out, with
// its size. A page that cannot be read is "file not found" or "I/O error".
PageForMail readPageForMail(const std::filesystem::path& page, std::uintmax_t limit);

// "Backup Report 07-12-26: 30 failed, 1 daily policy not found (477 jobs)",
// "... 2 daily policies not found (477 jobs)", "... all 477 jobs succeeded",
// "... 1 job succeeded", "... no jobs". The date is the DD-MM-YY of the
// page's name.
std::string reportSubject(const ReportFile& report);
// "Backup Report FAILED: <failure>".
std::string failureSubject(std::string_view failure);

// "Mon, 07 Dec 2026 06:00:01 +0000" (RFC 5322, in UTC).
std::string mailDate(std::chrono::system_clock::time_point time);

// The whole message with LF line ends: multipart/alternative with a plain
// part (the counts, the failed jobs and missing policies in `findings`, the
// page's path) and the page as the HTML part; only the plain part, as
// text/plain, when the page is over the limit.
std::string reportMessage(const MailHeaderInfo& header, const ReportFile& report,
                          const ReportFindings& findings, const PageForMail& page);

// A text/plain message that the run in `folder` failed, with the failure.
std::string failureMessage(const MailHeaderInfo& header, std::string_view failure,
                           const std::filesystem::path& folder);

}  // namespace fennick
