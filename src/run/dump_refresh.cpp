#include "run/dump_refresh.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>
#include <system_error>
#include <utility>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/sync_directory.h"
#include "files/text_file.h"
#include "programs/child_process.h"

namespace fennick {

namespace {

// A temporary dump is this, a dash and six of kUniqueChars chosen anew for
// each run: hidden from a plain listing, told apart from any file of the
// operator's, and never shared by two runs or left to a killed run's command.
// Earlier versions used the bare name for every run; a killed one may have
// left it behind.
constexpr std::string_view kUnfinishedName = ".bpdbjobs.txt.partial";
constexpr std::size_t kUniqueLength = 6;
constexpr std::string_view kUniqueChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

bool isUnfinishedDumpName(std::string_view name) {
    if (!name.starts_with(kUnfinishedName))
        return false;
    name.remove_prefix(kUnfinishedName.size());
    return name.empty() || (name.size() == 1 + kUniqueLength && name.front() == '-' &&
                            name.find_first_not_of(kUniqueChars, 1) == std::string_view::npos);
}

namespace {

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

bool sameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// The temporary dump that the command's output is copied into. It stays
// locked while this run lives, so that another run's cleanup of leftovers
// (two folders may keep their dumps in one) leaves it be; the lock goes with
// a killed run. Closed, and removed unless it was renamed onto the dump.
class Unfinished {
  public:
    // Throws Failure(CannotCreate).
    explicit Unfinished(const std::filesystem::path& dir) {
        std::random_device seed;
        std::mt19937 random(seed());
        std::uniform_int_distribution<std::size_t> pick(0, kUniqueChars.size() - 1);
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            std::string name = std::string(kUnfinishedName) + "-";
            for (std::size_t i = 0; i < kUniqueLength; ++i)
                name += kUniqueChars[pick(random)];
            path_ = dir / name;
            // O_EXCL: a link planted under the name is not followed.
            descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor_ < 0) {
                error = errno;
                continue;
            }
            struct stat opened {};
            struct stat named {};
            // Another run's cleanup may have taken the file between its
            // making and the lock: then it is gone, and a new name is tried.
            if (::flock(descriptor_, LOCK_EX) == 0 && ::fstat(descriptor_, &opened) == 0 &&
                ::lstat(path_.c_str(), &named) == 0 && sameFile(opened, named))
                return;
            ::close(std::exchange(descriptor_, -1));
        }
        throw Failure(FailureKind::CannotCreate, path_.string() + " " + reason(error));
    }
    ~Unfinished() {
        if (!done_) {
            std::error_code ignored;  // nothing more can be done about it
            std::filesystem::remove(path_, ignored);
        }
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    Unfinished(const Unfinished&) = delete;
    Unfinished& operator=(const Unfinished&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::size_t size() const { return size_; }
    // Whether a line holds anything but its CR LF.
    bool hasText() const { return hasText_; }

    // Throws Failure(IoError) naming the file.
    void write(std::string_view bytes) {
        hasText_ = hasText_ || bytes.find_first_not_of("\r\n") != std::string_view::npos;
        while (!bytes.empty()) {
            const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                throw Failure(FailureKind::IoError, path_.string() + " " + reason(errno));
            bytes.remove_prefix(static_cast<std::size_t>(written));
            size_ += static_cast<std::size_t>(written);
        }
    }

    // Flushes the file to disk and renames it onto `target`.
    void install(const std::filesystem::path& target) {
        if (::fsync(descriptor_) != 0)
            throw Failure(FailureKind::IoError, path_.string() + " " + reason(errno));
        std::error_code renameError;
        std::filesystem::rename(path_, target, renameError);
        if (renameError) {
            throw Failure(FailureKind::CannotCreate,
                          target.string() + " (" + renameError.message() + ")");
        }
        done_ = true;
        // Past the rename the data is safe on disk; a failed close loses nothing.
        ::close(std::exchange(descriptor_, -1));
    }

  private:
    std::filesystem::path path_;
    int descriptor_ = -1;
    std::size_t size_ = 0;
    bool hasText_ = false;
    bool done_ = false;
};

// A leftover is a plain file under a temporary dump's name that no live run
// holds locked.
void removeIfAbandoned(const std::filesystem::path& path) {
    // O_NOFOLLOW: a link of that name is the operator's; O_NONBLOCK: so is a
    // FIFO, which must not hold us.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return;
    struct stat opened {};
    struct stat named {};
    if (::fstat(descriptor, &opened) == 0 && S_ISREG(opened.st_mode) &&
        ::flock(descriptor, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        sameFile(opened, named))
        ::unlink(path.c_str());
    ::close(descriptor);
}

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
    try {
        // Beside its target, so that the rename stays on one file system.
        Unfinished part(target.parent_path());
        // The command writes into a pipe, never into a file: whatever it
        // leaves running cannot reach the dump, and its output is complete
        // only once every process holding the pipe has closed it.
        ChildRequest request;
        request.arguments = {"/bin/sh", "-c", dump.command};
        request.workingDir = appDir;
        request.timeout = dump.timeout;
        request.takeOutput = [&part](std::string_view bytes) { part.write(bytes); };
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
        else if (part.size() == 0)
            ending = "exited with status 0 but wrote nothing";
        else if (!part.hasText())
            ending = "exited with status 0 but wrote only empty lines";
        if (!ending.empty()) {
            throw Failure(FailureKind::CommandFailed,
                          "not refreshed: " + command + " " + ending + lastErrorNote(end));
        }
        part.install(target);
    } catch (Failure& failure) {
        throw failure.at(name);
    }
    if (const auto error = syncDirectory(target.parent_path())) {
        throw Failure(FailureKind::IoError,
                      "was replaced, but its folder could not be synced " + reason(*error))
            .at(name);
    }
}

void removeUnfinishedDump(const std::filesystem::path& appDir) {
    const std::filesystem::path target = dumpTarget(fileIn(appDir, kDumpFile));
    for (const auto& dir : {appDir, target.parent_path()}) {
        // A leftover that stays does no harm: errors are passed over.
        std::error_code error;
        for (std::filesystem::directory_iterator entry(dir, error), end; !error && entry != end;
             entry.increment(error)) {
            if (isUnfinishedDumpName(entry->path().filename().native()))
                removeIfAbandoned(entry->path());
        }
    }
}

}  // namespace fennick
