#include "run/run_summary.h"

#include "common/failure.h"

namespace fennick {

namespace {

std::string counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

}  // namespace

std::string countsText(const PageCounts& counts) {
    return counted(counts.jobs, "job", "jobs") + ", " + std::to_string(counts.highlighted) +
           " failed, " +
           counted(counts.notFound, "daily policy not found", "daily policies not found");
}

std::string summaryLine(const ReportFile& report) {
    const PageCounts& counts = report.counts;
    std::string line = oneLine(report.page.string()) + ": " + counted(counts.jobs, "job", "jobs") +
                       ", " + std::to_string(counts.failed()) + " failed, ";
    if (counts.running > 0)
        line += std::to_string(counts.running) + " still running, ";
    return line + counted(counts.notFound, "daily policy not found", "daily policies not found");
}

bool needsAttention(const PageCounts& counts) {
    return counts.failed() > 0 || counts.notFound > 0;
}

}  // namespace fennick
