// The page built on the second core from out1.txt while the daily table is
// still being written. It waits in memory: the page's file is created only
// once the table is complete, as when the steps run one after the other.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "common/report_time.h"
#include "files/byte_queue.h"
#include "files/followed_file.h"
#include "files/line_writer.h"
#include "report/report_page.h"

namespace fennick {

class PageAhead final : public WriteWatcher {
  public:
    // What the page may hold in memory before it has a file to go to.
    static constexpr std::size_t kHeld = std::size_t{32} << 20;

    // The thread starts once out1.txt holds `startFrom` bytes.
    PageAhead(const std::filesystem::path& appDir, const Window& window,
              std::uint64_t startFrom = kWorthAThread);
    // Stops building, if it still does, and waits for the thread.
    ~PageAhead();
    PageAhead(const PageAhead&) = delete;
    PageAhead& operator=(const PageAhead&) = delete;

    // out1.txt's writer tells how far it has come.
    void written(std::uint64_t bytes) noexcept override;
    void closed() noexcept override;

    // Writes the page built from the complete out1.txt to `page` and closes
    // it, with the bytes, the writes and the failure that writePage()
    // reading out1.txt now would give; nothing when the page was not built
    // here, and `page` may then hold part of it.
    std::optional<PageCounts> writeTo(LineWriter& page);

  private:
    void build() noexcept;
    void stop() noexcept;

    std::filesystem::path tablePath_;
    Window window_;
    std::uint64_t startFrom_;
    bool off_ = false;
    bool closed_ = false;
    std::unique_ptr<FollowedFile> file_;
    ByteQueue queue_{kHeld};
    std::FILE* tableStream_ = nullptr;
    std::FILE* pageStream_ = nullptr;
    // The thread's until it is joined.
    PageCounts counts_;
    std::exception_ptr failure_;
    bool broken_ = false;
    // The pieces from this one on were written after the failure, as a
    // failed writer's destructor does: their own write errors do not count.
    std::atomic<std::size_t> failedAt_{static_cast<std::size_t>(-1)};
    std::thread thread_;
};

}  // namespace fennick
