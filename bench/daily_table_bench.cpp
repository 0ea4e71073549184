// Daily job table over out.txt files of growing length and policy lists of
// growing length (100 to 10,000 lines). items/s counts out.txt rows per
// second; "joins" is rows times policy lines, the work of a join that rereads
// out.txt per policy line. The time should follow rows + policy lines.
#include <benchmark/benchmark.h>

#include "bench_inputs.h"
#include "common/failure.h"
#include "common/file_names.h"
#include "pipeline/daily_table.h"
#include "pipeline/retention_labels.h"

namespace fennick::bench {

namespace {

void BM_DailyTable(benchmark::State& state) {
    const long long rows = state.range(0);
    const int policies = static_cast<int>(state.range(1));
    try {
        const std::filesystem::path& dir = tableDir(rows, policies);
        const RetentionLabels labels = readRetentionLabels(dir);
        for (auto _ : state)
            writeDailyTable(dir, labels);
        state.SetItemsProcessed(state.iterations() * rows);
        state.counters["joins"] = benchmark::Counter(static_cast<double>(rows) * policies,
                                                     benchmark::Counter::kIsIterationInvariantRate);
        state.counters["table_lines"] = static_cast<double>(lineCount(dir / kTableFile));
    } catch (const Failure& failure) {
        state.SkipWithError(failure.what());
    }
}

}  // namespace

BENCHMARK(BM_DailyTable)
    ->ArgNames({"rows", "policies"})
    ->ArgsProduct({{10000, 100000}, {100, 1000, 10000}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace fennick::bench
