#include "pipeline/jobs_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/file_names.h"
#include "files/line_writer.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using test::TempDir;

const std::string kRow =
    "p,Daily,host,01/02/2024 10:00:00,01/02/2024 10:01:00,60,100,5,7,0,1.5,1,0";

// out.txt never closed: extraction failed, or has not ended. Its first line
// has started the reading thread, which then waits for bytes that never come;
// take() must give nothing and return, and so must the destructor.
TEST(JobsAhead, OutputNeverClosedGivesNoRowsAndStopsTheWaitingThread) {
    const struct {
        const char* name;
        bool writerGone;  // destroyed without close(), as when extraction fails
        bool take;
    } cases[] = {
        {"take while out.txt is still being written", false, true},
        {"take after extraction failed", true, true},
        {"destroyed after extraction failed", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write(kDumpFile, kRow + "\r\n" + kRow + "\r\n" + kRow + "\r\n");
        dir.write(kPolicyFile, "p\r\n");
        std::optional<JobsAhead> ahead(std::in_place, dir.path(), RetentionLabels{}, 0);
        std::optional<LineWriter> writer(std::in_place, dir.file(kJobsFile), kJobsFile);
        writer->watch(&*ahead);
        writer->writeLine(kRow);  // the first line goes out at once
        writer->writeLine(kRow);  // the rest waits in the writer's buffer
        // Time for the thread to start waiting; the outcome is the same if it
        // has not yet.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (c.writerGone)
            writer.reset();
        if (c.take) {
            EXPECT_FALSE(ahead->take({"p"}));
        }
        ahead.reset();
    }
}

}  // namespace
}  // namespace fennick
