// What every fuzz target shares: one scratch directory per process standing
// in for AppDir, the splitting of an input into files, and the abort that
// turns a broken expectation into a finding.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fennick::fuzz {

// Separates the files packed into one input (an ASCII record separator: rare
// in the system's text files, so seeds stay readable).
inline constexpr char kPartSeparator = '\x1e';

// Splits `input` at its first `count - 1` separators; the last part keeps any
// further separators, and parts missing from a short input are empty.
std::vector<std::string_view> splitInput(std::string_view input, std::size_t count);

// Made on first use and removed when the process exits normally; reused by
// every iteration so that fuzzing does not pay for a directory each time.
const std::filesystem::path& scratchDir();
// Empties the scratch directory.
void clearScratch();
void putFile(std::string_view name, std::string_view bytes);
// The file's bytes, or nothing when it does not exist.
std::optional<std::string> fileBytes(std::string_view name);
// The names of everything in the scratch directory.
std::set<std::string> scratchNames();

// Prints what was expected and aborts, so libFuzzer keeps the input.
[[noreturn]] void broken(std::string_view what, std::string_view detail = {});
inline void expect(bool ok, std::string_view what, std::string_view detail = {}) {
    if (!ok)
        broken(what, detail);
}
// Compares two texts, printing both (escaped) when they differ.
void expectSame(std::string_view what, std::string_view expected, std::string_view seen);

}  // namespace fennick::fuzz
