#include "report/report_page.h"

#include "common/columns.h"
#include "common/failure.h"
#include "common/fields.h"
#include "common/file_names.h"
#include "common/job_status.h"
#include "common/located.h"
#include "report/html_text.h"
#include "report/plain_text.h"

namespace fennick {

namespace {

constexpr std::string_view kTitle =
    "<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1>";
constexpr std::string_view kStartLabel = " <br> <FONT size=1> Start: ";
constexpr std::string_view kEndLabel = "<br> End: ";
constexpr std::string_view kWindowClose = "</font>";

constexpr std::string_view kPlainRow = "<TR>";
constexpr std::string_view kHighlightedRow = "<TR BGCOLOR=\"DD44EE\">";
constexpr std::string_view kRowClose = "</TR>";

constexpr std::string_view kHeadingCell = "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">";
constexpr std::string_view kPlainCell = "<TD>";
constexpr std::string_view kEmptyCell = "<TD BGCOLOR=\"#CC99CC\">";
// Without its semicolon, as the page has always had it.
constexpr std::string_view kEmptyFiller = "&nbsp";
constexpr std::string_view kNotFoundCell =
    "<TD BGCOLOR=\"#333333\" align=center colspan=\"12\"> <FONT color=\"CC0000\"><B>";
constexpr std::string_view kCellClose = "</TD>";

constexpr std::string_view kSectionRow =
    "<tr><TD bgcolor=\"#006666\" colspan=\"13\" align=CENTER><FONT color=\"FFFFFF\"> Daily "
    "Policies "
    "</TD></tr>";
constexpr std::string_view kPageEnd = "</table> </html>";

void appendField(std::string& row, std::string_view field, bool plain) {
    if (plain)
        row += field;
    else
        appendHtmlText(row, field);
}

// Line 1 of the table: every field a heading cell, whatever it holds.
void buildHeadingRow(const Fields& fields, bool plain, std::string& row) {
    row.assign(kPlainRow);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        row += kHeadingCell;
        appendField(row, fields[i], plain);
        row += kCellClose;
    }
    row += kRowClose;
}

// A job line or a not-found line. The opening is decided before anything is
// appended, so a line too short for f1 or f9 fails with nothing of it
// written.
void buildRow(const Fields& fields, bool plain, std::string& row, PageCounts& counts) {
    const bool notFound = fields.at(column::kNotFoundMark) == kNotFound;
    bool highlighted = false;
    bool running = false;
    if (!notFound) {
        const std::string_view status = fields.at(column::kStatus);
        highlighted = !isSuccess(status);
        running = jobStatus(status) == JobStatus::Running;
    }
    ++(notFound ? counts.notFound : counts.jobs);
    if (highlighted)
        ++counts.highlighted;
    if (running)
        ++counts.running;
    row.assign(highlighted ? kHighlightedRow : kPlainRow);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string_view field = fields[i];
        if (field.empty()) {
            row += kEmptyCell;
            row += kEmptyFiller;
        } else if (field == kNotFound) {
            row += kNotFoundCell;
            row += kNotFound;
        } else {
            row += kPlainCell;
            appendField(row, field, plain);
        }
        row += kCellClose;
    }
    row += kRowClose;
}

}  // namespace

std::string reportFileName(std::chrono::year_month_day today) {
    std::string name(kPageNamePrefix);
    name += dayMonthYearText(today);
    name += kPageNameSuffix;
    return name;
}

PageCounts writePage(LineReader& table, LineWriter& page, const Window& window) {
    page.write(kPageHead);

    std::string row;
    row.assign(kTitle);
    row += kStartLabel;
    row += zoneText(window.StartEpoch, window.zone);
    row += kEndLabel;
    row += zoneText(window.EndEpoch, window.zone);
    row += kWindowClose;
    row += "\r\n";  // and the empty line 10
    page.writeLine(row);

    // No end test before line 1: an empty table fails here, after lines 1-10.
    Fields fields;
    std::string_view line = table.readLine();
    fields.split(line);
    buildHeadingRow(fields, plainText(line), row);
    page.writeLine(row);

    page.writeLine(kSectionRow);

    PageCounts counts;
    while (!table.atEnd()) {
        line = table.readLine();
        fields.split(line);
        located(kTableFile, table.lineNumber(), Failure::kNoField,
                [&] { buildRow(fields, plainText(line), row, counts); });
        page.writeLine(row);
    }

    page.writeLine(kPageEnd);
    page.close();
    return counts;
}

}  // namespace fennick
