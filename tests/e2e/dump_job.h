// Dump lines and an AppDir for the end-to-end runs of the real program.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fennick::test {

// One job of the dump; every text goes into its field byte for byte.
struct DumpJob {
    std::string id{};
    std::string policy{};              // field 4
    std::string schedule{};            // field 5
    std::string client{};              // field 6
    std::string status{};              // field 3
    std::string start{};               // field 8, seconds since 1970 as text
    std::string end{};                 // field 10
    std::string retentionLevel = "3";  // field 27
};

// A 40-field dump line that routes the job to out.txt (routing mark "1").
inline std::string dumpLine(const DumpJob& job) {
    std::vector<std::string> fields(40);
    fields[0] = job.id;
    fields[1] = "other";
    fields[3] = job.status;
    fields[4] = job.policy;
    fields[5] = job.schedule;
    fields[6] = job.client;
    fields[8] = job.start;
    fields[9] = "3725";
    fields[10] = job.end;
    fields[14] = "2048";
    fields[15] = "17";
    fields[19] = "512";
    fields[20] = "1";
    fields[22] = "0";
    fields[27] = job.retentionLevel;
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += fields[i];
    }
    return line + "\r\n";
}

// Lines RL00 to RL28, each "level N" unless `labels` gives it another label.
inline std::string configText(const std::map<int, std::string>& labels = {}) {
    std::string text;
    for (int level = 0; level <= 28; ++level) {
        const auto given = labels.find(level);
        const std::string label =
            given != labels.end() ? given->second : "level " + std::to_string(level);
        text += "RL" + std::string(level < 10 ? "0" : "") + std::to_string(level) + "=" + label +
                "\r\n";
    }
    return text;
}

// The program file copied into `appDir`, which is where it finds its files.
inline std::filesystem::path installProgram(const TempDir& appDir) {
    const auto program = appDir.file("fennick");
    std::filesystem::copy_file(FENNICK_BINARY, program);
    return program;
}

}  // namespace fennick::test
