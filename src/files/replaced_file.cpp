#include "files/replaced_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "files/file_identity.h"
#include "files/sync_directory.h"
#include "files/text_file.h"

namespace fennick {

namespace {

// What mkostemp puts in place of its six X.
constexpr std::size_t kUniqueLength = 6;
constexpr std::string_view kUniqueChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Another run's cleanup may take a temporary between its making and its
// lock; a new name is then tried, a few times at most.
constexpr int kAttempts = 100;

// Read from /proc, which leaves it as it is: a umask(2) round trip would
// give a file that another thread makes meanwhile no umask at all.
mode_t currentUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned int mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr)
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool sameInode(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Removes `path` when it is a plain file that no live run holds locked.
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
        sameInode(opened, named))
        ::unlink(path.c_str());
    ::close(descriptor);
}

}  // namespace

bool TemporaryNames::matches(std::string_view name) const {
    if (!earlier.empty() && name == earlier)
        return true;
    return name.starts_with(stem) && isUniqueTail(name.substr(stem.size()));
}

TemporaryNames partialNames(std::string_view name) {
    std::string earlier(".");
    earlier.append(name).append(".partial");
    std::string stem = earlier;
    stem += '-';
    return {std::move(stem), std::move(earlier)};
}

bool isUniqueTail(std::string_view tail) {
    return tail.size() == kUniqueLength && tail.find_first_not_of(kUniqueChars) == tail.npos;
}

void removeLeftovers(const std::filesystem::path& folder,
                     const std::function<bool(std::string_view)>& isLeftover) {
    std::vector<std::filesystem::path> leftovers;
    std::error_code error;  // a folder that cannot be listed holds nothing of ours to remove
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (isLeftover(entry->path().filename().native()))
            leftovers.push_back(entry->path());
    }
    for (const auto& leftover : leftovers)
        removeIfAbandoned(leftover);
}

ReplacedFile::ReplacedFile(const std::filesystem::path& file, std::string_view name,
                           std::optional<mode_t> mode, std::optional<TemporaryNames> names)
    : file_(file), name_(name) {
    std::error_code loop;
    const LinkEnd end = linkEnd(file, loop);
    if (loop) {
        throw Failure(FailureKind::CannotCreate, file.string() + " (" + loop.message() + ")")
            .at(name_);
    }
    target_ = end.path;
    // Renaming onto /dev/null would break the host; a FIFO would hold a
    // reader of the file for ever.
    if (end.mode != 0 && !S_ISREG(end.mode)) {
        throw Failure(FailureKind::CannotCreate,
                      described(std::string(fileKindName(end.mode)) + ", not a regular file"))
            .at(name_);
    }
    if (!names) {
        names.emplace();
        names->stem.append(".").append(target_.filename().native()).append(".");
    }
    // Beside the target, so that the rename stays within one file system.
    const std::filesystem::path folder = target_.parent_path();
    removeLeftovers(folder.empty() ? "." : folder,
                    [&](std::string_view leftover) { return names->matches(leftover); });

    int error = EEXIST;
    for (int attempt = 0; attempt < kAttempts && descriptor_ < 0; ++attempt) {
        std::string made = (folder / (names->stem + std::string(kUniqueLength, 'X'))).string();
        // Made anew (O_EXCL): a link planted under the name is not followed.
        const int descriptor = ::mkostemp(made.data(), O_CLOEXEC);
        if (descriptor < 0) {
            error = errno;
            break;
        }
        // Locked while this run lives, so that the cleanup of another run
        // (two folders may replace files in one) leaves it be; the lock goes
        // with a killed run. Where files cannot be locked, no cleanup can
        // lock it either, and so none removes it.
        while (::flock(descriptor, LOCK_EX) != 0 && errno == EINTR) {
        }
        // A cleanup that took it before the lock left it under no name.
        struct stat opened {};
        struct stat named {};
        if (::fstat(descriptor, &opened) == 0 && ::lstat(made.c_str(), &named) == 0 &&
            sameInode(opened, named)) {
            descriptor_ = descriptor;
            temporary_ = made;
        } else {
            ::close(descriptor);
        }
    }
    if (descriptor_ < 0)
        throw Failure(FailureKind::CannotCreate, described(std::strerror(error))).at(name_);
    const mode_t wanted = mode ? *mode : 0666 & ~currentUmask();
    if (::fchmod(descriptor_, wanted) != 0) {
        const int refused = errno;
        ::unlink(temporary_.c_str());  // no destructor follows a throwing constructor
        ::close(std::exchange(descriptor_, -1));
        fail(refused);
    }
}

ReplacedFile::~ReplacedFile() {
    // Removed before it is closed: while it lies under its name, no other
    // run's mkostemp can make a file of that name for this unlink to take.
    if (!installed_ && !temporary_.empty())
        ::unlink(temporary_.c_str());
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

std::string ReplacedFile::described(std::string_view what) const {
    std::string out = file_.string() + " (";
    if (target_ != file_)
        out += "links to " + target_.string() + ": ";
    return out.append(what) + ")";
}

void ReplacedFile::fail(int error) const {
    throw Failure(FailureKind::CannotCreate, described(std::strerror(error))).at(name_);
}

void ReplacedFile::write(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(descriptor_, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail(written < 0 ? errno : EIO);
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::optional<int> ReplacedFile::install() {
    if (::fsync(descriptor_) != 0)
        fail(errno);
    // Renamed while still locked: a cleanup cannot take it in between.
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        fail(errno);
    installed_ = true;
    // The data reached the disk before the rename; a failed close loses nothing.
    ::close(std::exchange(descriptor_, -1));
    const std::filesystem::path folder = target_.parent_path();
    return syncDirectory(folder.empty() ? "." : folder);
}

}  // namespace fennick
