// A file replaced whole, the one way every file of a run that must never be
// seen half written is written: the page, the dump, the metrics, the JSON.
// The new bytes go to a temporary file of this run's own beside the file,
// reach the disk, and are renamed onto it; a reader sees the old file or the
// new one, and after a power cut the new one is not an empty file.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fennick {

// How a file's temporaries are named: `stem` and the six letters or digits
// that mkostemp picks anew for each run, so that no two runs (nor a command
// that a killed run left running) share one; `earlier`, when not empty, the
// fixed name that older versions used for every run.
struct TemporaryNames {
    std::string stem;
    std::string earlier;

    bool matches(std::string_view name) const;
};

// ".NAME.partial-XXXXXX" (".NAME.partial" in older versions): the hidden
// temporaries of the files a run makes in its folder, the page and the dump.
TemporaryNames partialNames(std::string_view name);

// Whether `tail` is six of the letters and digits that mkostemp picks.
bool isUniqueTail(std::string_view tail);

// Removes from `folder` the temporaries that killed runs left: plain files
// under a name that `isLeftover` accepts and that no live ReplacedFile holds
// (it keeps its own locked). A link, a folder or a FIFO of such a name is the
// operator's; a leftover that cannot be removed stays, as it does no harm.
void removeLeftovers(const std::filesystem::path& folder,
                     const std::function<bool(std::string_view)>& isLeftover);

// The temporary file that replaces `file` once install() is called, and is
// removed otherwise (a failure, an exception, a stop by a signal that unwinds).
class ReplacedFile {
  public:
    // `name` is what failures call the file. A symbolic link at `file` is
    // followed (file_identity's linkEnd) and the file it leads to is
    // replaced, in that file's folder, so the link stays. Anything other
    // than a regular file there (a device, a FIFO, a socket, a folder) is
    // never opened, written or renamed onto. The temporary is named after
    // `names`, by default "." and the replaced file's name, a dot and six
    // letters or digits; leftovers of killed runs under those names are
    // removed first. It gets `mode` whatever the umask, or by default what a
    // new file gets (0666 less the umask). Throws Failure(CannotCreate)
    // naming `file` (and where its links lead) and why.
    ReplacedFile(const std::filesystem::path& file, std::string_view name,
                 std::optional<mode_t> mode = std::nullopt,
                 std::optional<TemporaryNames> names = std::nullopt);
    ~ReplacedFile();
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;

    // Where the links at `file` lead: the file that is replaced.
    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& temporary() const { return temporary_; }
    // The temporary's descriptor, open for writing until install(); what is
    // written through it (a LineWriter, another process) must be complete,
    // with any writer of its own closed, before install().
    int descriptor() const { return descriptor_; }

    // Appends `text`. Throws Failure(CannotCreate) as the constructor does.
    void write(std::string_view text);

    // Flushes the temporary to disk and renames it onto the target; then the
    // folder's entry is flushed as well. Throws Failure(CannotCreate) when
    // the file could not be flushed or renamed (the target is then as it
    // was). The errno of a folder that could not be flushed, when that alone
    // failed: the file is replaced whole either way, and only a crash could
    // still lose the rename.
    std::optional<int> install();

  private:
    // The file as given, and where its links lead when they lead elsewhere.
    std::string described(std::string_view what) const;
    [[noreturn]] void fail(int error) const;

    std::filesystem::path file_;
    std::string name_;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    bool installed_ = false;
};

}  // namespace fennick
