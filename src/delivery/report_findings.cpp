#include "delivery/report_findings.h"

#include "common/columns.h"
#include "common/fields.h"
#include "common/located.h"
#include "common/text_file.h"

namespace fennick {

ReportFindings readFindings(const std::filesystem::path& tableFile, std::size_t keep) {
    const std::string name = tableFile.filename().string();
    LineReader table(tableFile, name);
    ReportFindings findings;
    Fields fields;
    std::string policy;  // the last policy named in column 0

    // The heading; an empty table is "input past end" here, as for the page.
    static_cast<void>(table.readLine());
    while (!table.atEnd()) {
        const std::string_view line = table.readLine();
        fields.split(line);
        located(name, table.lineNumber(), Failure::kNoField, [&] {
            // Column 1 decides the kind of line, as on the page.
            if (fields.at(column::kNotFoundMark) == kNotFound) {
                policy = fields[column::kPolicy];
                if (findings.notFound.size() < keep)
                    findings.notFound.push_back(policy);
                ++findings.notFoundCount;
                return;
            }
            if (!fields[column::kPolicy].empty())
                policy = fields[column::kPolicy];
            const std::string_view status = fields.at(column::kStatus);
            if (status == "0" || status == "1")
                return;
            // Only a failed line needs the job id; a short successful line
            // was good enough for the page and stays so here.
            const std::string_view jobId = fields.at(column::kJobId);
            if (findings.failed.size() < keep) {
                findings.failed.push_back({policy, std::string(fields[column::kClient]),
                                           std::string(fields[column::kSchedule]),
                                           std::string(status), std::string(jobId),
                                           std::string(fields[column::kStart])});
            }
            ++findings.failedCount;
        });
    }
    return findings;
}

}  // namespace fennick
