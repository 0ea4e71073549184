#include "report/report_page.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/file_names.h"
#include "report/html_text.h"
#include "support/memory_stream.h"

namespace fennick {
namespace {

constexpr std::string_view kPageName = "report_06-12-26.html";

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

// What writePage leaves in memory: the page as far as it got, the counts of
// a complete page, or the failure.
struct Written {
    std::string page;
    PageCounts counts;
    std::optional<Failure> failure;
};

Written write(std::string table, const Window& window = {}) {
    Written written;
    {
        LineReader reader(test::readingFrom(table), kTableFile);
        LineWriter page(test::appendingTo(written.page), kPageName);
        written.failure =
            test::failureOf([&] { written.counts = writePage(reader, page, window); });
    }  // the writer hands on what it holds, as a failed run's file keeps it
    return written;
}

std::string pageOf(std::string_view table, const Window& window = {}) {
    Written written = write(std::string(table), window);
    EXPECT_FALSE(written.failure) << written.failure->what();
    return written.page;
}

TEST(ReportPage, WholePageMatchesByteForByte) {
    const std::string page = pageOf(
        "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,"
        "Status,Tx Rate,Job ID,Schedule Type\r\n"
        "PolA,Daily,host1,12/05/2026 20:00:00,12/05/2026 21:00:00,1:00.00,1024,10,"
        "2 weeks,0,17,101,Full\r\n"
        ",Daily,host2,12/05/2026,12/05/2026 00:10:00,0:10.00,0,,2 weeks,2,,102,"
        "Differential Incremental\r\n"
        "PolB,Not Found\r\n",
        Window{1796400000, 1796512530});

    // The one copy of the page head here: lines 1 to 8 as the admins'
    // browsers have always received them. The other tests take the page's
    // own kPageHead, which this test holds to these bytes.
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
    EXPECT_EQ(page, expected);
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
        const std::string page = pageOf("A,B\n" + std::string("P,s,c,d,e,f,g,h,i,") +
                                        std::string(c.status) + ",k,l,m\n");
        EXPECT_EQ(pageLine(page, 13).substr(0, c.opening.size() + 10),
                  std::string(c.opening) + "<TD>P</TD>");
    }
}

TEST(ReportPage, EmptyAndNotFoundFieldsGetTheirOwnCellsAnywhere) {
    const std::string page = pageOf(
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
    // f9 is "7" but never looked at; a short not-found line has no f9 at all.
    const std::string page = pageOf("A,B\nQ,Not Found,,,,,,,,7\nR,Not Found\n");
    EXPECT_EQ(pageLine(page, 13).substr(0, 14), "<TR><TD>Q</TD>");
    EXPECT_EQ(pageLine(page, 14).substr(0, 14), "<TR><TD>R</TD>");
    EXPECT_EQ(pageLine(page, 15), "</table> </html>");
}

TEST(ReportPage, LineWithMoreThanThirteenFieldsGetsACellPerFieldAndStatusStaysField9) {
    // A line of more fields than columns: every later field one place on.
    const std::string page = pageOf("A,B\nP,s,c,d,e,f,g,h,2,weeks,1,k,l,m\n");
    EXPECT_EQ(
        pageLine(page, 13),
        "<TR BGCOLOR=\"DD44EE\"><TD>P</TD><TD>s</TD><TD>c</TD><TD>d</TD><TD>e</TD><TD>f</TD>"
        "<TD>g</TD><TD>h</TD><TD>2</TD><TD>weeks</TD><TD>1</TD><TD>k</TD><TD>l</TD><TD>m</TD></TR>")
        << "field 9 \"weeks\" should have highlighted the row";
}

TEST(ReportPage, HeadingRowIgnoresTheEmptyAndNotFoundRules) {
    const std::string page = pageOf("Policy,,Not Found\n");
    EXPECT_EQ(pageLine(page, 11),
              "<TR><TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Policy</TD>"
              "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\"></TD>"
              "<TD bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Not Found</TD></TR>");
}

TEST(ReportPage, TableOfOnlyTheHeaderGivesHeadingSectionAndPageEnd) {
    const std::string page = pageOf("A,B");  // no line end after line 1
    EXPECT_EQ(page, joined({kPageHead, kZeroWindowLines, kHeadingAB, kSectionLine, kPageEndLine}));
}

TEST(ReportPage, WindowNeverComputedShowsEightOClockOnNewYear1970) {
    const std::string page = pageOf("A,B\n", Window{0, 0});
    EXPECT_EQ(pageLine(page, 9),
              "<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1> <br> <FONT "
              "size=1> Start: 01/01/1970 08:00:00<br> End: 01/01/1970 08:00:00</font>");
    EXPECT_EQ(pageLine(page, 10), "");
}

TEST(ReportPage, FileNameIsTheDayOfWritingAsDayMonthTwoDigitYear) {
    EXPECT_EQ(reportFileName(std::chrono::year{2026} / 12 / 6), "report_06-12-26.html");
    EXPECT_EQ(reportFileName(std::chrono::year{2000} / 1 / 31), "report_31-01-00.html");
    EXPECT_EQ(reportFileName(std::chrono::year{1999} / 11 / 9), "report_09-11-99.html");
}

TEST(ReportPage, CountsJobRowsHighlightedRowsAndPoliciesNotFound) {
    struct Case {
        const char* name;
        std::string_view table;
        PageCounts counts;
    };
    const Case cases[] = {
        {"header only", "A,B\r\n", {0, 0, 0, 0}},
        {"no highlighted row",
         "A,B\r\nP,s,c,d,e,f,g,h,i,0,k,l,m\r\n,s,c,d,e,f,g,h,i,1,k,l,m\r\nQ,Not Found\r\n",
         {2, 0, 0, 1}},
        {"highlighted rows",
         "A,B\r\nP,s,c,d,e,f,g,h,i,2,k,l,m\r\n,s,c,d,e,f,g,h,i,,k,l,m\r\n"
         ",s,c,d,e,f,g,h,i, 0,k,l,m\r\n,s,c,d,e,f,g,h,i,0,k,l,m\r\n",
         // An empty status is a job still running: highlighted, and counted so.
         {4, 3, 1, 0}},
        // A not-found line's f9 is never looked at, so it is never failed.
        {"not found only",
         "A,B\r\nQ,Not Found,,,,,,,,7\r\nR,Not Found\r\n,Not Found\r\n",
         {0, 0, 0, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Written written = write(std::string(c.table));
        ASSERT_FALSE(written.failure) << written.failure->what();
        EXPECT_EQ(written.counts, c.counts);
    }
}

TEST(ReportPage, EmptyTableFailsAfterLinesOneToTen) {
    const Written written = write("");
    ASSERT_TRUE(written.failure);
    EXPECT_EQ(written.failure->kind(), FailureKind::InputPastEnd);
    EXPECT_EQ(written.failure->file(), kTableFile);
    EXPECT_EQ(written.failure->line(), 1);
    EXPECT_EQ(written.page, joined({kPageHead, kZeroWindowLines}));
}

TEST(ReportPage, PageThatTakesNoBytesFailsBeforeTheTableIsRead) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr)
        GTEST_SKIP() << "no /dev/full here";
    // Unbuffered, as the writer makes a page file it opens itself: a stream
    // handed in keeps its buffering, which would hold back the failure.
    std::setvbuf(full, nullptr, _IONBF, 0);
    std::string table;  // would fail on its own, but later
    LineReader reader(test::readingFrom(table), kTableFile);
    LineWriter page(full, kPageName);
    const auto failure = test::failureOf([&] { writePage(reader, page, Window{}); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::IoError);
    EXPECT_EQ(failure->file(), kPageName);
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
        const Written written =
            write("A,B\nP,Not Found\n" + std::string(c.line) + "\nQ,Not Found\n");
        ASSERT_TRUE(written.failure);
        EXPECT_EQ(written.failure->kind(), FailureKind::SubscriptOutOfRange);
        EXPECT_EQ(written.failure->file(), kTableFile);
        EXPECT_EQ(written.failure->line(), 3);
        EXPECT_EQ(written.failure->field(), c.field);
        EXPECT_EQ(written.page,
                  joined({kPageHead, kZeroWindowLines, kHeadingAB, kSectionLine,
                          "<TR><TD>P</TD><TD BGCOLOR=\"#333333\" align=center colspan=\"12\"> "
                          "<FONT color=\"CC0000\"><B>Not Found</TD></TR>\r\n"}));
    }
}

TEST(ReportPage, WindowBeyondYear9999FailsAfterTheHead) {
    const Written written = write("A,B\n", Window{0, 1e300});
    ASSERT_TRUE(written.failure);
    EXPECT_EQ(written.failure->kind(), FailureKind::Overflow);
    EXPECT_EQ(written.page, kPageHead);
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
    const std::string page = pageOf("A<b>,B&C\nR&D,s,c,d,e,f,g,h,i,0,k,l,<m>\n<P>,Not Found\n");
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
