// Running another program with a deadline: the dump command and the mail
// program are both started this way, and neither may outlive the run.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "programs/last_line.h"

namespace fennick {

struct ChildRequest {
    // arguments[0] is the program: a path, or a name looked up in PATH.
    std::vector<std::string> arguments;
    std::filesystem::path workingDir;  // empty: ours
    int standardOutput = -1;           // where the child's stdout goes; -1: copied to our stderr
    std::optional<std::string> input;  // fed to stdin, which is then closed; nullopt: /dev/null
    std::chrono::milliseconds timeout{0};
    // When set, the child's stdout is a pipe whose bytes are handed here as
    // they arrive (standardOutput is then unused), and the program counts as
    // ended only once every process holding that pipe has closed it. What it
    // throws stops the group at once and passes on.
    std::function<void(std::string_view)> takeOutput;
    // How the note on output dropped from our standard error names the
    // program, e.g. "the dump command"; empty: its quoted path.
    std::string name;
};

struct ChildEnd {
    enum class How { Exited, Signalled, TimedOut };
    How how = How::Exited;
    // Exited: the exit status. Signalled: the signal. TimedOut: the signal
    // (or status) it ended with once stopped.
    int code = 0;
    // The last non-empty line the child wrote to its standard error, at most
    // kLastLineBytes of its end; empty when there was none.
    std::string lastErrorLine;
    // How many bytes of the input the program read: what our writes put into
    // its pipe, less what was still unread there when it ended.
    std::size_t inputTaken = 0;
};

// The operator stopped us (SIGINT, SIGTERM or SIGHUP) while a program ran;
// the program's group has been stopped. Not a std::exception on purpose: no
// handler that turns failures into a failed run (with its mail and metrics)
// may take it. It unwinds the stack, so guards remove temporary files, and
// the program's edge then ends the process by the same signal.
class Interrupted {
  public:
    explicit Interrupted(int signal) : signal_(signal) {}
    int signal() const { return signal_; }

  private:
    int signal_;
};

// Starts the program in a process group of its own and waits for it. Its
// standard error (and its standard output, unless the request sends that
// elsewhere) is copied to ours as it arrives, so the operator's journal shows
// it, and the last line of its standard error is kept. The copy never waits
// on our standard error: what it cannot take in time is dropped, and one line
// at the end says how much. When the program ends, whatever it left running
// in its group is killed; when it runs past the timeout, the whole group gets
// SIGTERM and, a grace period later, SIGKILL. Nothing of the group runs on
// when this returns. A program that exits before reading all its input is
// judged by its exit status; how much it read is in `inputTaken`. It gets
// SIGPIPE's default action, an empty signal mask and our other signal
// settings (an ignored SIGHUP stays ignored).
// SIGINT, SIGTERM and SIGHUP are held back from the calling thread while it
// waits (a program with other threads must block them there too); one that
// arrives stops the group as a timeout does and throws Interrupted once the
// previous signal mask is back. A signal that the caller ignores or already
// blocks is left to the caller. A SIGCHLD inherited ignored has its default
// meanwhile, so that the program's status can be read.
// Throws Failure(CommandFailed) when the program cannot be started, and what
// `takeOutput` throws.
ChildEnd runChild(const ChildRequest& request);

// "exited with status 2", "was killed by signal 9 (Killed)",
// "ran longer than 1800 s and was stopped".
std::string describe(const ChildEnd& end, std::chrono::milliseconds timeout);

// "; its last error line: "cannot connect"", or nothing when the program
// wrote no line to its standard error.
std::string lastErrorNote(const ChildEnd& end);

}  // namespace fennick
