#include "delivery/sendmail.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/failure.h"
#include "common/failure_of.h"
#include "support/captured.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

using namespace std::chrono_literals;
using test::Captured;
using test::failureOf;
using test::TempDir;

// A fake mail program in the test's folder.
std::string program(const TempDir& dir, const std::string& name, const std::string& body) {
    dir.write(name, "#!/bin/sh\n" + body);
    std::filesystem::permissions(dir.file(name), std::filesystem::perms::owner_all);
    return dir.file(name).string();
}

TEST(Sendmail, ProgramGetsTheOptionsAndTheMessageByteForByte) {
    TempDir dir;
    const std::string fake =
        program(dir, "sendmail",
                "printf '%s\\n' \"$#\" \"$@\" > \"$(dirname \"$0\")/arguments\"\n"
                "cat > \"$(dirname \"$0\")/message\"\n"
                "echo queued as 4F2A\n");
    std::string message =
        "To: ops@example.com\r\nSubject: Backup Report\r\n\r\n"
        "a line with a single dot follows\r\n.\r\n\xe9t\xe9\r\n";
    for (int i = 0; message.size() < 300 * 1024; ++i)
        message += "<tr><td>policy " + std::to_string(i) + "</td></tr>\r\n";
    message += "no newline at the end";

    Captured output(STDOUT_FILENO, dir.file("our-output"));
    Captured errors(STDERR_FILENO, dir.file("our-errors"));
    sendMail(fake, message);
    const std::string shownOnOutput = output.text();
    const std::string shownOnErrors = errors.text();

    EXPECT_EQ(dir.read("arguments"), "2\n-t\n-oi\n");
    EXPECT_TRUE(dir.read("message") == message) << dir.read("message").size() << " bytes arrived";
    // Our standard output carries the run's summary line alone.
    EXPECT_EQ(shownOnOutput, "");
    EXPECT_EQ(shownOnErrors, "queued as 4F2A\n");
}

TEST(Sendmail, FailureNamesTheProgramAndHowItEnded) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string program;
        std::chrono::milliseconds timeout;
        std::string ending;
    };
    const Case cases[] = {
        {"refuses the message",
         program(dir, "refusing", "cat > /dev/null\necho 'recipient rejected' >&2\nexit 75\n"), 5s,
         "exited with status 75; its last error line: \"recipient rejected\""},
        {"exits without reading", program(dir, "early", "exit 1\n"), 5s, "exited with status 1"},
        {"hangs", program(dir, "hanging", "sleep 100\n"), 300ms,
         "ran longer than 300 ms and was stopped"},
        {"does not exist", dir.file("missing").string(), 5s,
         "cannot be started (No such file or directory)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto failure = failureOf(
            [&] { sendMail(c.program, "To: ops@example.com\r\n\r\nbody\r\n", c.timeout); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CommandFailed);
        EXPECT_EQ(failure->what(),
                  "Command failed: mail program " + quotedText(c.program) + " " + c.ending);
    }
}

// Exiting 0 is not enough: a mail system that queued part of the message
// would deliver a report cut short, or nothing.
TEST(Sendmail, ProgramThatDidNotTakeTheWholeMessageFails) {
    TempDir dir;
    const std::string readsAll = program(dir, "reads-all", "cat > /dev/null\n");
    const std::string readsSome =
        program(dir, "reads-some", "dd bs=1000 count=1 iflag=fullblock of=/dev/null 2>/dev/null\n");
    // Exactly the message, then gone without waiting for the end of its input.
    const std::string readsItsSize = program(
        dir, "reads-its-size", "dd bs=5120 count=1 iflag=fullblock of=/dev/null 2>/dev/null\n");
    const std::string readsNothing = program(dir, "reads-nothing", "echo queued >&2\n");
    struct Case {
        std::string program;
        std::size_t size;
        std::string ending;  // empty: the mail was handed over
    };
    const Case cases[] = {
        {readsAll, 5120, ""},
        {readsAll, 1 << 20, ""},
        {readsItsSize, 5120, ""},
        {readsSome, 5120, "took 1000 of 5120 bytes of the message"},
        {readsSome, 1 << 20, "took 1000 of 1048576 bytes of the message"},
        {readsNothing, 5120,
         "took 0 of 5120 bytes of the message; its last error line: \"queued\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + ", " + std::to_string(c.size));
        std::string message = "To: ops@example.com\r\n\r\n";
        message.resize(c.size, 'x');
        Captured errors(STDERR_FILENO, dir.file("our-errors"));
        const auto failure = failureOf([&] { sendMail(c.program, message, 30s); });
        errors.text();
        if (c.ending.empty()) {
            EXPECT_FALSE(failure) << failure->what();
            continue;
        }
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), FailureKind::CommandFailed);
        EXPECT_EQ(failure->what(), "Command failed: mail program " + quotedText(c.program) +
                                       " exited with status 0 but " + c.ending);
    }
}

}  // namespace
}  // namespace fennick
