// The daily table's reading of out.txt, done on the second core while
// extraction still writes the file: the table then starts with most of its
// rows at hand instead of reading out.txt once more.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "files/followed_file.h"
#include "files/line_writer.h"
#include "files/text_file.h"
#include "pipeline/job_index.h"
#include "pipeline/retention_labels.h"

namespace fennick {

class JobsAhead final : public WriteWatcher {
  public:
    // Reads the policy list of `appDir` now, to keep only its policies'
    // rows. Any trouble with it leaves the table to read out.txt itself,
    // and meet that trouble where it always did. The thread starts once
    // out.txt holds `startFrom` bytes.
    JobsAhead(const std::filesystem::path& appDir, const RetentionLabels& labels,
              std::uint64_t startFrom = kWorthAThread);
    // Stops reading out.txt, if it still does, and waits for the thread.
    ~JobsAhead();
    JobsAhead(const JobsAhead&) = delete;
    JobsAhead& operator=(const JobsAhead&) = delete;

    // out.txt's writer tells how far it has come; the first bytes start
    // the thread.
    void written(std::uint64_t bytes) noexcept override;
    void closed() noexcept override;

    // The rows of the complete out.txt, read for `policies`, exactly as the
    // table reading it now would find them; nothing when they were read
    // for another list, or could not be read whole. The caller's thread
    // reads what the second one has not reached.
    std::optional<JobIndex> take(const std::vector<std::string>& policies);

  private:
    void start() noexcept;
    void readAhead() noexcept;
    void stopThread() noexcept;

    std::filesystem::path jobsPath_;
    RetentionLabels labels_;
    std::vector<std::string> policies_;
    std::uint64_t startFrom_;
    std::uintmax_t expectedBytes_ = 0;
    bool off_ = false;     // nothing to read ahead, or it cannot be done
    bool closed_ = false;  // out.txt is complete
    std::unique_ptr<FollowedFile> file_;
    // Used by the thread until it is joined, then by the caller.
    std::optional<LineReader> reader_;
    std::optional<JobsReading> reading_;
    bool broken_ = false;
    std::atomic<bool> pause_{false};
    std::thread thread_;
};

}  // namespace fennick
