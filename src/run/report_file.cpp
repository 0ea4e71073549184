#include "run/report_file.h"

#include <string>
#include <string_view>
#include <system_error>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/replaced_file.h"
#include "files/text_file.h"

namespace fennick {

namespace {

// A leading dot keeps it out of a plain listing; the suffix tells it from
// any file of the operator's.
constexpr std::string_view kUnfinishedSuffix = ".partial";

}  // namespace

TemporaryNames unfinishedPageNames(std::string_view pageName) {
    return partialNames(pageName);
}

bool isUnfinishedPageName(std::string_view name) {
    // ".report_DD-MM-YY.html.partial-XXXXXX", or the bare name of older versions.
    const std::size_t tail = name.rfind('-');
    if (tail != std::string_view::npos && isUniqueTail(name.substr(tail + 1)))
        name = name.substr(0, tail);
    // A leading dot before the page's own name keeps it out of a plain listing.
    return name.starts_with('.') && name.substr(1).starts_with(kPageNamePrefix) &&
           name.ends_with(kUnfinishedSuffix);
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
    ReplacedFile part(pagePath, name, std::nullopt, unfinishedPageNames(name));
    PageCounts counts;
    {
        // Failures name the page, which is what the operator knows.
        LineWriter page(part.descriptor(), name);
        counts = writePage(table, page, window);
    }
    // The page is whole either way; only a crash could still lose the rename.
    static_cast<void>(part.install());
    return {pagePath, counts};
}

void removeUnfinishedPages(const std::filesystem::path& appDir) {
    removeLeftovers(appDir, isUnfinishedPageName);
}

}  // namespace fennick
