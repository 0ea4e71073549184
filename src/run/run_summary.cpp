#include "run/run_summary.h"

#include "common/failure.h"

namespace fennick {

namespace {

std::string counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

}  // namespace

std::string countsText(const PageCounts& counts) {
    return counted(counts.jobs, "job", "jobs") + ", " + std::to_string(counts.failed) +
           " failed, " +
           counted(counts.notFound, "daily policy not found", "daily policies not found");
}

std::string summaryLine(const ReportFile& report) {
    return oneLine(report.page.string()) + ": " + countsText(report.counts);
}

bool needsAttention(const PageCounts& counts) {
    return counts.failed > 0 || counts.notFound > 0;
}

}  // namespace fennick
