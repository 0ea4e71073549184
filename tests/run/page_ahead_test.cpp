#include "run/page_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/file_names.h"
#include "files/line_writer.h"
#include "files/text_file.h"
#include "run/report_file.h"
#include "support/memory_stream.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono;
using test::TempDir;

constexpr year_month_day kToday{2026y / 12 / 6};
const std::string kPageName = "report_06-12-26.html";
const std::string kTable = std::string(kTableFile);
const Window kDay{1796400000, 1796512530};

// out1.txt as the daily table writes it: the header line goes out at once,
// the rest in pieces of any length, a few of them too long for the writer's
// buffer.
void writeAsTheTable(LineWriter& writer, std::string_view table, std::mt19937& random) {
    const std::size_t headerEnd = table.find("\r\n");
    if (headerEnd != std::string_view::npos) {
        writer.writeLine(table.substr(0, headerEnd));
        table.remove_prefix(headerEnd + 2);
    }
    while (!table.empty()) {
        const std::size_t size =
            random() % 64 == 0 ? (1 << 16) + random() % (1 << 17) : 1 + random() % 400;
        writer.write(table.substr(0, size));
        table.remove_prefix(std::min(size, table.size()));
    }
    writer.close();
}

// What a folder holds after writeReportFile, out1.txt aside, and how it ended.
struct Outcome {
    std::map<std::string, std::string> files;
    PageCounts counts;
    std::optional<FailureKind> kind;
    std::string file;
    long line = 0;
    long field = 0;
    std::string message;
};

template <typename Write>
Outcome outcomeOf(const TempDir& dir, Write write) {
    Outcome outcome;
    try {
        outcome.counts = write().counts;
    } catch (const Failure& failure) {
        outcome.kind = failure.kind();
        outcome.file = failure.file();
        outcome.line = failure.line();
        outcome.field = failure.field();
        // The folder differs from run to run; the rest of the text may not.
        outcome.message = failure.what();
        const std::string folder = dir.path().string();
        for (std::size_t at; (at = outcome.message.find(folder)) != std::string::npos;)
            outcome.message.replace(at, folder.size(), "AppDir");
    }
    // Read whole: the pages run to megabytes.
    for (const std::string& name : dir.names()) {
        if (name == kTable)
            continue;
        std::ifstream in(dir.file(name), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        outcome.files[name] = std::move(bytes).str();
    }
    return outcome;
}

void expectSame(const Outcome& actual, const Outcome& expected) {
    EXPECT_EQ(actual.kind, expected.kind);
    EXPECT_EQ(actual.file, expected.file);
    EXPECT_EQ(actual.line, expected.line);
    EXPECT_EQ(actual.field, expected.field);
    EXPECT_EQ(actual.message, expected.message);
    EXPECT_EQ(actual.counts, expected.counts);
    // Pages run to megabytes: say where they part rather than print them.
    std::vector<std::string> actualNames, expectedNames;
    for (const auto& [name, bytes] : actual.files)
        actualNames.push_back(name);
    for (const auto& [name, bytes] : expected.files)
        expectedNames.push_back(name);
    ASSERT_EQ(actualNames, expectedNames);
    for (const auto& [name, bytes] : expected.files) {
        const std::string& got = actual.files.at(name);
        if (got != bytes) {
            const auto at = std::mismatch(bytes.begin(), bytes.end(), got.begin(), got.end());
            ADD_FAILURE() << name << ": " << got.size() << " bytes for " << bytes.size()
                          << ", first difference at " << (at.first - bytes.begin());
        }
    }
}

// A table of the given number of rows, with what the page treats apart: empty
// fields, "Not Found", statuses other than 0 and 1, markup, lines of more
// fields than columns, LF line ends, and sometimes one line too short for
// what the page reads of it.
std::string generatedTable(int rows, std::mt19937& random) {
    const std::vector<std::string> headers = {
        "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,"
        "Tx Rate,Job ID,Schedule Type",
        "A<b>,B&C", "", "Not Found,,x"};
    const std::vector<std::string> words = {
        "PolA", "", "R&D", "<b>x</b>", "Not Found", "a>b", "12/05/2026 20:00:00", "2 weeks"};
    const std::vector<std::string> statuses = {"0", "1", "2", "", " 0", "00", "150"};
    const std::vector<std::string> shortLines = {"", "NoComma", "Pol,X,Not Found",
                                                 "P,s,c,d,e,f,g,h,i"};
    const auto pick = [&random](const std::vector<std::string>& from) {
        return from[random() % from.size()];
    };
    const auto lineEnd = [&random] { return random() % 10 == 0 ? "\n" : "\r\n"; };

    const int bad = random() % 3 == 0 ? static_cast<int>(random() % (rows + 1)) : -1;
    std::string table = pick(headers) + lineEnd();
    for (int i = 0; i <= rows; ++i) {
        if (i == bad)
            (table += pick(shortLines)) += lineEnd();
        if (i == rows)
            break;
        if (random() % 4 == 0) {
            (table += pick(words)) += ",Not Found";
        } else {
            table += pick(words);
            for (int field = 1; field < 13; ++field)
                (table += ',') += field == 9 ? pick(statuses) : pick(words);
            if (random() % 6 == 0)
                table += ",extra";
        }
        table += lineEnd();
    }
    if (random() % 4 == 0)
        table.resize(table.size() - (table.ends_with("\r\n") ? 2 : 1));  // no final line end
    return table;
}

// Another table of its own: a page made from it cannot pass for the page of
// the table the thread followed.
const std::string kOtherTable = "Replaced,Table\r\nOther,Not Found\r\n";

// The page built while out1.txt was written is the page written from the
// complete out1.txt afterwards: the same bytes, counts and failure, and no
// temporary page left behind.
TEST(PageAhead, WritesThePageThatReadingTheWholeTableWould) {
    struct Fixed {
        const char* name;
        std::string table;
        Window window;
    };
    const Fixed fixed[] = {
        {"empty out1.txt", "", kDay},
        {"header without its line end", "A,B", kDay},
        {"header only", "A,B\r\n", kDay},
        {"one line of no fields", "\r\n", kDay},
        {"short line after rows", "A,B\r\nP,Not Found\r\nshort\r\nQ,Not Found\r\n", kDay},
        {"line without a status", "A,B\r\nP,s,c,d,e,f,g,h,i\r\n", kDay},
        {"window never computed", "A,B\r\nP,s,c,d,e,f,g,h,i,2,k,l,m\r\n", Window{}},
        {"window beyond year 9999", "A,B\r\nQ,Not Found\r\n", Window{0, 1e300}},
    };
    std::mt19937 random(20261206);
    constexpr int kGenerated = 60;
    int failures = 0;
    int builtAhead = 0;
    int large = 0;
    for (int round = 0; round < std::ssize(fixed) + kGenerated; ++round) {
        std::string table;
        Window window = kDay;
        std::string name = "generated round " + std::to_string(round);
        if (round < std::ssize(fixed)) {
            name = fixed[round].name;
            table = fixed[round].table;
            window = fixed[round].window;
        } else {
            // Every fifteenth table runs past a megabyte: the thread then follows
            // out1.txt while it is written and is replayed while it builds.
            const int rows = round % 15 == 0 ? 15000 + random() % 3000 : random() % 30;
            table = generatedTable(rows, random);
            if (random() % 20 == 0)
                window = Window{0, 1e300};
        }
        SCOPED_TRACE(name);
        const bool earlier = random() % 3 == 0;

        TempDir plain;
        plain.write(kTable, table);
        if (earlier)
            plain.write(kPageName, "<html>yesterday's page</html>\r\n");
        const Outcome expected =
            outcomeOf(plain, [&] { return writeReportFile(plain.path(), window, kToday); });

        TempDir run;
        if (earlier)
            run.write(kPageName, "<html>yesterday's page</html>\r\n");
        // Mostly from the first write; sometimes from a point within the
        // table or past its end, as the default does for a short one.
        const std::uint64_t startFrom = random() % 3 == 0 ? random() % (2 * table.size() + 1) : 0;
        PageAhead ahead(run.path(), window, startFrom);
        {
            LineWriter writer(run.file(kTable), kTable);
            writer.watch(&ahead);
            writeAsTheTable(writer, table, random);
        }
        if (!table.empty() && table.size() >= startFrom) {
            // Built ahead: the page must be the one of the table as written,
            // not of what out1.txt holds by the time the page is written.
            std::filesystem::remove(run.file(kTable));
            run.write(kTable, kOtherTable);
            ++builtAhead;
        }
        const Outcome actual =
            outcomeOf(run, [&] { return writeReportFile(run.path(), window, kToday, &ahead); });
        expectSame(actual, expected);

        failures += expected.kind ? 1 : 0;
        large += table.size() > (1 << 20) ? 1 : 0;
    }
    // The generator reaches the failures, the pages built ahead and the long tables.
    EXPECT_GT(failures, 15);
    EXPECT_GT(builtAhead, 30);
    EXPECT_GE(large, 4);
}

// out1.txt never closed: the table has not ended, or it failed. The thread,
// started by the first line, waits for bytes that never come; writeTo() must
// give nothing and return, and so must the destructor.
TEST(PageAhead, TableNeverClosedGivesNoPageAndStopsTheWaitingThread) {
    const struct {
        const char* name;
        bool writerGone;  // destroyed without close(), as when the table fails
        bool writeTo;
    } cases[] = {
        {"writeTo while out1.txt is still being written", false, true},
        {"writeTo after the table failed", true, true},
        {"destroyed while out1.txt is still being written", false, false},
        {"destroyed after the table failed", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::optional<PageAhead> ahead(std::in_place, dir.path(), kDay, 0);
        std::optional<LineWriter> writer(std::in_place, dir.file(kTable), kTable);
        writer->watch(&*ahead);
        writer->writeLine("A,B");          // the first line goes out at once
        writer->writeLine("P,Not Found");  // the rest waits in the writer's buffer
        // Time for the thread to start waiting; the outcome is the same if it
        // has not yet.
        std::this_thread::sleep_for(milliseconds(20));
        if (c.writerGone)
            writer.reset();
        if (c.writeTo) {
            std::string page;
            LineWriter pageWriter(test::appendingTo(page), kPageName);
            EXPECT_FALSE(ahead->writeTo(pageWriter));
        }
        writer.reset();
        ahead.reset();
    }
}

// A page file on a disk with room for `room` bytes: a write that does not
// fit fails whole, as the page writer's own file does on a full disk.
struct SmallDisk {
    std::string bytes;
    std::size_t room = 0;
};

std::FILE* writingTo(SmallDisk& disk) {
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* bytes, std::size_t size) -> ssize_t {
        auto& disk = *static_cast<SmallDisk*>(cookie);
        if (size > disk.room - disk.bytes.size()) {
            errno = ENOSPC;
            return 0;
        }
        disk.bytes.append(bytes, size);
        return static_cast<ssize_t>(size);
    };
    std::FILE* stream = fopencookie(&disk, "wb", io);
    // Unbuffered, as the writer makes a page file it opens itself.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

struct PageOnDisk {
    std::string bytes;
    std::optional<PageCounts> counts;
    std::optional<Failure> failure;
};

template <typename Write>
PageOnDisk pageOnDisk(std::size_t room, Write write) {
    SmallDisk disk{.bytes = {}, .room = room};
    PageOnDisk page;
    page.failure = test::failureOf([&] {
        LineWriter writer(writingTo(disk), kPageName);
        page.counts = write(writer);
    });
    page.bytes = disk.bytes;
    return page;
}

void expectSamePage(const PageOnDisk& actual, const PageOnDisk& expected) {
    EXPECT_EQ(actual.bytes.size(), expected.bytes.size());
    EXPECT_TRUE(actual.bytes == expected.bytes);  // megabytes: not printed
    EXPECT_EQ(actual.counts, expected.counts);
    ASSERT_EQ(actual.failure.has_value(), expected.failure.has_value());
    if (expected.failure) {
        EXPECT_EQ(actual.failure->kind(), expected.failure->kind());
        EXPECT_EQ(actual.failure->file(), expected.failure->file());
        EXPECT_EQ(actual.failure->line(), expected.failure->line());
        EXPECT_EQ(actual.failure->field(), expected.failure->field());
        EXPECT_STREQ(actual.failure->what(), expected.failure->what());
    }
}

// The disk fills up before the page is complete: whether the page's failure
// or the table's comes first, and which of the two is heard, is as when the
// page is written straight from the table. After the table's failure, what
// is left of the page goes out as a failed writer's does, unheard.
TEST(PageAhead, PageOnAFillingDiskFailsAsWritingItStraightWould) {
    const struct {
        const char* name;
        std::string table;
        Window window;
    } cases[] = {
        {"complete table", "A,B\r\nP,s,c,d,e,f,g,h,i,2,k,l,m\r\nQ,Not Found\r\n", kDay},
        {"short line", "A,B\r\nshort\r\nQ,Not Found\r\n", kDay},
        {"window beyond year 9999", "A,B\r\n", Window{0, 1e300}},
    };
    std::mt19937 random(11);
    for (const auto& c : cases) {
        TempDir plain;
        plain.write(kTable, c.table);
        const auto straight = [&](const TempDir& dir, std::size_t room) {
            return pageOnDisk(room, [&](LineWriter& page) -> std::optional<PageCounts> {
                LineReader reader(dir.file(kTable), kTable);
                return writePage(reader, page, c.window);
            });
        };
        const std::size_t whole = straight(plain, SIZE_MAX).bytes.size();
        // No room at all, room for all but the last byte, room enough.
        for (const std::size_t room : {std::size_t{0}, whole - 1, SIZE_MAX}) {
            SCOPED_TRACE(std::string(c.name) + ", room " + std::to_string(room));
            TempDir dir;
            PageAhead ahead(dir.path(), c.window, 0);
            {
                LineWriter writer(dir.file(kTable), kTable);
                writer.watch(&ahead);
                writeAsTheTable(writer, c.table, random);
            }
            const PageOnDisk expected = straight(dir, room);
            const PageOnDisk actual =
                pageOnDisk(room, [&](LineWriter& page) { return ahead.writeTo(page); });

            expectSamePage(actual, expected);
        }
    }
}

// A heading row of 620,000 empty fields is some 35 MB of page, more than the
// page may hold in memory: the thread waits on the full queue until the page
// is replayed, or until it is given up.
TEST(PageAhead, PageLargerThanWhatIsHeldIsReplayedWholeOrGivenUp) {
    const std::string table = std::string(620000, ',') +
                              "\r\n"
                              "P,s,c,d,e,f,g,h,i,2,k,l,m\r\n"
                              "Q,Not Found\r\n";
    const struct {
        const char* name;
        std::optional<std::size_t> room;  // none: the page is never asked for
    } cases[] = {
        {"replayed whole", SIZE_MAX},
        {"page that takes no bytes", 0},
        {"destroyed before the page is asked for", std::nullopt},
    };
    TempDir plain;
    plain.write(kTable, table);
    const auto straight = [&](std::size_t room) {
        return pageOnDisk(room, [&](LineWriter& page) {
            LineReader reader(plain.file(kTable), kTable);
            return std::optional(writePage(reader, page, kDay));
        });
    };
    std::mt19937 random(5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<PageOnDisk> expected =
            c.room ? std::optional(straight(*c.room)) : std::nullopt;
        TempDir dir;
        std::optional<PageAhead> ahead(std::in_place, dir.path(), kDay, 0);
        {
            LineWriter writer(dir.file(kTable), kTable);
            writer.watch(&*ahead);
            writeAsTheTable(writer, table, random);
        }
        if (c.room) {
            const PageOnDisk actual =
                pageOnDisk(*c.room, [&](LineWriter& page) { return ahead->writeTo(page); });
            expectSamePage(actual, *expected);
        } else {
            // Time for the thread to fill the queue; the outcome is the same
            // if it has not yet.
            std::this_thread::sleep_for(milliseconds(50));
        }
        ahead.reset();
    }
}

}  // namespace
}  // namespace fennick
