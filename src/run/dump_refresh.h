// A fresh bpdbjobs.txt from the operator's dump command: it replaces the old
// dump whole, or the old dump stays as it was.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace fennick {

inline constexpr std::chrono::seconds kDumpTimeout{1800};

struct DumpCommand {
    std::string command;  // a line for /bin/sh -c
    std::chrono::milliseconds timeout = kDumpTimeout;
};

// Runs the command in `appDir` with no input; its standard output becomes
// the new bpdbjobs.txt and its standard error passes through to ours. The
// output goes to a hidden temporary file first, which replaces the dump only
// when the command exits with status 0 and wrote something; when
// bpdbjobs.txt is a symbolic link, the link's target is replaced. Otherwise
// a Failure(CommandFailed) names the command, how it ended and its last
// error line; bpdbjobs.txt is left untouched and the temporary file removed.
// The caller holds the folder's run lock.
void refreshDump(const std::filesystem::path& appDir, const DumpCommand& dump);

// Removes a temporary dump that a killed run left in `appDir`, or beside the
// target of a bpdbjobs.txt that is a symbolic link.
void removeUnfinishedDump(const std::filesystem::path& appDir);

}  // namespace fennick
