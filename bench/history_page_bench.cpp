// The history page of the bench's daily list: 30 nights of 1,000 daily
// policies and 1,200 failing streams, every state in turn. Bytes/s is the
// page's bytes.
#include <benchmark/benchmark.h>

#include <string>

#include "delivery/history_page.h"
#include "pipeline/findings.h"

namespace fennick::bench {

namespace {

Findings nightsOfTheBench() {
    Findings findings;
    const Window window{1796000000, 1796086400};
    findings.nights = nightsOf(window, kPageNights);
    findings.knownSince = findings.nights.back().start;
    for (std::size_t k = 0; k < kPageNights; ++k)
        findings.nightTotals.push_back({30000 + k, 700 + k, 4.2e9 + 1e7 * static_cast<double>(k)});
    const NightState states[] = {NightState::Ok,      NightState::Ok,     NightState::Ok,
                                 NightState::Partial, NightState::Failed, NightState::Running,
                                 NightState::None};
    for (int p = 0; p < 1000; ++p) {
        PolicyNights& policy = findings.dailyNights.emplace_back();
        policy.policy = "daily_fs_" + std::to_string(p);
        for (std::size_t k = 0; k < kPageNights; ++k)
            policy.nights.push_back(states[(static_cast<std::size_t>(p) + k) % 7]);
    }
    for (int s = 0; s < 1200; ++s) {
        FailingStream& stream = findings.failing.emplace_back();
        stream.policy = "daily_db_" + std::to_string(s % 300);
        stream.client = "srv" + std::to_string(s) + ".corp.local";
        stream.schedule = "Daily_Full";
        stream.nights.assign(kPageNights, NightState::Failed);
    }
    return findings;
}

void BM_HistoryPageOfTheBenchList(benchmark::State& state) {
    const Findings findings = nightsOfTheBench();
    const HistoryPage page{findings, Window{1796000000, 1796086400},
                           [](std::string_view name) { return name.size() % 2 == 0; }};
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string html = historyPageHtml(page);
        bytes = html.size();
        benchmark::DoNotOptimize(html.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HistoryPageOfTheBenchList)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace fennick::bench
