// Runs the benchmarks, then removes their generated inputs.
#include <benchmark/benchmark.h>

#include "bench_inputs.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::AddCustomContext(
        "reproduce",
        "cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DFENNICK_BUILD_APP=OFF "
        "-DFENNICK_BUILD_BENCH=ON && cmake --build build-bench && "
        "build-bench/bench/fennick_bench --benchmark_filter=<Extract|DailyTable|Process>");
    benchmark::AddCustomContext("inputs",
                                "generated per run (not timed) by fennick_gendump's "
                                "generator, seed 7, newest start 1767225600, 50000 "
                                "jobs per day; files are warm in the page cache");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fennick::bench::removeScratch();
    return 0;
}
