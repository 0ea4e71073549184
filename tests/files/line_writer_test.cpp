#include "files/line_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::TempDir;

struct Watcher final : WriteWatcher {
    std::vector<std::uint64_t> sizes;
    int closes = 0;
    std::uint64_t sizeAtClose = 0;
    void written(std::uint64_t bytes) noexcept override { sizes.push_back(bytes); }
    void closed() noexcept override {
        ++closes;
        sizeAtClose = sizes.empty() ? 0 : sizes.back();
    }
};

// A file of many buffers, ended by close() and by the destructor (a failed
// step): the file holds every byte written, in order, and the watcher that
// a thread following the file relies on hears each size reached and the
// close alone.
TEST(LineWriter, BigFileIsExactAndItsWatcherHearsItWhicheverWayItEnds) {
    for (const bool closing : {true, false}) {
        SCOPED_TRACE(closing ? "closed" : "destroyed");
        TempDir dir;
        std::mt19937 random(closing ? 7 : 8);
        std::string expected;
        Watcher watcher;
        {
            LineWriter writer(dir.file("out.txt"), "out.txt");
            writer.watch(&watcher);
            // Numbered lines of many lengths, so that a piece out of place or
            // written twice shows; now and then a piece too big for the buffer.
            for (long line = 0; expected.size() < (std::size_t{20} << 20); ++line) {
                if (random() % 500 == 0) {
                    const std::string big((1 << 16) + random() % (1 << 18),
                                          static_cast<char>('a' + line % 26));
                    writer.write(big);
                    expected += big;
                }
                const std::string text =
                    std::to_string(line) +
                    std::string(random() % 300, static_cast<char>('A' + line % 26));
                writer.writeLine(text);
                expected += text + "\r\n";
            }
            if (closing)
                writer.close();
        }
        std::string got(expected.size() + 1, '\0');  // one byte more shows a longer file
        std::FILE* file = std::fopen(dir.file("out.txt").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        got.resize(std::fread(got.data(), 1, got.size(), file));
        std::fclose(file);
        ASSERT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected)
            << "first wrong byte at "
            << std::mismatch(got.begin(), got.end(), expected.begin()).first - got.begin();
        // What the watcher was told is what reached the file, in order.
        ASSERT_FALSE(watcher.sizes.empty());
        EXPECT_EQ(
            std::adjacent_find(watcher.sizes.begin(), watcher.sizes.end(), std::greater_equal<>()),
            watcher.sizes.end());
        // A reader that follows the file reads up to the last size it is
        // told, and takes the close for the end of the file.
        if (closing) {
            EXPECT_EQ(watcher.sizes.back(), expected.size());
            EXPECT_EQ(watcher.sizeAtClose, expected.size());
            EXPECT_EQ(watcher.closes, 1);
        } else {
            EXPECT_EQ(watcher.closes, 0);
        }
    }
}

}  // namespace
}  // namespace fennick
