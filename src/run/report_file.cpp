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

std::string unfinishedName(const std::string& pageName) {
    return "." + pageName + std::string(kUnfinishedSuffix);
}

}  // namespace

PageFile::PageFile(const std::filesystem::path& appDir, std::chrono::year_month_day today)
    : name_(reportFileName(today)), page_(fileIn(appDir, name_)) {
    // The rename at the end could not replace a directory; say so before
    // any work is done, as creating the page itself would have.
    std::error_code unknown;
    if (std::filesystem::is_directory(page_, unknown)) {
        throw Failure(FailureKind::CannotCreate, page_.string() + " (Is a directory)").at(name_);
    }

    // A page name that is a symbolic link keeps pointing where the operator
    // set it: the new page replaces the link's target, not the link.
    target_ = page_;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(page_, unknown))) {
        const std::filesystem::path resolved = std::filesystem::canonical(page_, unknown);
        if (!unknown)
            target_ = resolved;
    }
    // Beside its target, so that the rename stays on one file system.
    part_ = target_.parent_path() / unfinishedName(name_);
}

PageFile::~PageFile() {
    if (!kept_) {
        std::error_code ignored;  // nothing more can be done about it
        std::filesystem::remove(part_, ignored);
    }
}

ReportFile PageFile::keep(const PageCounts& counts) {
    std::error_code renameError;
    std::filesystem::rename(part_, target_, renameError);
    if (renameError) {
        throw Failure(FailureKind::CannotCreate,
                      page_.string() + " (" + renameError.message() + ")")
            .at(name_);
    }
    kept_ = true;
    return {page_, counts};
}

ReportFile writeReportFile(const std::filesystem::path& appDir, const Window& window,
                           std::chrono::year_month_day today) {
    LineReader table(fileIn(appDir, kTableFile), kTableFile);
    PageFile file(appDir, today);
    PageCounts counts;
    {
        // Failures name the page, which is what the operator knows.
        LineWriter page(file.part(), file.name());
        counts = writePage(table, page, window);
    }
    return file.keep(counts);
}

void removeUnfinishedPages(const std::filesystem::path& appDir) {
    std::vector<std::filesystem::path> leftovers;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(appDir, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        // Only files: a folder of that name is the operator's, not a page.
        std::error_code unknown;
        if (name.starts_with(kUnfinishedPrefix) && name.ends_with(kUnfinishedSuffix) &&
            entry->is_regular_file(unknown) && !entry->is_symlink(unknown))
            leftovers.push_back(entry->path());
    }
    for (const auto& leftover : leftovers) {
        std::error_code ignored;  // a leftover that stays does no harm
        std::filesystem::remove(leftover, ignored);
    }
}

}  // namespace fennick
