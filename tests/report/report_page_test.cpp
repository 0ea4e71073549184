#include "report/report_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "report/html_text.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

constexpr std::chrono::year_month_day kToday{std::chrono::year{2026} / 12 / 6};
constexpr std::string_view kPageName = "report_06-12-26.html";

// Lines 1 to 8 as the admins' browsers have always received them.
constexpr std::string_view kExpectedHead =
    "<html>\r\n"
    "<STYLE TYPE=\"text/css\">\r\n"
    "<!--\r\n"
    "TD{font-family: Arial; font-size: 8pt;}\r\n"
    "--->\r\n"
    "</STYLE>\r\n"
    "<TABLE BORDER=5 CELLPADDING=1 CELLSPACING=2 BGCOLOR=\"#99CCCC\">\r\n"
    "\r\n";

// Lines 9 and 10 for a window of 0 to 0.
constexpr std::string_view kZeroWindowLines =
    "<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1> <br> <FONT size=1> Start: "
    "01/01/1970 08:00:00<br> End: 01/01/1970 08:00:00</font>\r\n"
    "\r\n";

constexpr std::string_view kSectionLine =
    "<tr><TD bgcolor=\"#006666\" colspan=\"13\" align=CENTER><FONT color=\"FFFFFF\"> Daily "
    "Policies </TD></tr>\r\n";

// Heading row and section row for a table whose line 1 is "A,B".
constexpr std::string_view kHeadingAB =
    "<TR><TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">A</TD>"
    "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">B</TD></TR>\r\n";

constexpr std::string_view kPageEndLine = "</table> </html>\r\n";

std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const auto part : parts)
        text += part;
    return text;
}

// Line `number` (1-based) of a page, without its CR LF; "<none>" past the end.
std::string pageLine(const std::string& page, int number) {
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) {
        start = page.find("\r\n", start);
        if (start == std::string::npos)
            return "<none>";
        start += 2;
    }
    const std::size_t end = page.find("\r\n", start);
    if (end == std::string::npos)
        return "<none>";
    return page.substr(start, end - start);
}

std::string runReport(const TempDir& dir, std::string_view table, Window window = {}) {
    dir.write("out1.txt", table);
    writeReport(dir.path(), window, kToday);
    return dir.read(kPageName);
}

Failure runReportExpectingFailure(const TempDir& dir, Window window = {}) {
    try {
        writeReport(dir.path(), window, kToday);
    } catch (const Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "writeReport did not fail";
    return Failure(FailureKind::IoError, "no failure");
}

TEST(ReportPage, WholePageMatchesByteForByte) {
    TempDir dir;
    dir.write("out1.txt",
              "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,"
              "Status,Tx Rate,Job ID,Schedule Type\r\n"
              "PolA,Daily,host1,12/05/2026 20:00:00,12/05/2026 21:00:00,1:00.00,1024,10,"
              "2 weeks,0,17,101,Full\r\n"
              ",Daily,host2,12/05/2026,12/05/2026 00:10:00,0:10.00,0,,2 weeks,2,,102,"
              "Differential Incremental\r\n"
              "PolB,Not Found\r\n");
    const Window window{1796400000, 1796512530};

    const auto path = writeReport(dir.path(), window, kToday);

    EXPECT_EQ(path, dir.file("report_06-12-26.html"));
    const std::string expected =
        "<html>\r\n"
        "<STYLE TYPE=\"text/css\">\r\n"
        "<!--\r\n"
        "TD{font-family: Arial; font-size: 8pt;}\r\n"
        "--->\r\n"
        "</STYLE>\r\n"
        "<TABLE BORDER=5 CELLPADDING=1 CELLSPACING=2 BGCOLOR=\"#99CCCC\">\r\n"
        "\r\n"
        "<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1> <br> <FONT size=1> "
        "Start: 12/05/2026<br> End: 12/06/2026 07:15:30</font>\r\n"
        "\r\n"
        "<TR>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Policy</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Schedule</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Client</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Start</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">End</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Elapsed Time</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">KBytes</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Files</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Retention Period</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Status</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Tx Rate</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Job ID</TD>"
        "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Schedule Type</TD>"
        "</TR>\r\n"
        "<tr><TD bgcolor=\"#006666\" colspan=\"13\" align=CENTER><FONT color=\"FFFFFF\"> Daily "
        "Policies </TD></tr>\r\n"
        "<TR><TD>PolA</TD><TD>Daily</TD><TD>host1</TD><TD>12/05/2026 20:00:00</TD>"
        "<TD>12/05/2026 21:00:00</TD><TD>1:00.00</TD><TD>1024</TD><TD>10</TD><TD>2 weeks</TD>"
        "<TD>0</TD><TD>17</TD><TD>101</TD><TD>Full</TD></TR>\r\n"
        "<TR BGCOLOR=\"DD44EE\"><TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD>Daily</TD><TD>host2</TD>"
        "<TD>12/05/2026</TD><TD>12/05/2026 00:10:00</TD><TD>0:10.00</TD><TD>0</TD>"
        "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD>2 weeks</TD><TD>2</TD>"
        "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD>102</TD><TD>Differential Incremental</TD>"
        "</TR>\r\n"
        "<TR><TD>PolB</TD><TD BGCOLOR=\"#333333\" align=center colspan=\"12\"> <FONT "
        "color=\"CC0000\"><B>Not Found</TD></TR>\r\n"
        "</table> </html>\r\n";
    EXPECT_EQ(dir.read(kPageName), expected);
}

TEST(ReportPage, OnlyStatusZeroOrOneKeepsThePlainRowOpening) {
    struct Case {
        std::string_view status;
        std::string_view opening;
    };
    const Case cases[] = {
        {"0", "<TR>"},
        {"1", "<TR>"},
        {"2", "<TR BGCOLOR=\"DD44EE\">"},
        {"", "<TR BGCOLOR=\"DD44EE\">"},
        {"00", "<TR BGCOLOR=\"DD44EE\">"},
        {" 0", "<TR BGCOLOR=\"DD44EE\">"},
        {"0 ", "<TR BGCOLOR=\"DD44EE\">"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("status \"" + std::string(c.status) + "\"");
        TempDir dir;
        const std::string page = runReport(
            dir, "A,B\n" + std::string("P,s,c,d,e,f,g,h,i,") + std::string(c.status) + ",k,l,m\n");
        EXPECT_EQ(pageLine(page, 13).substr(0, c.opening.size() + 10),
                  std::string(c.opening) + "<TD>P</TD>");
    }
}

TEST(ReportPage, EmptyAndNotFoundFieldsGetTheirOwnCellsAnywhere) {
    TempDir dir;
    const std::string page = runReport(dir,
                                       "A,B\n"
                                       "P,s,,Not Found,not found,f,g,h,i,1,k,Not Found ,\n"
                                       ",Not Found\n");
    EXPECT_EQ(pageLine(page, 13),
              "<TR><TD>P</TD><TD>s</TD><TD BGCOLOR=\"#CC99CC\">&nbsp</TD>"
              "<TD BGCOLOR=\"#333333\" align=center colspan=\"12\"> <FONT "
              "color=\"CC0000\"><B>Not Found</TD><TD>not found</TD><TD>f</TD><TD>g</TD><TD>h</TD>"
              "<TD>i</TD><TD>1</TD><TD>k</TD><TD>Not Found </TD>"
              "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD></TR>");
    // A not-found line of an empty policy name: filler first, then the wide cell.
    EXPECT_EQ(pageLine(page, 14),
              "<TR><TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD BGCOLOR=\"#333333\" align=center "
              "colspan=\"12\"> <FONT color=\"CC0000\"><B>Not Found</TD></TR>");
}

TEST(ReportPage, NotFoundInFieldOneSkipsTheStatusTest) {
    TempDir dir;
    // f9 is "7" but never looked at; a short not-found line has no f9 at all.
    const std::string page = runReport(dir, "A,B\nQ,Not Found,,,,,,,,7\nR,Not Found\n");
    EXPECT_EQ(pageLine(page, 13).substr(0, 14), "<TR><TD>Q</TD>");
    EXPECT_EQ(pageLine(page, 14).substr(0, 14), "<TR><TD>R</TD>");
    EXPECT_EQ(pageLine(page, 15), "</table> </html>");
}

TEST(ReportPage, LineWithMoreThanThirteenFieldsGetsACellPerFieldAndStatusStaysField9) {
    TempDir dir;
    // A retention label holding a comma pushes the later fields one place on.
    const std::string page = runReport(dir, "A,B\nP,s,c,d,e,f,g,h,2,weeks,1,k,l,m\n");
    EXPECT_EQ(
        pageLine(page, 13),
        "<TR BGCOLOR=\"DD44EE\"><TD>P</TD><TD>s</TD><TD>c</TD><TD>d</TD><TD>e</TD><TD>f</TD>"
        "<TD>g</TD><TD>h</TD><TD>2</TD><TD>weeks</TD><TD>1</TD><TD>k</TD><TD>l</TD><TD>m</TD></TR>")
        << "field 9 \"weeks\" should have highlighted the row";
}

TEST(ReportPage, HeadingRowIgnoresTheEmptyAndNotFoundRules) {
    TempDir dir;
    const std::string page = runReport(dir, "Policy,,Not Found\n");
    EXPECT_EQ(pageLine(page, 11),
              "<TR><TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Policy</TD>"
              "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\"></TD>"
              "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Not Found</TD></TR>");
}

TEST(ReportPage, TableOfOnlyTheHeaderGivesHeadingSectionAndPageEnd) {
    TempDir dir;
    const std::string page = runReport(dir, "A,B");  // no line end after line 1
    EXPECT_EQ(page,
              joined({kExpectedHead, kZeroWindowLines, kHeadingAB, kSectionLine, kPageEndLine}));
}

TEST(ReportPage, WindowNeverComputedShowsEightOClockOnNewYear1970) {
    TempDir dir;
    const std::string page = runReport(dir, "A,B\n", Window{0, 0});
    EXPECT_EQ(pageLine(page, 9),
              "<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1> <br> <FONT "
              "size=1> Start: 01/01/1970 08:00:00<br> End: 01/01/1970 08:00:00</font>");
    EXPECT_EQ(pageLine(page, 10), "");
}

TEST(ReportPage, FileNameIsTheDayOfWritingAsDayMonthTwoDigitYear) {
    EXPECT_EQ(reportFileName(std::chrono::year{2026} / 12 / 6), "report_06-12-26.html");
    EXPECT_EQ(reportFileName(std::chrono::year{2000} / 1 / 31), "report_31-01-00.html");
    EXPECT_EQ(reportFileName(std::chrono::year{1999} / 11 / 9), "report_09-11-99.html");

    TempDir dir;
    dir.write("out1.txt", "A,B\n");
    // A February window, written on 5 March: named after 5 March.
    const Window february{1769904000, 1769990400};
    const auto path = writeReport(dir.path(), february, std::chrono::year{2026} / 3 / 5);
    EXPECT_EQ(path, dir.file("report_05-03-26.html"));
    EXPECT_TRUE(dir.exists("report_05-03-26.html"));
    EXPECT_FALSE(dir.exists("report_01-02-26.html"));
}

TEST(ReportPage, SecondRunOnTheSameDayReplacesThePage) {
    TempDir dir;
    runReport(dir, "A,B\nP,Not Found\nQ,Not Found\nR,Not Found\n");
    const std::string second = runReport(dir, "A,B\n");
    EXPECT_EQ(second,
              joined({kExpectedHead, kZeroWindowLines, kHeadingAB, kSectionLine, kPageEndLine}));
}

TEST(ReportPage, MissingTableLeavesAnExistingPageUntouched) {
    TempDir dir;
    dir.write(kPageName, "yesterday's run");
    const Failure failure = runReportExpectingFailure(dir);
    EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
    EXPECT_EQ(failure.file(), "out1.txt");
    EXPECT_EQ(dir.read(kPageName), "yesterday's run");
}

TEST(ReportPage, MissingTableCreatesNoPage) {
    TempDir dir;
    const Failure failure = runReportExpectingFailure(dir);
    EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
    EXPECT_FALSE(dir.exists(kPageName));
}

TEST(ReportPage, EmptyTableFailsAfterLinesOneToTen) {
    TempDir dir;
    dir.write(kPageName, "an older page that must be emptied");
    dir.write("out1.txt", "");
    const Failure failure = runReportExpectingFailure(dir);
    EXPECT_EQ(failure.kind(), FailureKind::InputPastEnd);
    EXPECT_EQ(failure.file(), "out1.txt");
    EXPECT_EQ(failure.line(), 1);
    EXPECT_EQ(dir.read(kPageName), joined({kExpectedHead, kZeroWindowLines}));
}

TEST(ReportPage, PageThatTakesNoBytesFailsBeforeTheTableIsRead) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    TempDir dir;
    std::filesystem::create_symlink("/dev/full", dir.file(kPageName));
    dir.write("out1.txt", "");  // would fail on its own, but later
    const Failure failure = runReportExpectingFailure(dir);
    EXPECT_EQ(failure.kind(), FailureKind::IoError);
    EXPECT_EQ(failure.file(), kPageName);
}

TEST(ReportPage, ShortLineFailsWithEarlierRowsKeptAndNothingOfItsOwn) {
    struct Case {
        std::string_view line;
        long field;
    };
    const Case cases[] = {
        {"", 1},                   // an empty line has no fields at all
        {"NoComma", 1},            // one field
        {"Pol,X,Not Found", 9},    // a policy name holding a comma
        {"P,s,c,d,e,f,g,h,i", 9},  // nine fields: no status
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("line \"" + std::string(c.line) + "\"");
        TempDir dir;
        dir.write("out1.txt", "A,B\nP,Not Found\n" + std::string(c.line) + "\nQ,Not Found\n");
        const Failure failure = runReportExpectingFailure(dir);
        EXPECT_EQ(failure.kind(), FailureKind::SubscriptOutOfRange);
        EXPECT_EQ(failure.file(), "out1.txt");
        EXPECT_EQ(failure.line(), 3);
        EXPECT_EQ(failure.field(), c.field);
        EXPECT_EQ(dir.read(kPageName),
                  joined({kExpectedHead, kZeroWindowLines, kHeadingAB, kSectionLine,
                          "<TR><TD>P</TD><TD BGCOLOR=\"#333333\" align=center colspan=\"12\"> "
                          "<FONT color=\"CC0000\"><B>Not Found</TD></TR>\r\n"}));
    }
}

TEST(ReportPage, PageThatCannotBeCreatedFails) {
    TempDir dir;
    dir.write("out1.txt", "A,B\n");
    std::filesystem::create_directory(dir.file(kPageName));
    const Failure failure = runReportExpectingFailure(dir);
    EXPECT_EQ(failure.kind(), FailureKind::CannotCreate);
    EXPECT_EQ(failure.file(), kPageName);
}

TEST(ReportPage, WindowBeyondYear9999FailsAfterTheHead) {
    TempDir dir;
    dir.write("out1.txt", "A,B\n");
    const Failure failure = runReportExpectingFailure(dir, Window{0, 1e300});
    EXPECT_EQ(failure.kind(), FailureKind::Overflow);
    EXPECT_EQ(dir.read(kPageName), kExpectedHead);
}

TEST(HtmlText, EscapesOnlyAmpersandAndAngleBrackets) {
    struct Case {
        std::string_view field;
        std::string_view written;
    };
    const Case cases[] = {
        {"PolA", "PolA"},         {"", ""},
        {"R&D", "R&amp;D"},       {"<script>x</script>", "&lt;script&gt;x&lt;/script&gt;"},
        {"&amp;", "&amp;amp;"},  // already-escaped text is still just text
        {"a\"b'c", "a\"b'c"},    // cells are not attributes
        {"&<>", "&amp;&lt;&gt;"}, {"caf\xE9 \x80", "caf\xE9 \x80"},  // 8-bit bytes pass through
    };
    for (const auto& c : cases) {
        std::string out = "kept:";
        appendHtmlText(out, c.field);
        EXPECT_EQ(out, "kept:" + std::string(c.written)) << "field \"" << c.field << "\"";
    }
}

TEST(HtmlText, FieldMarkupIsEscapedInEveryKindOfCell) {
    TempDir dir;
    const std::string page =
        runReport(dir, "A<b>,B&C\nR&D,s,c,d,e,f,g,h,i,0,k,l,<m>\n<P>,Not Found\n");
    EXPECT_EQ(pageLine(page, 11),
              "<TR><TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">A&lt;b&gt;</TD>"
              "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">B&amp;C</TD></TR>");
    EXPECT_EQ(pageLine(page, 13),
              "<TR><TD>R&amp;D</TD><TD>s</TD><TD>c</TD><TD>d</TD><TD>e</TD><TD>f</TD><TD>g</TD>"
              "<TD>h</TD><TD>i</TD><TD>0</TD><TD>k</TD><TD>l</TD><TD>&lt;m&gt;</TD></TR>");
    EXPECT_EQ(pageLine(page, 14),
              "<TR><TD>&lt;P&gt;</TD><TD BGCOLOR=\"#333333\" align=center colspan=\"12\"> <FONT "
              "color=\"CC0000\"><B>Not Found</TD></TR>");
}

}  // namespace
}  // namespace fennick
