#include "cli/delivery_files.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "common/file_names.h"
#include "files/file_identity.h"
#include "report/report_page.h"
#include "run/dump_refresh.h"
#include "run/report_file.h"

namespace fennick::cli {

namespace {

struct Delivered {
    std::string_view option;
    std::filesystem::path file;
    FileIdentity identity;
};

[[noreturn]] void refuse(const Delivered& delivered, const std::string& what) {
    throw UsageError(std::string(delivered.option) + " " + quotedText(delivered.file.string()) +
                     " would replace " + what + "; give it a file of its own");
}

// A temporary file of the run in the folder it lies in: the run writes it,
// or the next run removes it as a leftover.
bool isRunTemporary(const FileIdentity& delivered, const FileIdentity& dump,
                    const FileIdentity& page, const std::filesystem::path& folder,
                    const std::string& pageName) {
    const std::filesystem::path where = delivered.path.parent_path();
    const std::string name = delivered.path.filename().string();
    if (where == folder && (isUnfinishedPageName(name) || isUnfinishedDumpName(name)))
        return true;
    if (where == page.path.parent_path() && unfinishedPageNames(pageName).matches(name))
        return true;
    return where == dump.path.parent_path() && isUnfinishedDumpName(name);
}

}  // namespace

void checkDeliveryFiles(const Options& options, const std::filesystem::path& dir,
                        std::chrono::year_month_day pageDay,
                        const std::optional<std::filesystem::path>& history) {
    std::vector<Delivered> delivered;
    // First, so that a JSON or metrics file over it is named as replacing it.
    if (history) {
        delivered.push_back(
            {options.history ? "--history" : "the history", *history, identityOf(*history)});
    }
    if (options.json)
        delivered.push_back({"--json", *options.json, identityOf(*options.json)});
    if (options.metrics)
        delivered.push_back({"--metrics", *options.metrics, identityOf(*options.metrics)});
    if (delivered.empty())
        return;

    const std::string pageName = reportFileName(pageDay);
    // The dump first and the page last: both are looked at again below.
    const std::array<std::string_view, 10> runFiles{kDumpFile,
                                                    kPolicyFile,
                                                    kConfigFile,
                                                    kStatusCodesFile,
                                                    kPolicyIntervalsFile,
                                                    kHistoryPageFile,
                                                    kJobsFile,
                                                    kOtherJobsFile,
                                                    kTableFile,
                                                    std::string_view(pageName)};
    std::vector<std::pair<std::string_view, FileIdentity>> identities;
    for (const std::string_view name : runFiles)
        identities.emplace_back(name, identityOf(dir / name));
    const FileIdentity& dump = identities.front().second;
    const FileIdentity& page = identities.back().second;
    const FileIdentity folder = identityOf(dir);

    for (std::size_t i = 0; i < delivered.size(); ++i) {
        const Delivered& one = delivered[i];
        for (const auto& [name, identity] : identities) {
            if (sameFile(one.identity, identity))
                refuse(one, "the run's own " + std::string(name));
        }
        if (isRunTemporary(one.identity, dump, page, folder.path, pageName))
            refuse(one, "a temporary file of the run");
        for (std::size_t j = 0; j < i; ++j) {
            if (sameFile(one.identity, delivered[j].identity))
                refuse(one, "the file of " + std::string(delivered[j].option) + " " +
                                quotedText(delivered[j].file.string()));
        }
    }
}

}  // namespace fennick::cli
