#include "files/followed_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::TempDir;

// No zero byte: the file is grown to its full size before anything is
// written, so a read ahead of what was published finds zeros.
std::string nonZeroBytes(std::size_t size, std::mt19937& random) {
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(1 + random() % 255);
    return bytes;
}

// Mostly small writes, single bytes among them, and now and then one larger
// than any buffer on the way.
std::vector<std::size_t> chunkSizes(std::size_t total, std::mt19937& random) {
    std::vector<std::size_t> sizes;
    for (std::size_t left = total; left > 0;) {
        std::size_t size = 1;
        switch (random() % 4) {
            case 0:
                break;
            case 1:
                size = 1 + random() % 100;
                break;
            case 2:
                size = 1 + random() % 20000;
                break;
            default:
                size = (random() % 8 == 0) ? 1 + random() % (1 << 20) : 1 + random() % 3000;
        }
        size = std::min(size, left);
        sizes.push_back(size);
        left -= size;
    }
    return sizes;
}

void writeAll(int fd, const char* bytes, std::size_t size, off_t at) {
    while (size > 0) {
        const ssize_t done = ::pwrite(fd, bytes, size, at);
        ASSERT_GT(done, 0);
        bytes += done;
        size -= static_cast<std::size_t>(done);
        at += done;
    }
}

std::string describeMismatch(const std::string& got, const std::string& expected) {
    if (got.size() != expected.size()) {
        return "read " + std::to_string(got.size()) + " bytes of " +
               std::to_string(expected.size());
    }
    const auto where = std::mismatch(got.begin(), got.end(), expected.begin());
    return "first wrong byte at " + std::to_string(where.first - got.begin());
}

// The writer publishes after every write; the reader reads with sizes that
// straddle stdio's buffer and the chunks, and must get the file's bytes
// exactly: none ahead of the writer (they would be zeros), none twice, and
// the end only once the writer has finished.
TEST(FollowedFile, ReaderGetsExactlyThePublishedBytesWhileTheWriterWrites) {
    const std::size_t readSizes[] = {1, 7, 4095, 4097, 65537, 3, 262147, 1000};
    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const std::string bytes = nonZeroBytes((3 << 20) + random() % 100000, random);
        const std::vector<std::size_t> chunks = chunkSizes(bytes.size(), random);

        TempDir dir;
        const auto path = dir.file("out.txt");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(bytes.size())), 0);
        const auto followed = FollowedFile::open(path);
        ASSERT_TRUE(followed);
        std::FILE* stream = followed->stream();
        ASSERT_NE(stream, nullptr);

        std::thread writer([&] {
            std::size_t done = 0;
            for (std::size_t i = 0; i < chunks.size(); ++i) {
                writeAll(fd, bytes.data() + done, chunks[i], static_cast<off_t>(done));
                done += chunks[i];
                followed->written(done);
                // Now and then the reader catches up and waits at the end.
                if (i % 8 == 7)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            followed->finished();
        });
        std::string got;
        std::vector<char> buffer(*std::max_element(std::begin(readSizes), std::end(readSizes)));
        for (std::size_t i = 0;; ++i) {
            const std::size_t wanted = readSizes[i % std::size(readSizes)];
            const std::size_t read = std::fread(buffer.data(), 1, wanted, stream);
            got.append(buffer.data(), read);
            if (read < wanted)
                break;
        }
        EXPECT_FALSE(std::ferror(stream));
        EXPECT_FALSE(followed->failed());
        writer.join();
        std::fclose(stream);
        ::close(fd);
        EXPECT_TRUE(got == bytes) << describeMismatch(got, bytes);
    }
}

// A reader waiting for bytes that never come is woken by abandon(), and
// fails rather than seeing the end of a file that is not complete.
TEST(FollowedFile, AbandonWakesAWaitingReaderWithAFailure) {
    TempDir dir;
    dir.write("out.txt", "published");
    const auto followed = FollowedFile::open(dir.file("out.txt"));
    ASSERT_TRUE(followed);
    followed->written(9);
    std::FILE* stream = followed->stream();
    ASSERT_NE(stream, nullptr);

    std::promise<std::string> first;
    auto firstRead = first.get_future();
    auto rest = std::async(std::launch::async, [&] {
        char buffer[9];
        first.set_value(std::string(buffer, std::fread(buffer, 1, sizeof buffer, stream)));
        // Waits here for a tenth byte.
        return std::fread(buffer, 1, 1, stream);
    });
    EXPECT_EQ(firstRead.get(), "published");
    // Time for the reader to start waiting; it fails alike if it has not yet.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    followed->abandon();
    EXPECT_EQ(rest.get(), 0u);
    EXPECT_TRUE(std::ferror(stream));
    EXPECT_FALSE(std::feof(stream));
    EXPECT_TRUE(followed->failed());
    std::fclose(stream);
}

// More published than the file holds: the file changed under the reader,
// which must not pass a short file off as complete.
TEST(FollowedFile, FileShorterThanPublishedIsAFailedRead) {
    for (const bool finished : {false, true}) {
        SCOPED_TRACE(finished ? "finished" : "still being written");
        TempDir dir;
        dir.write("out.txt", "short");
        const auto followed = FollowedFile::open(dir.file("out.txt"));
        ASSERT_TRUE(followed);
        followed->written(12);
        if (finished)
            followed->finished();
        std::FILE* stream = followed->stream();
        ASSERT_NE(stream, nullptr);
        EXPECT_FALSE(followed->failed());
        char buffer[32];
        const std::size_t read = std::fread(buffer, 1, sizeof buffer, stream);
        EXPECT_EQ(std::string(buffer, read), "short");
        EXPECT_TRUE(std::ferror(stream));
        EXPECT_TRUE(followed->failed());
        std::fclose(stream);
    }
}

}  // namespace
}  // namespace fennick
