// fennick_steps DIR START END [--runs N] [--only extract|table|report]
// Times each step of one "Process" run on DIR with the window [START, END]
// (epoch seconds), without the window program: the labels, the extraction,
// the daily table and the report page. It also serves windows that the
// unattended run cannot give, such as a month. With --only, one step runs on
// the files that an earlier run left, for profiling that step alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "common/failure.h"
#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"
#include "pipeline/retention_labels.h"
#include "run/report_file.h"

namespace {

using Seconds = std::chrono::duration<double>;

// Wall and processor seconds of one step: on a shared machine the wall time
// also holds the waits for a core.
struct Took {
    double wall;
    double cpu;
};

template <typename Step>
Took timed(Step step) {
    const auto begin = std::chrono::steady_clock::now();
    const std::clock_t cpuBegin = std::clock();
    step();
    return {Seconds(std::chrono::steady_clock::now() - begin).count(),
            static_cast<double>(std::clock() - cpuBegin) / CLOCKS_PER_SEC};
}

void print(const char* name, Took took) {
    std::printf("  %s %.4f (cpu %.4f)", name, took.wall, took.cpu);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 1;
    std::string only;
    bool usable = argc >= 4;
    for (int arg = 4; usable && arg < argc; arg += 2) {
        const std::string option = argv[arg];
        usable = arg + 1 < argc && (option == "--runs" || option == "--only");
        if (usable && option == "--runs")
            runs = std::max(1, std::atoi(argv[arg + 1]));
        else if (usable)
            only = argv[arg + 1];
    }
    if (!usable || !(only.empty() || only == "extract" || only == "table" || only == "report")) {
        std::fprintf(
            stderr,
            "usage: fennick_steps DIR START END [--runs N] [--only extract|table|report]\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const fennick::Window window{std::strtod(argv[2], nullptr), std::strtod(argv[3], nullptr)};
    // The page is named after the window's last day, so runs repeat exactly.
    const auto today = std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(
        std::chrono::sys_seconds{std::chrono::seconds{static_cast<long long>(window.EndEpoch)}})};
    try {
        for (int run = 1; run <= runs; ++run) {
            fennick::RetentionLabels labels;
            const Took tLabels = timed([&] { labels = fennick::readRetentionLabels(dir); });
            const auto runs = [&only](const char* step) { return only.empty() || only == step; };
            const Took tExtract =
                timed([&] { runs("extract") && (fennick::extractJobs(dir, window), true); });
            const Took tTable =
                timed([&] { runs("table") && (fennick::writeDailyTable(dir, labels), true); });
            const Took tReport = timed(
                [&] { runs("report") && (fennick::writeReportFile(dir, window, today), true); });
            std::printf("run %d seconds:", run);
            print("labels", tLabels);
            print("extract", tExtract);
            print("table", tTable);
            print("report", tReport);
            print("total", {tLabels.wall + tExtract.wall + tTable.wall + tReport.wall,
                            tLabels.cpu + tExtract.cpu + tTable.cpu + tReport.cpu});
            std::printf("\n");
        }
    } catch (const fennick::Failure& failure) {
        std::fprintf(stderr, "fennick_steps: %s\n", failure.what());
        return 1;
    }
    return 0;
}
