#include "run/report_file.h"

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/text_file.h"

namespace fennick {

namespace {

// A leading dot keeps it out of a plain listing; the suffix tells it from
// any file of the operator's.
constexpr std::string_view kUnfinishedPrefix = ".report_";
constexpr std::string_view kUnfinishedSuffix = ".partial";

// Removes the temporary page unless it was renamed onto the page.
class Unfinished {
  public:
    explicit Unfinished(std::filesystem::path path) : path_(std::move(path)) {}
    ~Unfinished() {
        if (!done_) {
            std::error_code ignored;  // nothing more can be done about it
            std::filesystem::remove(path_, ignored);
        }
    }
    Unfinished(const Unfinished&) = delete;
    Unfinished& operator=(const Unfinished&) = delete;

    void finished() { done_ = true; }

  private:
    std::filesystem::path path_;
    bool done_ = false;
};

}  // namespace

std::string unfinishedPageName(std::string_view pageName) {
    std::string name(".");
    name.append(pageName).append(kUnfinishedSuffix);
    return name;
}

bool isUnfinishedPageName(std::string_view name) {
    return name.starts_with(kUnfinishedPrefix) && name.ends_with(kUnfinishedSuffix);
}

ReportFile writeReportFile(const std::filesystem::path& appDir, const Window& window,
                           std::chrono::year_month_day today) {
    LineReader table(fileIn(appDir, kTableFile), kTableFile);

    const std::string name = reportFileName(today);
    const std::filesystem::path pagePath = fileIn(appDir, name);
    // The rename at the end could not replace a directory; say so before
    // any work is done, as creating the page itself would have.
    std::error_code unknown;
    if (std::filesystem::is_directory(pagePath, unknown)) {
        throw Failure(FailureKind::CannotCreate, pagePath.string() + " (Is a directory)").at(name);
    }

    // A page name that is a symbolic link keeps pointing where the operator
    // set it: the new page replaces the link's target, not the link.
    std::filesystem::path target = pagePath;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(pagePath, unknown))) {
        const std::filesystem::path resolved = std::filesystem::canonical(pagePath, unknown);
        if (!unknown)
            target = resolved;
    }
    // Beside its target, so that the rename stays on one file system.
    const std::filesystem::path partPath = target.parent_path() / unfinishedPageName(name);
    Unfinished part(partPath);
    PageCounts counts;
    {
        // Failures name the page, which is what the operator knows.
        LineWriter page(partPath, name);
        counts = writePage(table, page, window);
    }
    std::error_code renameError;
    std::filesystem::rename(partPath, target, renameError);
    if (renameError) {
        throw Failure(FailureKind::CannotCreate,
                      pagePath.string() + " (" + renameError.message() + ")")
            .at(name);
    }
    part.finished();
    return {pagePath, counts};
}

void removeUnfinishedPages(const std::filesystem::path& appDir) {
    std::vector<std::filesystem::path> leftovers;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(appDir, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        // Only files: a folder of that name is the operator's, not a page.
        std::error_code unknown;
        if (isUnfinishedPageName(name) && entry->is_regular_file(unknown) &&
            !entry->is_symlink(unknown))
            leftovers.push_back(entry->path());
    }
    for (const auto& leftover : leftovers) {
        std::error_code ignored;  // a leftover that stays does no harm
        std::filesystem::remove(leftover, ignored);
    }
}

}  // namespace fennick
