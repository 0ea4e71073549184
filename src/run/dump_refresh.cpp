#include "run/dump_refresh.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/file_identity.h"
#include "files/replaced_file.h"
#include "files/text_file.h"
#include "programs/child_process.h"

namespace fennick {

// A temporary dump is ".bpdbjobs.txt.partial-" and six letters or digits
// that mkostemp picks anew for each run: hidden from a plain listing, told
// apart from any file of the operator's, and never shared by two runs or left
// to a killed run's command. Earlier versions used the bare name for every
// run; a killed one may have left it behind.
bool isUnfinishedDumpName(std::string_view name) {
    return partialNames(kDumpFile).matches(name);
}

namespace {

std::string reason(int error) {
    return std::string("(") + std::strerror(error) + ")";
}

// The command's output on its way into the temporary dump.
class CopiedOutput {
  public:
    explicit CopiedOutput(const ReplacedFile& part) : part_(part) {}

    std::size_t size() const { return size_; }
    // Whether a line holds anything but its CR LF.
    bool hasText() const { return hasText_; }

    // Throws Failure(IoError) naming the temporary file.
    void write(std::string_view bytes) {
        hasText_ = hasText_ || bytes.find_first_not_of("\r\n") != std::string_view::npos;
        while (!bytes.empty()) {
            const ssize_t written = ::write(part_.descriptor(), bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                throw Failure(FailureKind::IoError,
                              part_.temporary().string() + " " + reason(errno));
            bytes.remove_prefix(static_cast<std::size_t>(written));
            size_ += static_cast<std::size_t>(written);
        }
    }

  private:
    const ReplacedFile& part_;
    std::size_t size_ = 0;
    bool hasText_ = false;
};

}  // namespace

void refreshDump(const std::filesystem::path& appDir, const DumpCommand& dump) {
    const std::string name(kDumpFile);
    const std::filesystem::path dumpPath = fileIn(appDir, name);
    // The rename at the end could not replace a directory; say so before the
    // command runs for half an hour.
    std::error_code unknown;
    if (std::filesystem::is_directory(dumpPath, unknown))
        throw Failure(FailureKind::CannotCreate, dumpPath.string() + " (Is a directory)").at(name);

    try {
        // Beside the dump's target, a link's target when it is one, so that
        // the rename stays on one file system.
        ReplacedFile part(dumpPath, name, std::nullopt, partialNames(name));
        CopiedOutput output(part);
        // The command writes into a pipe, never into a file: whatever it
        // leaves running cannot reach the dump, and its output is complete
        // only once every process holding the pipe has closed it.
        ChildRequest request;
        request.arguments = {"/bin/sh", "-c", dump.command};
        request.workingDir = appDir;
        request.timeout = dump.timeout;
        request.takeOutput = [&output](std::string_view bytes) { output.write(bytes); };
        request.name = "the dump command";

        const std::string command = "dump command " + quotedText(dump.command);
        ChildEnd end;
        try {
            end = runChild(request);
        } catch (Failure& failure) {
            if (failure.kind() != FailureKind::CommandFailed)
                throw;  // the temporary dump could not be written
            throw Failure(FailureKind::CommandFailed,
                          "not refreshed: " + command + " could not be run: " + failure.detail());
        }

        std::string ending;
        if (end.how != ChildEnd::How::Exited || end.code != 0)
            ending = describe(end, dump.timeout);
        // Empty output is a command that did not reach the server, not a day
        // without jobs: the server always lists some.
        else if (output.size() == 0)
            ending = "exited with status 0 but wrote nothing";
        else if (!output.hasText())
            ending = "exited with status 0 but wrote only empty lines";
        if (!ending.empty()) {
            throw Failure(FailureKind::CommandFailed,
                          "not refreshed: " + command + " " + ending + lastErrorNote(end));
        }
        // The report reads the new dump at once; one lost to a crash after
        // the report would leave the page without the dump it came from.
        if (const auto error = part.install()) {
            throw Failure(FailureKind::IoError,
                          "was replaced, but its folder could not be synced " + reason(*error));
        }
    } catch (Failure& failure) {
        throw failure.at(name);
    }
}

void removeUnfinishedDump(const std::filesystem::path& appDir) {
    const std::filesystem::path dumpPath = fileIn(appDir, kDumpFile);
    std::error_code loop;  // a loop of links still lies in the folder
    const std::filesystem::path target = linkEnd(dumpPath, loop).path.parent_path();
    removeLeftovers(appDir, isUnfinishedDumpName);
    if (!target.empty() && target != dumpPath.parent_path())
        removeLeftovers(target, isUnfinishedDumpName);
}

}  // namespace fennick
