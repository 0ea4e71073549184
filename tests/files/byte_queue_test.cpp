#include "files/byte_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fennick {
namespace {

// Pieces mostly larger than the queue holds, with runs of small ones between,
// so that the producer waits on most writes and the queue sometimes holds
// several pieces at once. Any byte, zero included.
TEST(ByteQueue, PiecesArriveWholeInOrderAndWithinTheCapacity) {
    constexpr std::size_t kCapacity = 64;
    std::mt19937 random(31337);
    std::vector<std::string> pieces(5000);
    for (std::string& piece : pieces) {
        const std::size_t size = random() % 3 == 0 ? 1 + random() % 8 : 1 + random() % 200;
        for (std::size_t i = 0; i < size; ++i)
            piece += static_cast<char>(random());
    }

    ByteQueue queue(kCapacity);
    std::size_t shortWrites = 0;
    std::thread producer([&] {
        std::FILE* stream = queue.stream();
        for (const std::string& piece : pieces) {
            if (std::fwrite(piece.data(), 1, piece.size(), stream) != piece.size())
                ++shortWrites;
        }
        std::fclose(stream);
        queue.finish();
    });

    std::vector<std::string> popped;
    std::size_t overCapacity = 0;
    for (std::string piece; !(piece = queue.pop()).empty();) {
        popped.push_back(std::move(piece));
        // The pieces still held before the last one let in were under the
        // capacity when it came, and some of them may have been taken since.
        const std::size_t pushed = std::min(queue.pushed(), pieces.size());
        std::size_t held = 0;
        for (std::size_t i = popped.size(); i + 1 < pushed; ++i)
            held += pieces[i].size();
        if (held >= kCapacity)
            ++overCapacity;
    }
    producer.join();

    EXPECT_EQ(shortWrites, 0u);
    EXPECT_EQ(overCapacity, 0u) << "the producer did not wait for room";
    EXPECT_EQ(queue.pushed(), pieces.size());
    ASSERT_EQ(popped.size(), pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (popped[i] != pieces[i]) {
            ADD_FAILURE() << "piece " << i << " differs: " << popped[i].size() << " bytes for "
                          << pieces[i].size();
            break;
        }
    }
}

TEST(ByteQueue, AbandonFailsTheWaitingWriteAndDropsWhatIsHeld) {
    ByteQueue queue(8);
    std::size_t first = 0;
    std::size_t waiting = 0;
    int waitingError = 0;
    std::size_t later = 0;
    std::thread producer([&] {
        std::FILE* stream = queue.stream();
        first = std::fwrite("0123456789", 1, 10, stream);  // fills the queue
        errno = 0;
        waiting = std::fwrite("abc", 1, 3, stream);  // waits for room that never comes
        waitingError = errno;
        later = std::fwrite("d", 1, 1, stream);
        std::fclose(stream);
        queue.finish();
    });
    // The second write waits, or is about to: either way it must fail.
    while (queue.pushed() == 0)
        std::this_thread::yield();
    queue.abandon();
    producer.join();

    EXPECT_EQ(first, 10u);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(waitingError, ECANCELED);
    EXPECT_EQ(later, 0u);
    EXPECT_EQ(queue.pushed(), 1u);
    EXPECT_EQ(queue.pop(), "") << "the piece held when abandoned was kept";
}

}  // namespace
}  // namespace fennick
