#include "bench_inputs.h"
#include "common/file_names.h"

#include <unistd.h>
#include <map>
#include <string>
#include <utility>

#include "common/failure.h"
#include "dump_generator.h"
#include "files/text_file.h"
#include "pipeline/extraction.h"

namespace fennick::bench {

namespace {

const std::filesystem::path& scratch() {
    static const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("fennick_bench_" + std::to_string(::getpid()));
    return root;
}

DumpOptions benchOptions(long long jobs, int policies) {
    DumpOptions options;
    options.jobs = jobs;
    options.now = kBenchNow;
    options.spanHours = static_cast<double>(jobs) / kJobsPerDay * 24.0;
    options.policies = policies;
    options.seed = 7;
    return options;
}

// Keeps the first `rows` lines of out.txt.
void cutJobs(const std::filesystem::path& dir, long long rows) {
    const std::filesystem::path all = dir / "out_all.txt";
    std::filesystem::rename(fileIn(dir, kJobsFile), all);
    LineReader in(all, "out_all.txt");
    LineWriter out(fileIn(dir, kJobsFile), kJobsFile);
    long long written = 0;
    while (written < rows && !in.atEnd()) {
        out.writeLine(in.readLine());
        ++written;
    }
    out.close();
    if (written != rows) {
        throw Failure(FailureKind::InputPastEnd,
                      "the dump gave only " + std::to_string(written) + " rows")
            .at(kJobsFile);
    }
}

}  // namespace

Window topDay() {
    return {static_cast<double>(kBenchNow) - kDay, static_cast<double>(kBenchNow)};
}

const DumpDir& dumpDir(long long jobs) {
    static std::map<long long, DumpDir> dumps;
    auto found = dumps.find(jobs);
    if (found != dumps.end())
        return found->second;
    const DumpOptions options = benchOptions(jobs, 20);
    DumpDir dump;
    dump.dir = scratch() / ("dump_" + std::to_string(jobs));
    dump.bytes = generateAppDir(dump.dir, options);
    dump.spanSeconds = options.spanHours * 3600.0;
    return dumps.emplace(jobs, std::move(dump)).first->second;
}

const std::filesystem::path& tableDir(long long rows, int policies) {
    static std::map<std::pair<long long, int>, std::filesystem::path> tables;
    const auto key = std::make_pair(rows, policies);
    auto found = tables.find(key);
    if (found != tables.end())
        return found->second;

    // Some jobs are dropped or go to out2.txt, so generate a few more.
    const DumpOptions options = benchOptions(rows + rows / 4 + 100, policies);
    const std::filesystem::path dir =
        scratch() / ("table_" + std::to_string(rows) + "_" + std::to_string(policies));
    generateAppDir(dir, options);
    const double now = static_cast<double>(options.now);
    extractJobs(dir, Window{now - options.spanHours * 3600.0 - 1.0, now});
    cutJobs(dir, rows);

    LineWriter list(fileIn(dir, "policy_list.txt"), "policy_list.txt");
    for (int index = 0; index < policies; ++index)
        list.writeLine(policyName(index));
    list.close();
    return tables.emplace(key, dir).first->second;
}

long long lineCount(const std::filesystem::path& path) {
    LineReader reader(path, path.filename().string());
    while (!reader.atEnd())
        reader.readLine();
    return reader.lineNumber();
}

void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch(), ignored);
}

}  // namespace fennick::bench
