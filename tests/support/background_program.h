// Programs that an end-to-end test starts in the background (a display, a
// window, a browser), each with a deadline, so that one that waits for
// somebody can never hang the test run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fennick::test {

struct ChildOptions {
    // NAME=value words laid over this process's environment; a bare NAME
    // removes that variable.
    std::vector<std::string> environment{};
    std::filesystem::path output = "/dev/null";  // standard output goes here
    std::filesystem::path errors = "/dev/null";  // standard error goes here
    // The child's working directory; empty keeps ours.
    std::filesystem::path workDir{};
};

// A started program. Whatever still runs when the object goes is stopped
// (SIGTERM, then SIGKILL), so a failed assertion leaves nothing behind.
class Child {
  public:
    // Starts argv[0], looked up in PATH when it holds no slash. When
    // `pipeWriteEnd` is not negative, the child gets that descriptor as its
    // descriptor 3.
    Child(const std::vector<std::string>& argv, const ChildOptions& options, int pipeWriteEnd = -1);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Waits at most `limit` for the program to end; its exit status, 128 +
    // the signal when a signal ended it, or nothing when it still runs.
    std::optional<int> waitFor(std::chrono::milliseconds limit);
    bool running();
    void stop();

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct Captured {
    int status = -1;  // 124 when timeout(1) had to stop the command
    std::string output;
};

// Runs a shell command under timeout(1) and returns its exit status and
// standard output.
Captured runShell(const std::string& command, int seconds);

// The text in single quotes for sh.
std::string shellQuoted(const std::string& text);

// Whether a program of that name is on PATH.
bool onPath(const std::string& program);

std::string readFile(const std::filesystem::path& path);

}  // namespace fennick::test
