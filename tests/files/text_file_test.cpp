#include "files/text_file.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/numbers.h"
#include "support/memory_stream.h"
#include "support/special_files.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::failureOf;
using Lines = std::vector<std::string>;

// Also the first buffer of a reader of a file that big or bigger.
constexpr std::size_t kPieceSize = LineReader::kPieceSize;

Lines readLines(const std::filesystem::path& path) {
    LineReader reader(path, "in.txt");
    Lines lines;
    while (!reader.atEnd())
        lines.emplace_back(reader.readLine());
    return lines;
}

// What the reader must return: split at LF, drop one CR before it, and a last
// line without terminator counts, an empty remainder does not.
Lines expectedLines(const std::string& bytes) {
    Lines lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        if (lf == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        std::size_t end = lf;
        if (end > start && bytes[end - 1] == '\r')
            --end;
        lines.push_back(bytes.substr(start, end - start));
        start = lf + 1;
    }
    return lines;
}

class TextFile : public ::testing::Test {
  protected:
    Lines linesOf(const std::string& bytes) {
        dir_.write("in.txt", bytes);
        return readLines(dir_.file("in.txt"));
    }

    test::TempDir dir_;
};

TEST_F(TextFile, ReaderSplitsAtLfAndDropsOneCrBeforeIt) {
    using namespace std::string_literals;
    struct Case {
        std::string bytes;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},  // no extra empty line after the last terminator
        {"a\r\n", {"a"}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"\n", {""}},
        {"\r\n", {""}},
        {"\n\n", {"", ""}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"a\r\r\n", {"a\r"}},
        {"a\rb\n", {"a\rb"}},
        {"\ra\n", {"\ra"}},
        {"a\r", {"a\r"}},  // a CR not before an LF is kept, even at the end
        {"a\n\r", {"a", "\r"}},
        {"a\0b\n\0\n"s, {"a\0b"s, "\0"s}},
        {"\x80\xA0\xE9\xFF\n\xFE", {"\x80\xA0\xE9\xFF", "\xFE"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(linesOf(c.bytes), c.lines) << testing::PrintToString(c.bytes);
    }
}

TEST_F(TextFile, EveryByteButLfPassesThroughWriterAndReaderUnchanged) {
    std::string line;
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != '\n')
            line += static_cast<char>(byte);
    }
    {
        LineWriter writer(dir_.file("out.txt"), "out.txt");
        writer.writeLine(line);
        writer.writeLine(line);
    }
    EXPECT_EQ(dir_.read("out.txt"), line + "\r\n" + line + "\r\n");
    EXPECT_EQ(readLines(dir_.file("out.txt")), (Lines{line, line}));
}

TEST_F(TextFile, EmptyFileIsAtEndAndReadingFailsAtLineOne) {
    dir_.write("in.txt", "");
    LineReader reader(dir_.file("in.txt"), "in.txt");
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.lineNumber(), 0);
    const auto failure = failureOf([&] { reader.readLine(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::InputPastEnd);
    EXPECT_EQ(failure->file(), "in.txt");
    EXPECT_EQ(failure->line(), 1);
}

TEST_F(TextFile, ReadingPastTheLastLineNamesTheLineAfterIt) {
    dir_.write("in.txt", "one\r\ntwo\r\n");
    LineReader reader(dir_.file("in.txt"), "in.txt");
    EXPECT_EQ(reader.readLine(), "one");
    EXPECT_EQ(reader.lineNumber(), 1);
    EXPECT_EQ(reader.readLine(), "two");
    EXPECT_EQ(reader.lineNumber(), 2);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_TRUE(reader.atEnd());  // asking again changes nothing
    const auto failure = failureOf([&] { reader.readLine(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::InputPastEnd);
    EXPECT_EQ(failure->line(), 3);
    EXPECT_EQ(reader.lineNumber(), 2);
}

TEST_F(TextFile, MissingFileIsFileNotFoundNamingTheFile) {
    for (const auto& path : {dir_.file("bpdbjobs.txt"), dir_.file("missing") / "bpdbjobs.txt"}) {
        const auto failure = failureOf([&] { LineReader reader(path, "bpdbjobs.txt"); });
        ASSERT_TRUE(failure) << path;
        EXPECT_EQ(failure->kind(), FailureKind::FileNotFound) << path;
        EXPECT_EQ(failure->file(), "bpdbjobs.txt");
        EXPECT_NE(std::string(failure->what()).find("bpdbjobs.txt"), std::string::npos);
        EXPECT_FALSE(dir_.exists("bpdbjobs.txt"));  // reading never creates it
    }
    // Also through a regular file used as a directory.
    dir_.write("plain", "x");
    const auto failure =
        failureOf([&] { LineReader reader(dir_.file("plain") / "bpdbjobs.txt", "bpdbjobs.txt"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::FileNotFound);
}

// A FIFO's open would wait for a writer for ever while the run holds the
// folder; the others are no text either. A link to a regular file reads.
TEST_F(TextFile, WhatIsNotARegularFileFailsAtOnceNamingWhatItIs) {
    std::string notMade;
    for (const test::SpecialFile& special : test::kSpecialFiles) {
        SCOPED_TRACE(special.kind);
        dir_.clear();
        const auto path = dir_.file("bpdbjobs.txt");
        if (!special.make(path)) {
            notMade += std::string(" ") + special.kind;
            continue;
        }
        const auto failure =
            test::failureWithin([path] { LineReader reader(path, "bpdbjobs.txt"); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::IoError);
        EXPECT_EQ(failure->file(), "bpdbjobs.txt");
        EXPECT_EQ(failure->what(), "I/O error: bpdbjobs.txt cannot be opened: " + path.string() +
                                       " (" + special.kind + ", not a regular file)");
    }
    dir_.clear();
    dir_.write("real.txt", "a\nb");
    std::filesystem::create_symlink("real.txt", dir_.file("in.txt"));
    EXPECT_EQ(readLines(dir_.file("in.txt")), (Lines{"a", "b"}));
    if (!notMade.empty())
        GTEST_SKIP() << "could not make:" << notMade;
}

TEST_F(TextFile, LineLongerThanTheBufferIsReadWhole) {
    std::string longLine(1 << 20, 'x');
    for (std::size_t i = 0; i < longLine.size(); i += 4093)
        longLine[i] = static_cast<char>(i % 200 + 20);
    EXPECT_EQ(linesOf("a\n" + longLine + "\r\nshort\n" + longLine),
              (Lines{"a", longLine, "short", longLine}));
}

TEST_F(TextFile, LineEndsExactlyOnBufferBoundaries) {
    // Each line with its terminator fills one buffer exactly.
    const std::string lf(kPieceSize - 1, 'a');
    const std::string crlf(kPieceSize - 2, 'b');
    EXPECT_EQ(linesOf(lf + "\n" + lf + "\n" + lf + "\n"), (Lines{lf, lf, lf}));
    EXPECT_EQ(linesOf(crlf + "\r\n" + crlf + "\r\n" + "end"), (Lines{crlf, crlf, "end"}));
    // The whole first buffer is one line without its LF, which comes next.
    const std::string full(kPieceSize, 'c');
    EXPECT_EQ(linesOf(full + "\n" + full + "\n"), (Lines{full, full}));
}

TEST_F(TextFile, CrAtTheEndOfABufferBeforeLfInTheNextIsDropped) {
    const std::string first = "first";
    // "first\n" then a line whose CR is the buffer's last byte, its LF the next.
    const std::string second(kPieceSize - 1 - (first.size() + 1), 's');
    const std::string bytes = first + "\n" + second + "\r\n" + "last";
    ASSERT_EQ(bytes[kPieceSize - 1], '\r');
    ASSERT_EQ(bytes[kPieceSize], '\n');
    EXPECT_EQ(linesOf(bytes), (Lines{first, second, "last"}));
    // A CR at the end of a buffer with no LF after it stays in the line.
    const std::string kept = first + "\n" + second + "\rmore\n";
    EXPECT_EQ(linesOf(kept), (Lines{first, second + "\rmore"}));
}

TEST_F(TextFile, ManyLinesAcrossBufferBoundariesMatchASimpleSplit) {
    std::mt19937 random(20260612);
    for (int round = 0; round < 4; ++round) {
        std::string bytes;
        while (bytes.size() < 5 * kPieceSize) {
            const std::size_t length = random() % (round == 3 ? 70000 : 3000);
            for (std::size_t i = 0; i < length; ++i) {
                // Mostly letters, now and then a CR or an 8-bit byte inside the line.
                const unsigned pick = random() % 64;
                bytes += pick == 0 ? '\r' : pick == 1 ? '\xE4' : static_cast<char>('a' + pick % 26);
            }
            bytes += random() % 2 == 0 ? "\n" : "\r\n";
        }
        if (round % 2 == 1)
            bytes += "unterminated";
        const Lines lines = linesOf(bytes);
        ASSERT_EQ(lines, expectedLines(bytes)) << "round " << round;
    }
}

// A thread takes over after the caller's own pieces, with longer pieces of
// its own: lines across that change, long ones too, and a read error after
// it come as from one reader.
TEST_F(TextFile, ThreadTakingOverAfterTheOwnPiecesChangesNoLineNorFailure) {
    std::mt19937 random(20261208);
    std::string bytes;
    while (bytes.size() < 7 * kPieceSize) {
        const std::size_t length = random() % (random() % 8 == 0 ? 90000 : 2000);
        bytes += std::string(length, static_cast<char>('a' + random() % 26));
        bytes += random() % 2 == 0 ? "\n" : "\r\n";
    }
    bytes += "unterminated";
    for (const std::size_t own : {std::size_t{0}, kPieceSize, 2 * kPieceSize, 3 * kPieceSize}) {
        SCOPED_TRACE(own);
        LineReader reader(test::readingFrom(bytes), "in.txt", true, own);
        Lines lines;
        while (!reader.atEnd())
            lines.emplace_back(reader.readLine());
        EXPECT_EQ(lines, expectedLines(bytes));
        EXPECT_EQ(reader.lineNumber(), static_cast<long>(lines.size()));

        const std::size_t good = 5 * kPieceSize + 12345;
        test::FailingText source{bytes.substr(0, good), 0};
        LineReader failing(test::readingThenFailing(source), "x.txt", true, own);
        Lines before;
        const auto failure = failureOf([&] {
            while (!failing.atEnd())
                before.emplace_back(failing.readLine());
        });
        EXPECT_EQ(before, expectedLines(bytes.substr(0, bytes.rfind('\n', good - 1) + 1)));
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::IoError);
        EXPECT_EQ(failure->line(), static_cast<long>(before.size() + 1));
    }
}

TEST_F(TextFile, LineNumberCountsLinesReadSoFar) {
    dir_.write("in.txt", std::string(3 * kPieceSize, 'z') + "\n\nx\n");
    LineReader reader(dir_.file("in.txt"), "in.txt");
    long expected = 0;
    while (!reader.atEnd()) {
        reader.readLine();
        EXPECT_EQ(reader.lineNumber(), ++expected);
    }
    EXPECT_EQ(expected, 3);
}

// An endless line used to end the program with a bare std::bad_alloc. The
// reader's memory limit stands in for an allocator that runs dry: a line
// that just fits in it is read, one byte more is out of memory at that line.
TEST_F(TextFile, LineLongerThanMemoryIsOutOfMemoryAtItsLine) {
    const std::size_t limit = 4 * kPieceSize;
    struct Case {
        std::string third;  // the third line with its terminator, if any
        bool fits;
    };
    const Case cases[] = {
        {std::string(limit - 2, 'x') + "\r\n", true},
        {std::string(limit - 1, 'x') + "\n", true},
        {std::string(limit - 1, 'x') + "\r\n", false},  // its LF is one byte past the limit
        {std::string(limit, 'x') + "\n", false},
        {std::string(3 * limit, 'x'), false},  // no line end at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.third.size());
        dir_.write("bpdbjobs.txt", "a\r\nb\r\n" + c.third + "after\r\n");
        LineReader reader(dir_.file("bpdbjobs.txt"), "bpdbjobs.txt", limit);
        EXPECT_EQ(reader.readLine(), "a");
        EXPECT_EQ(reader.readLine(), "b");
        const auto failure = failureOf([&] {
            const std::string_view third = reader.readLine();
            EXPECT_EQ(third.size(), c.third.find_first_of("\r\n"));
            EXPECT_EQ(reader.readLine(), "after");
        });
        if (c.fits) {
            EXPECT_FALSE(failure) << failure->what();
            continue;
        }
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::OutOfMemory);
        EXPECT_EQ(failure->file(), "bpdbjobs.txt");
        EXPECT_EQ(failure->line(), 3);
        EXPECT_EQ(std::string(failure->what()),
                  "Out of memory: bpdbjobs.txt line 3 is longer than the memory available (" +
                      std::to_string(limit) + " bytes of it read)");
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define FENNICK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FENNICK_ADDRESS_SANITIZER 1
#endif
#endif

#ifndef FENNICK_ADDRESS_SANITIZER
// The bytes of address space the process holds now.
std::size_t addressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}
#endif

// The same with the real allocator: a line longer than memory (a sparse
// file of 64 GiB of zeros holds no LF) read in a child process whose address
// space is capped.
TEST(TextFileDeathTest, EndlessLineUnderAMemoryCapIsOutOfMemoryNotBadAlloc) {
#ifdef FENNICK_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit under an address-space cap";
#else
    const test::TempDir dir;
    const auto path = dir.file("zero");
    dir.write("zero", "");
    std::filesystem::resize_file(path, std::uintmax_t{64} << 30);
    EXPECT_EXIT(
        {
            rlimit cap{};
            getrlimit(RLIMIT_AS, &cap);
            cap.rlim_cur = addressSpaceInUse() + (std::size_t{64} << 20);
            setrlimit(RLIMIT_AS, &cap);
            try {
                LineReader zeros(path, "zero");
                zeros.readLine();
            } catch (const Failure& failure) {
                std::fprintf(stderr, "%s\n", failure.what());
                std::_Exit(0);
            } catch (const std::bad_alloc&) {
                std::fprintf(stderr, "std::bad_alloc\n");
                std::_Exit(1);
            }
            std::_Exit(2);
        },
        ::testing::ExitedWithCode(0),
        "Out of memory: zero line 1 is longer than the memory available \\([0-9]+ bytes");
#endif
}

TEST_F(TextFile, WriterEndsLinesInCrLfAndWritesTextUnchanged) {
    {
        LineWriter writer(dir_.file("out.txt"), "out.txt");
        writer.writeLine("a,b");
        writer.writeLine("");
        writer.write("no end\n");
        writer.write("");
        writer.writeLine("x");
        writer.close();
    }
    EXPECT_EQ(dir_.read("out.txt"), "a,b\r\n\r\nno end\nx\r\n");
}

TEST_F(TextFile, WriterReplacesALongerFile) {
    dir_.write("out.txt", std::string(100000, 'o') + "\r\n");
    {
        LineWriter writer(dir_.file("out.txt"), "out.txt");
        writer.writeLine("new");
    }
    EXPECT_EQ(dir_.read("out.txt"), "new\r\n");
    { LineWriter writer(dir_.file("out.txt"), "out.txt"); }
    EXPECT_EQ(dir_.read("out.txt"), "");  // created empty even when nothing is written
}

TEST_F(TextFile, WriterInMissingDirectoryCannotCreate) {
    const auto failure =
        failureOf([&] { LineWriter writer(dir_.file("missing") / "out1.txt", "out1.txt"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::CannotCreate);
    EXPECT_EQ(failure->file(), "out1.txt");
    EXPECT_FALSE(dir_.exists("missing"));
}

TEST_F(TextFile, LinesWrittenBeforeAFailureStayOnDisk) {
    const auto failure = failureOf([&] {
        LineWriter writer(dir_.file("out.txt"), "out.txt");
        writer.writeLine("one");
        writer.writeLine(std::string(3 * kPieceSize, 'm'));
        writer.writeLine("three");
        parseNumber("not a number");  // leaves with the writer still open
    });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::TypeMismatch);
    EXPECT_EQ(dir_.read("out.txt"), "one\r\n" + std::string(3 * kPieceSize, 'm') + "\r\nthree\r\n");
}

TEST_F(TextFile, WriteThatTheDeviceRefusesIsIoError) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    // The first line reaches the device at once; later small writes sit in
    // the buffer until close; large ones reach the device at once.
    const auto atFirstLine = failureOf([] {
        LineWriter writer("/dev/full", "out.txt");
        writer.writeLine("x");
        ADD_FAILURE() << "the first line was taken";
    });
    ASSERT_TRUE(atFirstLine);
    EXPECT_EQ(atFirstLine->kind(), FailureKind::IoError);
    EXPECT_EQ(atFirstLine->file(), "out.txt");

    const auto atClose = failureOf([] {
        LineWriter writer("/dev/full", "out.txt");
        writer.write("x");
        writer.close();
    });
    ASSERT_TRUE(atClose);
    EXPECT_EQ(atClose->kind(), FailureKind::IoError);
    EXPECT_EQ(atClose->file(), "out.txt");

    const auto atWrite = failureOf([] {
        LineWriter writer("/dev/full", "out.txt");
        writer.write(std::string(4 * kPieceSize, 'w'));
    });
    ASSERT_TRUE(atWrite);
    EXPECT_EQ(atWrite->kind(), FailureKind::IoError);
}

TEST_F(TextFile, WriteAfterCloseIsIoError) {
    LineWriter writer(dir_.file("out.txt"), "out.txt");
    writer.writeLine("a");
    writer.close();
    writer.close();  // closing twice is harmless
    const auto failure = failureOf([&] { writer.writeLine("b"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::IoError);
    EXPECT_EQ(dir_.read("out.txt"), "a\r\n");
}

// Steps tested without a folder read and write memory through the same
// reader and writer; an adopted stream starts with a small buffer, so a long
// line must make it grow.
// A read that fails is reported at the line that holds the first byte that
// could not be read, whatever the pieces read ahead; every line before it
// comes whole.
TEST_F(TextFile, ReadErrorIsReportedAtTheLineOfTheFirstUnreadableByte) {
    const std::string text = "one\r\ntwo\r\n\r\nfour\n" + std::string(300000, 'v') + "\r\nsix\n";
    const std::size_t lastLf = text.size() - 1;
    std::vector<std::size_t> failAt = {0, 1, 3, 4, 5, 9, 10, 11, 12, 17, 18, 19, 262144, 300017};
    failAt.push_back(lastLf - 4);
    failAt.push_back(lastLf);
    failAt.push_back(text.size());
    for (const std::size_t good : failAt) {
        SCOPED_TRACE(good);
        test::FailingText source{text.substr(0, good), 0};
        LineReader reader(test::readingThenFailing(source), "x.txt");
        Lines lines;
        const auto failure = failureOf([&] {
            while (!reader.atEnd())
                lines.emplace_back(reader.readLine());
        });
        const std::size_t whole = text.rfind('\n', good == 0 ? 0 : good - 1);
        const std::string before =
            good == 0 || whole == std::string::npos ? "" : text.substr(0, whole + 1);
        EXPECT_EQ(lines, expectedLines(before));
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::IoError);
        EXPECT_EQ(failure->line(), static_cast<long>(lines.size() + 1));
        EXPECT_NE(std::string(failure->what()).find("cannot be read (Input/output error)"),
                  std::string::npos)
            << failure->what();
    }
}

TEST_F(TextFile, AdoptedStreamsReadAndWriteAsFilesDo) {
    std::string bytes =
        std::string("a\r\nb\n\0\xFF\r\n", 9) + std::string(3 * kPieceSize, 'L') + "\r\ntail";
    LineReader reader(test::readingFrom(bytes), "in.txt");
    Lines lines;
    while (!reader.atEnd())
        lines.emplace_back(reader.readLine());
    EXPECT_EQ(lines, expectedLines(bytes));
    const auto pastEnd = failureOf([&] { reader.readLine(); });
    ASSERT_TRUE(pastEnd);
    EXPECT_EQ(pastEnd->kind(), FailureKind::InputPastEnd);
    EXPECT_EQ(pastEnd->file(), "in.txt");
    EXPECT_EQ(pastEnd->line(), 6);

    std::string written;
    {
        LineWriter writer(test::appendingTo(written), "out.txt");
        writer.writeLine("x");
        writer.write(std::string("y\0", 2));
        writer.close();
    }
    EXPECT_EQ(written, std::string("x\r\ny\0", 5));
}

// glibc's memory streams cannot run unbuffered; a writer that forced them to
// crashed at its first flush.
TEST_F(TextFile, WriterOnAMemoryStreamKeepsItsBuffering) {
    char* data = nullptr;
    std::size_t size = 0;
    {
        LineWriter writer(open_memstream(&data, &size), "out.txt");
        writer.writeLine("first");
        writer.writeLine(std::string(2 * kPieceSize, 'x'));
        writer.close();
    }
    const std::string written(data, size);
    std::free(data);
    EXPECT_EQ(written, "first\r\n" + std::string(2 * kPieceSize, 'x') + "\r\n");
}

}  // namespace
}  // namespace fennick
