// The whole "Process" run on a long dump with a one-day window: labels,
// window, extraction, daily table and report page.
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench_inputs.h"
#include "common/failure.h"
#include "run/report_run.h"

namespace fennick::bench {

namespace {

// The pickers hold report-zone times, 8 hours ahead of the epoch counts.
LocalTime picked(double epoch) {
    return LocalTime{std::chrono::seconds{static_cast<long long>(epoch) + kReportZoneOffset}};
}

void BM_Process(benchmark::State& state) {
    try {
        const DumpDir& dump = dumpDir(state.range(0));
        const Window day = topDay();
        const Pickers pickers{picked(day.StartEpoch), picked(day.StartEpoch), picked(day.EndEpoch),
                              picked(day.EndEpoch)};
        const Clock now = [] { return picked(static_cast<double>(kBenchNow)); };
        for (auto _ : state)
            reportOf(runReport({dump.dir, pickers, now}));
        state.counters["dump_jobs"] = static_cast<double>(state.range(0));
        state.counters["table_lines"] = static_cast<double>(lineCount(dump.dir / "out1.txt"));
    } catch (const Failure& failure) {
        state.SkipWithError(failure.what());
    }
}

}  // namespace

BENCHMARK(BM_Process)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace fennick::bench
