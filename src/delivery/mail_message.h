// The report mail as one MIME message, for `sendmail -t -oi` to send.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/action_summary.h"

namespace fennick {

struct MailHeaderInfo {
    std::vector<std::string> to;  // addresses, already checked
    std::string from;             // empty: no From header, the mail system adds its own
    std::chrono::system_clock::time_point date;
    std::string messageIdDomain;  // the host name; other than letters, digits, "." and "-" dropped
};

// The page as the mail carries it.
struct PageForMail {
    std::optional<std::string> bytes;  // the page; nothing when it is over the limit
    std::uintmax_t size = 0;
    std::uintmax_t limit = 0;
};

// Reads at most `limit` bytes of the page; a larger page is left out, with
// its size. A page that cannot be read is "file not found" or "I/O error".
PageForMail readPageForMail(const std::filesystem::path& page, std::uintmax_t limit);

// The whole message with LF line ends, multipart/mixed: first the summary
// as multipart/alternative (text/plain and text/html), then the page as a
// text/html attachment named after it, its bytes unchanged, when the whole
// message with it comes within `page.limit` bytes as it travels, each line
// ending in CR LF. Otherwise the page is left out and the summary says why;
// a message over the limit even without the page is the one returned. The
// page's fields of `summary` are set here, from `page` and that outcome.
std::string reportMessage(const MailHeaderInfo& header, const ActionSummary& summary,
                          const PageForMail& page);

// A text/plain message that the run in `folder` failed, with the failure.
std::string failureMessage(const MailHeaderInfo& header, std::string_view failure,
                           const std::filesystem::path& folder);

}  // namespace fennick
