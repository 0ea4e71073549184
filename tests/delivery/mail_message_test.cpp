#include "delivery/mail_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"
#include "support/temp_dir.h"

namespace fennick::test {

// The RFC 2045 decoders of mail_encoding_test.cpp.
std::string decodeBase64(std::string_view text);
std::string decodeQuotedPrintable(std::string_view text);
std::vector<std::string_view> linesOf(std::string_view text);

namespace {

using namespace std::chrono;

// A message as a reader takes it apart: unfolded header fields in order and
// the body after the first empty line.
struct Parsed {
    std::vector<std::pair<std::string, std::string>> fields;
    std::string body;

    std::vector<std::string> names() const {
        std::vector<std::string> names;
        for (const auto& field : fields)
            names.push_back(field.first);
        return names;
    }
    std::string one(std::string_view name) const {
        const auto found = std::find_if(fields.begin(), fields.end(),
                                        [&](const auto& field) { return field.first == name; });
        const auto all = names();
        EXPECT_EQ(std::count(all.begin(), all.end(), name), 1) << name;
        return found == fields.end() ? std::string() : found->second;
    }
};

Parsed parse(std::string_view text) {
    Parsed parsed;
    const std::size_t end = text.find("\n\n");
    for (const std::string_view line : linesOf(text.substr(0, end))) {
        if (line.starts_with(' ') && !parsed.fields.empty()) {
            parsed.fields.back().second += line;
        } else {
            const std::size_t colon = line.find(": ");
            EXPECT_NE(colon, std::string_view::npos) << line;
            parsed.fields.emplace_back(line.substr(0, colon), line.substr(colon + 2));
        }
    }
    parsed.body = text.substr(end + 2);
    return parsed;
}

// The parts between the boundary's delimiter lines, each parsed; the close
// delimiter must end the message.
std::vector<Parsed> partsOf(const Parsed& message) {
    const std::string type = message.one("Content-Type");
    EXPECT_TRUE(type.starts_with("multipart/alternative;")) << type;
    const std::size_t start = type.find("boundary=\"") + 10;
    const std::string delimiter = "\n--" + type.substr(start, type.find('"', start) - start);
    const std::string_view body = message.body;
    std::vector<Parsed> parts;
    for (std::size_t at = body.find(delimiter); at != std::string::npos;) {
        const std::size_t content = at + delimiter.size() + 1;
        if (body.substr(content - 1) == "--\n")
            return parts;
        at = body.find(delimiter, content);
        parts.push_back(parse(body.substr(content, at + 1 - content)));  // with its last LF
    }
    ADD_FAILURE() << "no close delimiter at the end";
    return parts;
}

MailHeaderInfo headerInfo() {
    MailHeaderInfo info;
    info.to = {"ops@example.org", "backup@example.org"};
    info.from = "fennick@host.example.org";
    info.date = sys_days{2026y / 12 / 7} + 6h + 1s;
    info.messageIdDomain = "host.example.org";
    return info;
}

FailedJob failedJob(int i) {
    return {"Pol_" + std::to_string(i), "client" + std::to_string(i), "Daily", "58",
            std::to_string(5000 + i),   "12/06/2026 06:00:00"};
}

const ReportFile kReport{"/var/lib/fennick/report_07-12-26.html", {477, 2, 1}};

void expectWellFormedLines(std::string_view message) {
    EXPECT_EQ(message.find('\r'), std::string_view::npos);
    const std::size_t headerEnd = message.find("\n\n");
    for (const std::string_view line : linesOf(message.substr(0, headerEnd)))
        EXPECT_LE(line.size(), 78u) << line;
    for (const std::string_view line : linesOf(message))
        EXPECT_LE(line.size(), 998u);
}

TEST(ReportMessage, CarriesTheListsAsTextAndThePageUnchangedAsHtml) {
    struct Case {
        const char* name;
        std::string page;
        const char* charset;
    };
    const Case cases[] = {
        {"windows-1252 page", "<html>\r\n<TD>Caf\xE9</TD>\r\n</table> </html>\r\n", "windows-1252"},
        {"UTF-8 page", "<html>\r\n<TD>Caf\xC3\xA9</TD>\r\n" + std::string(3000, 'x'), "utf-8"},
    };
    ReportFindings findings;
    findings.failed = {failedJob(1), {"Caf\xE9", "c\xE9", "Weekly", "", "7", "12/06/2026"}};
    findings.failedCount = 2;
    findings.notFound = {"Pol_Missing"};
    findings.notFoundCount = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PageForMail page{c.page, c.page.size(), 1000000};

        const std::string message = reportMessage(headerInfo(), kReport, findings, page);

        expectWellFormedLines(message);
        const Parsed parsed = parse(message);
        std::vector<std::string> names;
        for (const auto& field : parsed.fields)
            names.push_back(field.first);
        EXPECT_EQ(names,
                  (std::vector<std::string>{"Date", "From", "To", "Subject", "Message-ID",
                                            "Auto-Submitted", "MIME-Version", "Content-Type"}));
        EXPECT_EQ(parsed.one("Date"), "Mon, 07 Dec 2026 06:00:01 +0000");
        EXPECT_EQ(parsed.one("To"), "ops@example.org, backup@example.org");
        EXPECT_EQ(parsed.one("Subject"), reportSubject(kReport));
        EXPECT_TRUE(parsed.one("Message-ID").ends_with("@host.example.org>"));

        const auto parts = partsOf(parsed);
        ASSERT_EQ(parts.size(), 2u);
        EXPECT_EQ(parts[0].one("Content-Type"), "text/plain; charset=windows-1252");
        EXPECT_EQ(parts[0].one("Content-Transfer-Encoding"), "quoted-printable");
        const std::string text = decodeQuotedPrintable(parts[0].body);
        for (const char* expected :
             {"477 jobs, 2 failed, 1 daily policy not found", "Failed jobs:", "Pol_1", "client1",
              "5001", "12/06/2026 06:00:00", "Caf\xE9", "c\xE9", "Weekly",
              "Daily policies not found:\n  Pol_Missing\n",
              "The page: /var/lib/fennick/report_07-12-26.html\n"})
            EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
        EXPECT_EQ(text.find("more"), std::string::npos);

        EXPECT_EQ(parts[1].one("Content-Type"), std::string("text/html; charset=") + c.charset);
        EXPECT_EQ(parts[1].one("Content-Transfer-Encoding"), "base64");
        EXPECT_EQ(decodeBase64(parts[1].body), c.page);
        for (const std::string_view line : linesOf(parts[1].body))
            EXPECT_LE(line.size(), 76u);
    }
}

TEST(ReportMessage, ListsTheFirstHundredAndCountsTheRest) {
    for (const std::size_t count : {0u, 99u, 100u, 101u, 250u}) {
        SCOPED_TRACE(count);
        ReportFindings findings;
        for (std::size_t i = 0; i < std::min<std::size_t>(count, 100); ++i) {
            findings.failed.push_back(failedJob(static_cast<int>(i)));
            findings.notFound.push_back("Missing_" + std::to_string(i));
        }
        findings.failedCount = findings.notFoundCount = count;
        const PageForMail page{"<html></html>", 13, 100};

        const Parsed parsed = parse(
            reportMessage(headerInfo(), {kReport.page, {count, count, count}}, findings, page));
        const std::string text = decodeQuotedPrintable(partsOf(parsed).at(0).body);

        const auto occurrences = [&](const std::string& piece) {
            std::size_t found = 0;
            for (std::size_t at = 0; (at = text.find(piece, at)) != std::string::npos; ++at)
                ++found;
            return found;
        };
        const std::string more = "\n  ... and " + std::to_string(count - 100) + " more\n";
        EXPECT_EQ(occurrences(more), count > 100 ? 2u : 0u) << text;
        EXPECT_EQ(occurrences(" more\n"), count > 100 ? 2u : 0u) << text;
        EXPECT_EQ(occurrences("\n  Pol_"), std::min<std::size_t>(count, 100));
        EXPECT_EQ(occurrences("No failed jobs.\n") + occurrences("Every daily policy has jobs.\n"),
                  count == 0 ? 2u : 0u);
    }
}

TEST(ReportMessage, PageOverTheLimitIsLeftOutAndNamed) {
    test::TempDir dir;
    const std::string bytes = "<html>" + std::string(994, 'x');  // 1000 bytes
    dir.write("report_07-12-26.html", bytes);

    const PageForMail fits = readPageForMail(dir.file("report_07-12-26.html"), 1000);
    ASSERT_TRUE(fits.bytes);
    EXPECT_EQ(*fits.bytes, bytes);
    EXPECT_EQ(fits.size, 1000u);

    const PageForMail over = readPageForMail(dir.file("report_07-12-26.html"), 999);
    EXPECT_FALSE(over.bytes);
    EXPECT_EQ(over.size, 1000u);
    EXPECT_EQ(over.limit, 999u);

    const ReportFile report{dir.file("report_07-12-26.html"), {3, 0, 0}};
    const std::string message = reportMessage(headerInfo(), report, {}, over);
    expectWellFormedLines(message);
    const Parsed parsed = parse(message);
    EXPECT_EQ(parsed.one("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(parsed.one("Content-Transfer-Encoding"), "quoted-printable");
    EXPECT_EQ(message.find("text/html"), std::string::npos);
    const std::string text = decodeQuotedPrintable(parsed.body);
    EXPECT_NE(text.find("1000 bytes, more than the limit of 999 bytes"), std::string::npos) << text;
    EXPECT_NE(text.find("The page: " + report.page.string()), std::string::npos) << text;

    const auto missing = failureOf([&] { readPageForMail(dir.file("report_08-12-26.html"), 9); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->kind(), FailureKind::FileNotFound);
}

TEST(ReportSubject, LeavesOutWhatIsZeroAndCountsInWords) {
    struct Case {
        PageCounts counts;
        const char* subject;
    };
    const Case cases[] = {
        {{477, 30, 1}, "Backup Report 07-12-26: 30 failed, 1 daily policy not found (477 jobs)"},
        {{477, 30, 0}, "Backup Report 07-12-26: 30 failed (477 jobs)"},
        {{477, 0, 2}, "Backup Report 07-12-26: 2 daily policies not found (477 jobs)"},
        {{1, 1, 0}, "Backup Report 07-12-26: 1 failed (1 job)"},
        {{0, 0, 3}, "Backup Report 07-12-26: 3 daily policies not found (0 jobs)"},
        {{477, 0, 0}, "Backup Report 07-12-26: all 477 jobs succeeded"},
        {{1, 0, 0}, "Backup Report 07-12-26: 1 job succeeded"},
        {{0, 0, 0}, "Backup Report 07-12-26: no jobs"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(reportSubject({kReport.page, c.counts}), c.subject);
    EXPECT_EQ(reportSubject({"/srv/odd.html", {2, 0, 0}}),
              "Backup Report odd.html: all 2 jobs succeeded");
    EXPECT_EQ(failureSubject("File not found: out.txt"),
              "Backup Report FAILED: File not found: out.txt");
}

TEST(MailDate, WritesTheDayOfTheWeekAndUtc) {
    struct Case {
        system_clock::time_point time;
        const char* text;
    };
    const Case cases[] = {
        {sys_days{2026y / 12 / 7} + 6h + 1s + 999ms, "Mon, 07 Dec 2026 06:00:01 +0000"},
        {sys_days{2024y / 2 / 29} + 23h + 59min + 59s, "Thu, 29 Feb 2024 23:59:59 +0000"},
        {system_clock::time_point{}, "Thu, 01 Jan 1970 00:00:00 +0000"},
        {sys_days{2000y / 1 / 1} + 12h + 30min + 5s, "Sat, 01 Jan 2000 12:30:05 +0000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mailDate(c.time), c.text);
}

TEST(FailureMessage, SaysWhereAndWhatWithoutLettingTheTextAddHeaders) {
    MailHeaderInfo info = headerInfo();
    info.from.clear();
    info.to = {"ops@example.org\r\nBcc: to@example.org"};
    info.messageIdDomain = "host name\r\nBcc: x";
    const std::string failure =
        "Type mismatch: out1.txt line 3 \"caf\xE9\"\r\nBcc: someone@example.org\nCc: b@c";

    const std::string message = failureMessage(info, failure, "/srv/fennick");

    expectWellFormedLines(message);
    const Parsed parsed = parse(message);
    EXPECT_EQ(parsed.names(), (std::vector<std::string>{
                                  "Date", "To", "Subject", "Message-ID", "Auto-Submitted",
                                  "MIME-Version", "Content-Type", "Content-Transfer-Encoding"}));
    EXPECT_TRUE(parsed.one("Subject").starts_with("=?windows-1252?B?"));
    EXPECT_TRUE(parsed.one("Message-ID").ends_with("@hostnameBccx>"));
    EXPECT_NE(parse(failureMessage(info, failure, "/srv")).one("Message-ID"),
              parsed.one("Message-ID"));
    EXPECT_EQ(parsed.one("Content-Type"), "text/plain; charset=windows-1252");
    const std::string text = decodeQuotedPrintable(parsed.body);
    EXPECT_NE(text.find("run in /srv/fennick failed"), std::string::npos) << text;
    EXPECT_NE(text.find("caf\xE9\"\nBcc: someone@example.org\nCc: b@c\n"), std::string::npos)
        << text;
}

}  // namespace
}  // namespace fennick::test
