// fennick_steps DIR START END [--runs N]
// Times each step of one "Process" run on DIR with the window [START, END]
// (epoch seconds), without the window program: the labels, the extraction,
// the daily table and the report page. It also serves windows that the
// unattended run cannot give, such as a month.
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
#include "report/report_page.h"

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
    if (argc != 4 && !(argc == 6 && std::string(argv[4]) == "--runs")) {
        std::fprintf(stderr, "usage: fennick_steps DIR START END [--runs N]\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const fennick::Window window{std::strtod(argv[2], nullptr), std::strtod(argv[3], nullptr)};
    const int runs = argc == 6 ? std::max(1, std::atoi(argv[5])) : 1;
    // The page is named after the window's last day, so runs repeat exactly.
    const auto today = std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(
        std::chrono::sys_seconds{std::chrono::seconds{static_cast<long long>(window.EndEpoch)}})};
    try {
        for (int run = 1; run <= runs; ++run) {
            fennick::RetentionLabels labels;
            const Took tLabels = timed([&] { labels = fennick::readRetentionLabels(dir); });
            const Took tExtract = timed([&] { fennick::extractJobs(dir, window); });
            const Took tTable = timed([&] { fennick::writeDailyTable(dir, labels); });
            const Took tReport = timed([&] { fennick::writeReport(dir, window, today); });
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
