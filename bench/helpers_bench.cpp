// The helpers every dump line and table row passes through: line splitting,
// the number conversions, the date text and the duration text. items/s is
// calls (or lines) per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/fields.h"
#include "common/numbers.h"
#include "common/report_time.h"
#include "pipeline/time_string.h"

namespace fennick::bench {

namespace {

// An out.txt row as the daily table reads it: 13 short fields, 126 bytes.
const std::string kRow =
    "daily_fs_95,Daily_Full,srv091.corp.local,01/01/2026 07:59:53,01/01/2026 08:17:21,1048,"
    "53038232,152848,1,0,50609,130000,0";

// A dump line of `fields` fields and about `bytes` bytes: short fields at both
// ends, a long middle, as the generator writes them.
std::string dumpLine(int fields, std::size_t bytes) {
    std::string line;
    const std::size_t middle = bytes > 400 ? (bytes - 300) / static_cast<std::size_t>(fields) : 1;
    for (int field = 0; field < fields; ++field) {
        if (field > 0)
            line += ',';
        const bool edge = field < 28 || field >= fields - 23;
        line += edge ? std::to_string(field * 37 % 1000) : std::string(middle, 'm');
    }
    return line;
}

void BM_FieldsSplitTableRow(benchmark::State& state) {
    Fields fields;
    for (auto _ : state) {
        fields.split(kRow);
        benchmark::DoNotOptimize(fields.size());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kRow.size()));
}

// A whole dump line split at every comma, against the two ends only.
void BM_FieldsSplitDumpLine(benchmark::State& state) {
    const std::string line = dumpLine(static_cast<int>(state.range(0)), 1200);
    Fields fields;
    for (auto _ : state) {
        fields.split(line);
        benchmark::DoNotOptimize(fields.size());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}

void BM_EdgeFieldsDumpLine(benchmark::State& state) {
    const std::string line = dumpLine(static_cast<int>(state.range(0)), 1200);
    EdgeFields fields;
    for (auto _ : state) {
        fields.split(line, 28);
        benchmark::DoNotOptimize(fields.fromEnd(22));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}

void numberBench(benchmark::State& state, double (*convert)(std::string_view),
                 std::vector<std::string> texts) {
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(convert(texts[next]));
        next = next + 1 == texts.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ParseNumberStartTime(benchmark::State& state) {
    numberBench(state, parseNumber, {"1767225593", "1767225590", "0", "1767139201"});
}

void BM_ParseNumberGeneral(benchmark::State& state) {
    numberBench(state, parseNumber, {" 1.5 ", "-3e2", "1.0", "+17672255930000000"});
}

void BM_LeadingNumberEndTime(benchmark::State& state) {
    numberBench(state, leadingNumber, {"1767226641", "", "1767230252x", " 12"});
}

void BM_ParseInt32Elapsed(benchmark::State& state) {
    const std::vector<std::string> texts = {"1048", "4662", "30", "35999"};
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parseInt32(texts[next]));
        next = (next + 1) % texts.size();
    }
    state.SetItemsProcessed(state.iterations());
}

// Start times a few seconds to a few hours apart, as in a dump: the day
// changes now and then.
void BM_AppendReportZoneText(benchmark::State& state) {
    std::string text;
    double epoch = 1767225600;
    const double step = static_cast<double>(state.range(0));
    for (auto _ : state) {
        text.clear();
        appendReportZoneText(text, epoch);
        benchmark::DoNotOptimize(text.data());
        epoch -= step;
        if (epoch < 1700000000)
            epoch = 1767225600;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TimeString(benchmark::State& state) {
    std::int32_t seconds = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(TimeString(seconds));
        seconds = seconds >= 36000 ? 0 : seconds + 61;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_FieldsSplitTableRow);
BENCHMARK(BM_FieldsSplitDumpLine)->Arg(60)->Arg(400);
BENCHMARK(BM_EdgeFieldsDumpLine)->Arg(60)->Arg(400);
BENCHMARK(BM_ParseNumberStartTime);
BENCHMARK(BM_ParseNumberGeneral);
BENCHMARK(BM_LeadingNumberEndTime);
BENCHMARK(BM_ParseInt32Elapsed);
BENCHMARK(BM_AppendReportZoneText)->Arg(7)->Arg(86400);
BENCHMARK(BM_TimeString);

}  // namespace fennick::bench
