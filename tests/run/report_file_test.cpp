#include "run/report_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/file_names.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono;
using test::failureOf;
using test::TempDir;

constexpr year_month_day kToday{2026y / 12 / 6};
const std::string kPageName = "report_06-12-26.html";
const std::string kTable = std::string(kTableFile);
const std::string kEarlierPage = "<html>yesterday's page, whole</html>\r\n";

TEST(ReportFile, FailureWhileThePageIsWrittenLeavesNoPartOfIt) {
    struct Case {
        const char* name;
        std::string table;
        Window window;
        FailureKind kind;
        long line;
    };
    const Case cases[] = {
        {"short line after a row",
         "A,B\r\nP,Not Found\r\nshort\r\nQ,Not Found\r\n",
         {},
         FailureKind::SubscriptOutOfRange,
         3},
        {"line without a status",
         "A,B\r\nP,s,c,d,e,f,g,h,i\r\n",
         {},
         FailureKind::SubscriptOutOfRange,
         2},
        {"empty out1.txt", "", {}, FailureKind::InputPastEnd, 1},
        {"window beyond year 9999", "A,B\r\n", {0, 1e300}, FailureKind::Overflow, Failure::kNoLine},
    };
    for (const Case& c : cases) {
        for (const bool earlier : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (earlier ? ", earlier page" : ", no page"));
            TempDir dir;
            dir.write(kTable, c.table);
            if (earlier)
                dir.write(kPageName, kEarlierPage);

            const auto failure = failureOf([&] { writeReportFile(dir.path(), c.window, kToday); });

            ASSERT_TRUE(failure);
            EXPECT_EQ(failure->kind(), c.kind) << failure->what();
            EXPECT_EQ(failure->line(), c.line);
            EXPECT_EQ(dir.read(kPageName), earlier ? kEarlierPage : "<missing>");
            // No temporary page either: only what was there before.
            std::set<std::string> names = {kTable};
            if (earlier)
                names.insert(kPageName);
            EXPECT_EQ(dir.names(), names);
        }
    }
}

TEST(ReportFile, CompletePageReplacesTheEarlierOneAndLeavesNoTemporaryFile) {
    TempDir dir;
    dir.write(kTable, "A,B\r\nP,Not Found\r\n");
    dir.write(kPageName, kEarlierPage);

    const ReportFile report = writeReportFile(dir.path(), Window{}, kToday);

    EXPECT_EQ(report.page, dir.file(kPageName));
    EXPECT_EQ(report.counts, (PageCounts{.jobs = 0, .highlighted = 0, .notFound = 1}));
    const std::string page = dir.read(kPageName);
    EXPECT_EQ(page.rfind("<html>\r\n", 0), 0u);
    EXPECT_TRUE(page.ends_with("Not Found</TD></TR>\r\n</table> </html>\r\n")) << page;
    EXPECT_EQ(dir.names(), (std::set<std::string>{kTable, kPageName}));
}

// Killed runs of the same day left their temporary pages, under the bare
// name of older versions and under a name of a run's own: both go.
TEST(ReportFile, TemporaryPagesOfTheSameNameAreRemoved) {
    TempDir dir;
    dir.write(kTable, "A,B\r\n");
    std::string leftover;
    for (int i = 0; i < 10000; ++i)
        leftover += "leftover\r\n";
    dir.write("." + kPageName + ".partial", leftover);
    dir.write("." + kPageName + ".partial-AbC123", leftover);

    writeReportFile(dir.path(), Window{}, kToday);

    EXPECT_EQ(dir.read(kPageName).find("leftover"), std::string::npos);
    EXPECT_EQ(dir.names(), (std::set<std::string>{kTable, kPageName}));
}

TEST(ReportFile, PageNameTakenByADirectoryFailsNamingThePageAndWritesNothing) {
    TempDir dir;
    dir.write(kTable, "A,B\r\nP,Not Found\r\n");
    std::filesystem::create_directory(dir.file(kPageName));

    const auto failure = failureOf([&] { writeReportFile(dir.path(), Window{}, kToday); });

    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
    EXPECT_EQ(failure->file(), kPageName);
    EXPECT_EQ(std::string(failure->what()).rfind("Cannot create file: " + kPageName, 0), 0u)
        << failure->what();
    EXPECT_TRUE(std::filesystem::is_directory(dir.file(kPageName)));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file(kPageName)));
    EXPECT_EQ(dir.names(), (std::set<std::string>{kTable, kPageName}));
}

// A page linked elsewhere (a web server's folder, say) stays linked.
TEST(ReportFile, PageNameThatIsALinkGetsTheNewPageAtItsTarget) {
    TempDir dir;
    TempDir web;
    dir.write(kTable, "A,B\r\nP,Not Found\r\n");
    web.write("daily.html", kEarlierPage);
    std::filesystem::create_symlink(web.file("daily.html"), dir.file(kPageName));

    // A killed run's temporary page lies beside the target.
    web.write("." + kPageName + ".partial-Zz9Zz9", "<html>");

    const ReportFile report = writeReportFile(dir.path(), {}, kToday);

    EXPECT_EQ(report.page, dir.file(kPageName));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file(kPageName)));
    EXPECT_NE(web.read("daily.html"), kEarlierPage);
    EXPECT_EQ(web.read("daily.html").rfind("<html>\r\n", 0), 0u);
    EXPECT_EQ(web.names(), (std::set<std::string>{"daily.html"}));
}

// Renaming onto a FIFO or a device would break whatever else uses it.
TEST(ReportFile, PageNameThatIsAFifoIsRefusedUntouched) {
    TempDir dir;
    dir.write(kTable, "A,B\r\nP,Not Found\r\n");
    ASSERT_EQ(::mkfifo(dir.file(kPageName).c_str(), 0600), 0);

    const auto failure = failureOf([&] { writeReportFile(dir.path(), Window{}, kToday); });

    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->what(), "Cannot create file: " + kPageName + " " +
                                   dir.file(kPageName).string() + " (a FIFO, not a regular file)");
    EXPECT_EQ(std::filesystem::status(dir.file(kPageName)).type(),
              std::filesystem::file_type::fifo);
    EXPECT_EQ(dir.names(), (std::set<std::string>{kTable, kPageName}));
}

TEST(ReportFile, MissingTableLeavesThePageAsItWas) {
    for (const bool earlier : {true, false}) {
        SCOPED_TRACE(earlier ? "earlier page" : "no page");
        TempDir dir;
        if (earlier)
            dir.write(kPageName, kEarlierPage);

        const auto failure = failureOf([&] { writeReportFile(dir.path(), Window{}, kToday); });

        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::FileNotFound);
        EXPECT_EQ(failure->file(), kTableFile);
        EXPECT_EQ(dir.read(kPageName), earlier ? kEarlierPage : "<missing>");
        EXPECT_EQ(dir.names().size(), earlier ? 1u : 0u);
    }
}

TEST(ReportFile, PageIsNamedAfterTheDayOfWritingNotTheWindow) {
    TempDir dir;
    dir.write(kTable, "A,B\r\n");
    // A February window, written on 5 March: named after 5 March.
    const Window february{1769904000, 1769990400};

    const ReportFile report = writeReportFile(dir.path(), february, 2026y / 3 / 5);

    EXPECT_EQ(report.page, dir.file("report_05-03-26.html"));
    EXPECT_EQ(dir.names(), (std::set<std::string>{kTable, "report_05-03-26.html"}));
}

TEST(ReportFile, CountsAreThoseOfTheRowsWritten) {
    TempDir dir;
    dir.write(kTable,
              "Policy,Status\r\n"
              "P,s,c,d,e,f,g,h,i,0,k,l,m\r\n"
              ",s,c,d,e,f,g,h,i,2,k,l,m\r\n"
              ",s,c,d,e,f,g,h,i,1,k,l,m\r\n"
              "Q,Not Found\r\n"
              "R,s,c,d,e,f,g,h,i,,k,l,m\r\n");

    const ReportFile report = writeReportFile(dir.path(), Window{}, kToday);

    EXPECT_EQ(report.counts, (PageCounts{.jobs = 4, .highlighted = 2, .running = 1, .notFound = 1}));
}

TEST(ReportFile, RemovesOnlyTheTemporaryPagesOfKilledRuns) {
    TempDir dir;
    const char* const leftovers[] = {".report_06-12-26.html.partial",
                                     ".report_06-12-26.html.partial-AbC123",
                                     ".report_31-01-00.html.partial",
                                     ".report_31-01-00.html.partial-000000", ".report_.partial"};
    const char* const kept[] = {"report_06-12-26.html.partial",
                                ".report_06-12-26.html",
                                ".report_notes.txt",
                                "report_06-12-26.html",
                                "out1.txt",
                                ".report_06-12-26.html.partial-AbC12",
                                ".report_06-12-26.html.partial-AbC123.bak",
                                ".report_06-12-26.html.partial-AbC-12",
                                "report_06-12-26.html.partial-AbC123"};
    for (const char* name : leftovers)
        dir.write(name, "<html>");
    for (const char* name : kept)
        dir.write(name, "kept");
    // A live run of another folder whose page links here holds its own.
    const std::string live = ".report_06-12-26.html.partial-LIVE00";
    dir.write(live, "<html>");
    const int lock = ::open(dir.file(live).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);

    removeUnfinishedPages(dir.path());
    ::close(lock);

    for (const char* name : leftovers)
        EXPECT_FALSE(dir.exists(name)) << name;
    for (const char* name : kept)
        EXPECT_EQ(dir.read(name), "kept") << name;
    EXPECT_EQ(dir.read(live), "<html>");
}

TEST(ReportFile, FolderNamedLikeATemporaryPageIsLeftAlone) {
    TempDir dir;
    std::filesystem::create_directory(dir.file(".report_01-01-26.html.partial"));
    removeUnfinishedPages(dir.path());
    EXPECT_TRUE(std::filesystem::is_directory(dir.file(".report_01-01-26.html.partial")));
}

}  // namespace
}  // namespace fennick
