// Job extraction: the scan stops at the first job older than the window, so
// a window at the top of the dump costs the same however long the dump is,
// while a window at its bottom costs the whole dump.
#include <benchmark/benchmark.h>

#include "bench_inputs.h"
#include "common/failure.h"
#include "common/file_names.h"
#include "files/text_file.h"
#include "pipeline/extraction.h"

namespace fennick::bench {

namespace {

// Jobs written to either output by the last run.
void countSelected(benchmark::State& state, const DumpDir& dump) {
    state.counters["dump_jobs"] = static_cast<double>(state.range(0));
    state.counters["selected"] = static_cast<double>(lineCount(fileIn(dump.dir, kJobsFile)) +
                                                     lineCount(fileIn(dump.dir, kOtherJobsFile)));
}

void runExtraction(benchmark::State& state, Window (*windowOf)(const DumpDir&)) {
    try {
        const DumpDir& dump = dumpDir(state.range(0));
        const Window window = windowOf(dump);
        for (auto _ : state)
            extractJobs(dump.dir, window);
        countSelected(state, dump);
    } catch (const Failure& failure) {
        state.SkipWithError(failure.what());
    }
}

void BM_ExtractDayAtTop(benchmark::State& state) {
    runExtraction(state, [](const DumpDir&) { return topDay(); });
}

void BM_ExtractDayAtBottom(benchmark::State& state) {
    runExtraction(state, [](const DumpDir& dump) {
        const double oldest = static_cast<double>(kBenchNow) - dump.spanSeconds;
        return Window{oldest, oldest + kDay};
    });
}

// Every job selected: the throughput of reading, splitting and writing.
void BM_ExtractWholeDump(benchmark::State& state) {
    try {
        const DumpDir& dump = dumpDir(state.range(0));
        const Window window{static_cast<double>(kBenchNow) - dump.spanSeconds - 1,
                            static_cast<double>(kBenchNow)};
        for (auto _ : state)
            extractJobs(dump.dir, window);
        state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(dump.bytes));
        state.SetItemsProcessed(state.iterations() * state.range(0));
        countSelected(state, dump);
    } catch (const Failure& failure) {
        state.SkipWithError(failure.what());
    }
}

}  // namespace

BENCHMARK(BM_ExtractDayAtTop)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(5000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ExtractDayAtBottom)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(5000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ExtractWholeDump)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace fennick::bench
