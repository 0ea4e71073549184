#include "delivery/mail_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::TempDir;

// What a mail server's limit counts: every line ends in CR LF on the way.
std::uintmax_t sizeOnTheWay(const std::string& message) {
    return message.size() +
           static_cast<std::uintmax_t>(std::count(message.begin(), message.end(), '\n'));
}

// The text parts with quoted-printable's soft line breaks undone, enough to
// find a line of plain ASCII without "=" in them.
std::string unfolded(std::string message) {
    for (std::size_t at; (at = message.find("=\n")) != std::string::npos;)
        message.erase(at, 2);
    return message;
}

// The limit bounds the message as it travels, the page's base64 and the
// summary included; a page that would take it over is left out, and the
// summary says which of the two limits it broke.
TEST(ReportMessage, TheWholeMessageStaysWithinTheLimitOrGoesWithoutThePage) {
    TempDir dir;
    std::string bytes = "<!DOCTYPE html>\n";
    while (bytes.size() < 30000)
        bytes += "<tr><td>PolA</td><td>host</td></tr>\n";
    bytes.resize(30000);
    dir.write("report_09-12-26.html", bytes);
    const std::filesystem::path page = dir.file("report_09-12-26.html");
    const ReportFile report{page, {}};
    Findings findings;
    findings.failing.push_back({"PolA",
                                "hostA",
                                "Daily",
                                true,
                                "2",
                                "1010",
                                1796000000.0,
                                1,
                                std::nullopt,
                                1796000000.0,
                                1,
                                {}});
    findings.counts = {1, 1, 0, 0, 0, 1, 0, 0};
    const std::map<std::string, std::string, std::less<>> meanings;
    const MailHeaderInfo header{
        {"ops@example.com"}, "", std::chrono::system_clock::from_time_t(1796076400), "backup1"};
    // As fennick-cli makes it.
    const auto messageWithin = [&](std::uintmax_t limit) {
        const PageForMail forMail = readPageForMail(page, limit);
        const ActionSummary summary{report,
                                    findings,
                                    meanings,
                                    {1795990000, 1796076400},
                                    7,
                                    forMail.bytes.has_value(),
                                    forMail.size,
                                    forMail.limit};
        return reportMessage(header, summary, forMail);
    };

    const std::string whole = messageWithin(UINTMAX_MAX);
    ASSERT_NE(whole.find("Content-Disposition: attachment"), std::string::npos);
    const std::uintmax_t full = sizeOnTheWay(whole);
    // Base64 alone makes the page 40,000 bytes and more.
    ASSERT_GT(full, 40000u);

    const std::string pagePath = page.string();
    const std::string overMail = " bytes, and the mail with it would be larger than the limit of ";
    struct Case {
        std::uintmax_t limit;
        bool attached;
        std::string line;  // the summary's line about the page
    };
    const Case cases[] = {
        {full, true, "The page (attached): " + pagePath},
        // One byte short: the message is measured, not guessed.
        {full - 1, false,
         "The page: " + pagePath + " (not attached: it has 30000" + overMail +
             std::to_string(full - 1) + ")"},
        // The page fits the limit, but its base64 does not.
        {30000, false,
         "The page: " + pagePath + " (not attached: it has 30000" + overMail + "30000)"},
        {29999, false,
         "The page: " + pagePath +
             " (not attached: it has 30000 bytes, more than the limit of 29999)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        const std::string message = messageWithin(c.limit);
        EXPECT_EQ(message.find("Content-Disposition: attachment") != std::string::npos, c.attached);
        EXPECT_LE(sizeOnTheWay(message), c.limit);
        EXPECT_NE(unfolded(message).find(c.line), std::string::npos);
    }

    // A limit that not even the summary fits: the summary goes all the same,
    // as a mail that a server may refuse says more than none.
    const std::string tiny = messageWithin(100);
    EXPECT_EQ(tiny.find("Content-Disposition: attachment"), std::string::npos);
    EXPECT_NE(unfolded(tiny).find("it has 30000 bytes, more than the limit of 100)"),
              std::string::npos);
}

}  // namespace
}  // namespace fennick
