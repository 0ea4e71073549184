#include "support/expected.h"

#include <cmath>
#include <cstdio>

#include "common/job_status.h"
#include "common/numbers.h"
#include "pipeline/extraction.h"
#include "report/report_page.h"

namespace fennick::fuzz {

namespace {

constexpr const char* kCrLf = "\r\n";

Failure missingField() {
    return Failure(FailureKind::SubscriptOutOfRange, {});
}

std::string_view field(const std::vector<std::string_view>& fields, std::size_t index) {
    if (index >= fields.size())
        throw missingField();
    return fields[index];
}

std::string_view fieldFromEnd(const std::vector<std::string_view>& fields, std::size_t back) {
    if (back >= fields.size())
        throw missingField();
    return fields[fields.size() - 1 - back];
}

std::string joined(const std::vector<std::string>& columns) {
    std::string line;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0)
            line += ',';
        line += columns[i];
    }
    return line + kCrLf;
}

}  // namespace

Ending Ending::of(const Failure& failure) {
    return Ending{failure.kind(), failure.file(), failure.line()};
}

std::string describe(const Ending& ending) {
    if (!ending.kind)
        return "no failure";
    return std::string(kindName(*ending.kind)) + " in '" + ending.file + "' at line " +
           std::to_string(ending.line);
}

std::vector<std::string_view> textLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        if (lf == std::string_view::npos) {
            lines.push_back(bytes);
            break;
        }
        std::string_view line = bytes.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        bytes.remove_prefix(lf + 1);
    }
    return lines;
}

std::vector<std::string_view> fieldsOf(std::string_view line, char separator) {
    std::vector<std::string_view> fields;
    if (line.empty())
        return fields;
    for (;;) {
        const std::size_t at = line.find(separator);
        fields.push_back(line.substr(0, at));
        if (at == std::string_view::npos)
            return fields;
        line.remove_prefix(at + 1);
    }
}

LabelsResult expectLabels(std::string_view config) {
    LabelsResult result;
    long number = 0;
    for (const std::string_view line : textLines(config)) {
        ++number;
        for (std::size_t level = 0; level <= 28; ++level) {
            char key[8];
            std::snprintf(key, sizeof key, "RL%02zu", level);
            if (line.substr(0, 4) != key)
                continue;
            const auto pieces = fieldsOf(line, '=');
            if (pieces.size() < 2) {
                result.ending = {FailureKind::SubscriptOutOfRange, "fennick_config.txt", number};
                return result;
            }
            // A label goes into a column of the table; a comma would split
            // it. Text after a second "=" is no part of the label.
            if (pieces[1].find(',') != std::string_view::npos) {
                result.ending = {FailureKind::InvalidArgument, "fennick_config.txt", number};
                return result;
            }
            result.labels[level] = std::string(pieces[1]);
        }
    }
    return result;
}

namespace {

std::string dumpDate(std::string_view text) {
    return reportZoneText(leadingNumber(text));
}

// One dump line; false when it ends the scan.
bool extractLine(const std::vector<std::string_view>& f, const Window& window,
                 ExtractionResult& result) {
    const double start = parseNumber(field(f, 8));
    if (start == 0 || start > window.EndEpoch)
        return true;
    if (start < window.StartEpoch)
        return false;

    const std::string_view mark = trimBlanks(fieldFromEnd(f, 19));
    JobRoute route = JobRoute::Marked;
    if (!mark.empty()) {
        if (parseNumber(mark) != 1)
            return true;
    } else {
        route = field(f, 11).empty() ? JobRoute::Other : JobRoute::Flagged;
    }
    // Columns in the order of the written line, each looked up as it comes.
    std::vector<std::string> columns;
    columns.emplace_back(field(f, 4));
    if (route == JobRoute::Other)
        columns.emplace_back(field(f, 1));
    columns.emplace_back(field(f, 5));
    columns.emplace_back(field(f, 6));
    columns.push_back(dumpDate(field(f, 8)));
    columns.push_back(dumpDate(field(f, 10)));
    columns.emplace_back(field(f, 9));
    columns.emplace_back(field(f, 14));
    columns.emplace_back(field(f, 15));
    columns.emplace_back(field(f, 27));
    columns.emplace_back(field(f, 3));
    columns.emplace_back(fieldFromEnd(f, route == JobRoute::Flagged ? 22 : 20));
    columns.emplace_back(field(f, 0));
    columns.emplace_back(field(f, 22));
    (route == JobRoute::Other ? result.otherJobs : result.jobs) += joined(columns);
    return true;
}

}  // namespace

ExtractionResult expectExtraction(std::string_view dump, const Window& window) {
    ExtractionResult result;
    long number = 0;
    for (const std::string_view line : textLines(dump)) {
        ++number;
        try {
            if (!extractLine(fieldsOf(line), window, result))
                break;
        } catch (const Failure& failure) {
            result.ending = {failure.kind(), "bpdbjobs.txt", number};
            break;
        }
    }
    return result;
}

std::string expectDuration(std::int32_t seconds) {
    const double hours = std::floor(seconds / 3600.0);
    const double minutes = std::floor(seconds / 60.0) - 60 * hours;
    const int secondsPart = seconds % 60;
    const auto twoDigits = [](long long value) {
        std::string digits = std::to_string(value < 0 ? -value : value);
        if (digits.size() < 2)
            digits.insert(0, "0");
        return (value < 0 ? "-" : "") + digits;
    };
    return std::to_string(static_cast<long long>(hours)) + ":" +
           twoDigits(static_cast<long long>(minutes)) + "." + twoDigits(secondsPart);
}

namespace {

std::string_view retentionOf(std::string_view code, const RetentionLabels& labels) {
    for (std::size_t level = 0; level <= 28; ++level) {
        if (code == std::to_string(level))
            return labels[level];
    }
    return "Not Programmed";
}

std::string_view scheduleOf(std::string_view code) {
    if (code == "0")
        return "Full Backup";
    if (code == "1")
        return "Differential";
    if (code == "2")
        return "User Backup";
    if (code == "4")
        return "Cumulative";
    return "Not Programmed";
}

}  // namespace

// Policy by policy, every row read, converted and compared again each time,
// exactly as the rules describe the join.
TableResult expectTable(std::string_view jobs, std::string_view policies,
                        const RetentionLabels& labels) {
    TableResult result;
    result.table =
        "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,"
        "Tx Rate,Job ID,Schedule Type\r\n";
    const auto rows = textLines(jobs);
    long policyNumber = 0;
    for (const std::string_view policy : textLines(policies)) {
        ++policyNumber;
        // A name with a comma would take two columns; the line fails as it
        // is read, before the rows are read for it.
        if (policy.find(',') != std::string_view::npos) {
            result.ending = {FailureKind::InvalidArgument, "policy_list.txt", policyNumber};
            return result;
        }
        bool written = false;
        long number = 0;
        for (const std::string_view row : rows) {
            ++number;
            const auto f = fieldsOf(row);
            std::int32_t elapsed = 0;
            std::string_view retention;
            std::string_view schedule;
            try {
                elapsed = parseInt32(field(f, 5));
                retention = retentionOf(field(f, 8), labels);
                schedule = scheduleOf(field(f, 12));
            } catch (const Failure& failure) {
                result.ending = {failure.kind(), "out.txt", number};
                return result;
            }
            if (f[0] != policy)
                continue;
            result.table += joined({written ? std::string() : std::string(f[0]), std::string(f[1]),
                                    std::string(f[2]), std::string(f[3]), std::string(f[4]),
                                    expectDuration(elapsed), std::string(f[6]), std::string(f[7]),
                                    std::string(retention), std::string(f[9]), std::string(f[10]),
                                    std::string(f[11]), std::string(schedule)});
            written = true;
        }
        if (!written)
            result.table += std::string(policy) + ",Not Found" + kCrLf;
    }
    return result;
}

namespace {

// Field text keeps markup out of the page: the one liberty the page takes
// with a field.
std::string cellText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

std::string twoDigits(unsigned value) {
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

std::string pageName(std::chrono::year_month_day today) {
    const int year = static_cast<int>(today.year());
    return std::string(kPageNamePrefix) + twoDigits(static_cast<unsigned>(today.day())) + "-" +
           twoDigits(static_cast<unsigned>(today.month())) + "-" +
           twoDigits(static_cast<unsigned>((year % 100 + 100) % 100)) +
           std::string(kPageNameSuffix);
}

PageResult expectPage(std::string_view table, const Window& window,
                      std::chrono::year_month_day today) {
    PageResult result;
    result.name = pageName(today);
    // The head is fixed text, held to its bytes by the page's own tests.
    std::string page(kPageHead);
    page += "<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1>";
    page += " <br> <FONT size=1> Start: " + reportZoneText(window.StartEpoch);
    page += "<br> End: " + reportZoneText(window.EndEpoch) + "</font>\r\n\r\n";

    const auto lines = textLines(table);
    if (lines.empty()) {
        result.ending = {FailureKind::InputPastEnd, "out1.txt", 1};
        return result;
    }
    page += "<TR>";
    for (const std::string_view name : fieldsOf(lines[0]))
        page +=
            "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">" + cellText(name) + "</TD>";
    page += "</TR>\r\n";
    page +=
        "<tr><TD bgcolor=\"#006666\" colspan=\"13\" align=CENTER><FONT color=\"FFFFFF\"> Daily "
        "Policies </TD></tr>\r\n";

    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = fieldsOf(lines[i]);
        bool highlighted = false;
        try {
            if (field(f, 1) != "Not Found") {
                const std::string_view status = field(f, 9);
                highlighted = !isSuccess(status);
            }
        } catch (const Failure& failure) {
            result.ending = {failure.kind(), "out1.txt", static_cast<long>(i + 1)};
            return result;
        }
        page += highlighted ? "<TR BGCOLOR=\"DD44EE\">" : "<TR>";
        for (const std::string_view cell : f) {
            if (cell.empty())
                page += "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD>";
            else if (cell == "Not Found")
                page +=
                    "<TD BGCOLOR=\"#333333\" align=center colspan=\"12\"> <FONT "
                    "color=\"CC0000\"><B>Not Found</TD>";
            else
                page += "<TD>" + cellText(cell) + "</TD>";
        }
        page += "</TR>\r\n";
    }
    page += "</table> </html>\r\n";
    result.page = std::move(page);
    return result;
}

}  // namespace fennick::fuzz
