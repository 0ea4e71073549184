#include "run/dump_refresh.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "common/child_process.h"
#include "common/failure.h"
#include "common/file_names.h"
#include "common/sync_directory.h"
#include "common/text_file.h"

namespace fennick {

namespace {

// Hidden from a plain listing, and told apart from any file of the operator's.
constexpr std::string_view kUnfinishedName = ".bpdbjobs.txt.partial";

std::string reason(int error) {
    return std::string("(") + std::strerror(error) + ")";
}

// A dump name that is a symbolic link keeps pointing where the operator set
// it: the new dump replaces the link's target, not the link.
std::filesystem::path dumpTarget(const std::filesystem::path& dumpPath) {
    std::error_code unknown;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(dumpPath, unknown)))
        return dumpPath;
    const std::filesystem::path resolved = std::filesystem::canonical(dumpPath, unknown);
    if (!unknown)
        return resolved;
    // A link to a dump not made yet still names where the dump belongs.
    const std::filesystem::path named = std::filesystem::read_symlink(dumpPath, unknown);
    if (unknown)
        return dumpPath;
    return named.is_absolute() ? named : dumpPath.parent_path() / named;
}

// The temporary dump: closed, and removed unless it was renamed onto the dump.
class Unfinished {
  public:
    explicit Unfinished(std::filesystem::path path) : path_(std::move(path)) {}
    ~Unfinished() {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        if (!done_) {
            std::error_code ignored;  // nothing more can be done about it
            std::filesystem::remove(path_, ignored);
        }
    }
    Unfinished(const Unfinished&) = delete;
    Unfinished& operator=(const Unfinished&) = delete;

    // Returns the descriptor, or -1 with errno set. A link under the hidden
    // name is refused, not followed: the output would overwrite its target.
    int create() {
        descriptor_ =
            ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
        return descriptor_;
    }
    // Returns 0, or -1 with errno set.
    int close() { return ::close(std::exchange(descriptor_, -1)); }
    void finished() { done_ = true; }

  private:
    std::filesystem::path path_;
    int descriptor_ = -1;
    bool done_ = false;
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

    const std::filesystem::path target = dumpTarget(dumpPath);
    // Beside its target, so that the rename stays on one file system.
    const std::filesystem::path partPath = target.parent_path() / std::string(kUnfinishedName);
    Unfinished part(partPath);
    const int output = part.create();
    if (output < 0)
        throw Failure(FailureKind::CannotCreate, partPath.string() + " " + reason(errno)).at(name);

    const std::string command = "dump command " + quotedText(dump.command);
    ChildEnd end;
    try {
        end =
            runChild({{"/bin/sh", "-c", dump.command}, appDir, output, std::nullopt, dump.timeout});
    } catch (Failure& failure) {
        throw Failure(FailureKind::CommandFailed,
                      "not refreshed: " + command + " could not be run: " + failure.detail())
            .at(name);
    }

    std::string ending;
    if (end.how != ChildEnd::How::Exited || end.code != 0) {
        ending = describe(end, dump.timeout);
    } else {
        struct stat written {};
        if (::fstat(output, &written) != 0)
            throw Failure(FailureKind::IoError, partPath.string() + " " + reason(errno)).at(name);
        // An empty dump is a command that did not reach the server, not a
        // day without jobs: the server always lists some.
        if (written.st_size == 0)
            ending = "exited with status 0 but wrote nothing";
    }
    if (!ending.empty()) {
        throw Failure(FailureKind::CommandFailed,
                      "not refreshed: " + command + " " + ending + lastErrorNote(end))
            .at(name);
    }

    if (::fsync(output) != 0 || part.close() != 0)
        throw Failure(FailureKind::IoError, partPath.string() + " " + reason(errno)).at(name);
    std::error_code renameError;
    std::filesystem::rename(partPath, target, renameError);
    if (renameError) {
        throw Failure(FailureKind::CannotCreate,
                      target.string() + " (" + renameError.message() + ")")
            .at(name);
    }
    part.finished();
    if (const auto error = syncDirectory(target.parent_path())) {
        throw Failure(FailureKind::IoError,
                      "was replaced, but its folder could not be synced " + reason(*error))
            .at(name);
    }
}

void removeUnfinishedDump(const std::filesystem::path& appDir) {
    const std::filesystem::path target = dumpTarget(fileIn(appDir, kDumpFile));
    for (const auto& dir : {appDir, target.parent_path()}) {
        const std::filesystem::path leftover = dir / std::string(kUnfinishedName);
        // Only a file: anything else of that name is the operator's.
        std::error_code ignored;  // a leftover that stays does no harm
        if (std::filesystem::is_regular_file(std::filesystem::symlink_status(leftover, ignored)))
            std::filesystem::remove(leftover, ignored);
    }
}

}  // namespace fennick
