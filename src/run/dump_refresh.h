// A fresh bpdbjobs.txt from the operator's dump command: it replaces the old
// dump whole, or the old dump stays as it was.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace fennick {

inline constexpr std::chrono::seconds kDumpTimeout{1800};

struct DumpCommand {
    std::string command;  // a line for /bin/sh -c
    std::chrono::milliseconds timeout = kDumpTimeout;
};

// Runs the command in `appDir` with no input; its standard output becomes
// the new bpdbjobs.txt and its standard error passes through to ours. The
// output arrives through a pipe and is copied into a temporary file of this
// run's own (a hidden name beside the dump's target), which replaces the dump
// only when the pipe has reached its end within the timeout, the command
// exited with status 0, and a line holds something besides its CR LF; when
// bpdbjobs.txt is a symbolic link, the link's target is replaced. Otherwise
// a Failure(CommandFailed) names the command, how it ended and its last error
// line (Failure(IoError) when the temporary file cannot be written,
// Failure(CannotCreate) when it cannot be made, flushed or renamed); the
// dump is left untouched and the temporary file removed. A dump that is not
// a regular file (a folder, a FIFO, a device, or a link to one) fails before
// the command runs. Nothing the command leaves running can write into
// either. The caller holds the folder's run lock.
void refreshDump(const std::filesystem::path& appDir, const DumpCommand& dump);

// Removes the temporary dumps that killed runs left in `appDir`, or beside
// the target of a bpdbjobs.txt that is a symbolic link: plain files under
// such a name that no live run holds.
void removeUnfinishedDump(const std::filesystem::path& appDir);

// Whether `name` is one that a temporary dump has, and so one that the next
// run may remove.
bool isUnfinishedDumpName(std::string_view name);

}  // namespace fennick
