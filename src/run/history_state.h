// What became of the run's job history, for the mail, the JSON and the
// metrics to tell; the history itself is the run's business.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace fennick {

struct HistoryState {
    std::filesystem::path file;
    // Its rows after the run; nothing when it could not be used.
    std::optional<std::size_t> jobs;
    // Rows this run wrote or replaced.
    std::size_t recorded = 0;
    // Why it could not be used, naming the file; empty when it was. The
    // findings then rest on the dump alone.
    std::string error;

    bool used() const { return error.empty(); }
};

}  // namespace fennick
