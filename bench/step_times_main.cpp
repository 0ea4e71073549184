// fennick_steps DIR START END [--runs N]
// Times each step of one "Process" run on DIR with the window [START, END]
// (epoch seconds), without the window program: the labels, the extraction,
// the daily table and the report page. It also serves windows that the
// unattended run cannot give, such as a month.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/failure.h"
#include "pipeline/daily_table.h"
#include "pipeline/extraction.h"
#include "pipeline/retention_labels.h"
#include "report/report_page.h"

namespace {

using Seconds = std::chrono::duration<double>;

template <typename Step>
double timed(Step step) {
    const auto begin = std::chrono::steady_clock::now();
    step();
    return Seconds(std::chrono::steady_clock::now() - begin).count();
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
        std::printf("run  labels_s  extract_s  table_s  report_s  total_s\n");
        for (int run = 1; run <= runs; ++run) {
            fennick::RetentionLabels labels;
            const double tLabels = timed([&] { labels = fennick::readRetentionLabels(dir); });
            const double tExtract = timed([&] { fennick::extractJobs(dir, window); });
            const double tTable = timed([&] { fennick::writeDailyTable(dir, labels); });
            const double tReport = timed([&] { fennick::writeReport(dir, window, today); });
            std::printf("%3d  %8.4f  %9.4f  %7.4f  %8.4f  %7.4f\n", run, tLabels, tExtract, tTable,
                        tReport, tLabels + tExtract + tTable + tReport);
        }
    } catch (const fennick::Failure& failure) {
        std::fprintf(stderr, "fennick_steps: %s\n", failure.what());
        return 1;
    }
    return 0;
}
