#include "files/read_ahead.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/memory_stream.h"

namespace fennick {
namespace {

constexpr std::size_t kHead = 8;
// Pieces read in the caller's calls before the thread takes over: none of
// them, a few, and all of them (the thread never starts).
constexpr std::size_t kInlineCounts[] = {0, 2, 1000};

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

struct Shape {
    std::size_t size;
    std::size_t pieceSize;
    std::size_t inlinePieces;
};

std::vector<Shape> shapes() {
    std::vector<Shape> all;
    for (const std::size_t size : {0, 1, 7, 64, 1000, 4099})
        for (const std::size_t pieceSize : {1, 3, 16, 4096})
            for (const std::size_t inlinePieces : kInlineCounts)
                all.push_back({size, pieceSize, inlinePieces});
    return all;
}

// The pieces, in order, are the stream; the piece handed out before stays
// as it was while the thread reads on (a slot given back too early is
// overwritten, and ThreadSanitizer sees the caller and the thread meet), and
// the head room is the caller's to write.
TEST(ReadAhead, PiecesAreTheStreamInOrderAndThePreviousPieceStaysIntact) {
    for (const Shape& shape : shapes()) {
        SCOPED_TRACE(std::to_string(shape.size) + " bytes in pieces of " +
                     std::to_string(shape.pieceSize) + ", " + std::to_string(shape.inlinePieces) +
                     " inline");
        std::string text = randomBytes(shape.size, static_cast<unsigned>(shape.size));
        std::FILE* stream = test::readingFrom(text);
        ASSERT_NE(stream, nullptr);
        std::string joined;
        {
            ReadAhead ahead(stream, shape.pieceSize, kHead, shape.inlinePieces);
            std::string previous;
            const char* previousData = nullptr;
            for (;;) {
                const ReadAhead::Piece piece = ahead.next();
                if (previousData != nullptr) {
                    ASSERT_EQ(std::string(previousData, previous.size()), previous);
                }
                ASSERT_LE(piece.size, shape.pieceSize);
                std::memset(piece.data - kHead, '#', kHead);
                joined.append(piece.data, piece.size);
                if (piece.after != ReadAhead::kMore) {
                    EXPECT_EQ(piece.after, ReadAhead::kEnd);
                    break;
                }
                ASSERT_EQ(piece.size, shape.pieceSize) << "a short piece before the end";
                previous.assign(piece.data, piece.size);
                previousData = piece.data;
            }
            // Past the end the end comes again, with no bytes.
            const ReadAhead::Piece again = ahead.next();
            EXPECT_EQ(again.size, 0u);
            EXPECT_EQ(again.after, ReadAhead::kEnd);
        }
        std::fclose(stream);
        EXPECT_EQ(joined, text);
    }
}

// A read that fails ends the pieces right after the bytes before it, with
// the reason of the failure, on the thread or not.
TEST(ReadAhead, FailedReadFollowsTheBytesBeforeItWithItsErrno) {
    for (const std::size_t good : {0, 5, 16, 17, 100}) {
        for (const std::size_t inlinePieces : kInlineCounts) {
            SCOPED_TRACE(std::to_string(good) + " good bytes, " + std::to_string(inlinePieces) +
                         " inline");
            test::FailingText source{randomBytes(good, 7), 0};
            std::FILE* stream = test::readingThenFailing(source);
            std::setvbuf(stream, nullptr, _IONBF, 0);
            std::string joined;
            int after = ReadAhead::kMore;
            {
                ReadAhead ahead(stream, 16, kHead, inlinePieces);
                while (after == ReadAhead::kMore) {
                    const ReadAhead::Piece piece = ahead.next();
                    joined.append(piece.data, piece.size);
                    after = piece.after;
                }
            }
            std::fclose(stream);
            EXPECT_EQ(joined, source.text);
            EXPECT_EQ(after, EIO);
        }
    }
}

// A caller that stops early (the scan's first job older than the window)
// ends the thread at once, even on a stream that never ends.
TEST(ReadAhead, CallerThatStopsEarlyEndsTheThread) {
    for (const int taken : {0, 1, 2, 3, 9}) {
        std::FILE* zeros = std::fopen("/dev/zero", "rb");
        ASSERT_NE(zeros, nullptr);
        {
            ReadAhead ahead(zeros, 4096, kHead, 2);
            for (int i = 0; i < taken; ++i) {
                const ReadAhead::Piece piece = ahead.next();
                ASSERT_EQ(piece.size, 4096u);
                EXPECT_EQ(piece.data[0], '\0');
                EXPECT_EQ(piece.data[4095], '\0');
            }
        }
        std::fclose(zeros);
    }
}

}  // namespace
}  // namespace fennick
