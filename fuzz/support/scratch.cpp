#include "support/scratch.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fennick::fuzz {

namespace {

class ScratchDir {
  public:
    ScratchDir() {
        std::random_device seed;
        std::mt19937_64 random(seed());
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto candidate = base / ("fennick-fuzz-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot create a scratch directory");
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Escapes control and 8-bit bytes so that a mismatch prints legibly.
std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n\n";
        } else if (byte < 0x20 || byte >= 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::vector<std::string_view> splitInput(std::string_view input, std::size_t count) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < count) {
        const std::size_t at = input.find(kPartSeparator);
        if (at == std::string_view::npos)
            break;
        parts.push_back(input.substr(0, at));
        input.remove_prefix(at + 1);
    }
    parts.push_back(input);
    parts.resize(count);
    return parts;
}

const std::filesystem::path& scratchDir() {
    static const ScratchDir dir;  // destroyed at exit, taking its files along
    return dir.path();
}

void clearScratch() {
    for (const auto& entry : std::filesystem::directory_iterator(scratchDir()))
        std::filesystem::remove_all(entry.path());
}

void putFile(std::string_view name, std::string_view bytes) {
    std::ofstream out(scratchDir() / std::string(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write scratch file " + std::string(name));
}

std::optional<std::string> fileBytes(std::string_view name) {
    std::ifstream in(scratchDir() / std::string(name), std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void broken(std::string_view what, std::string_view detail) {
    std::fprintf(stderr, "\n*** broken expectation: %.*s\n%.*s\n", static_cast<int>(what.size()),
                 what.data(), static_cast<int>(detail.size()), detail.data());
    std::abort();
}

void expectSame(std::string_view what, std::string_view expected, std::string_view seen) {
    if (expected == seen)
        return;
    std::size_t at = 0;
    while (at < expected.size() && at < seen.size() && expected[at] == seen[at])
        ++at;
    broken(what, "first difference at byte " + std::to_string(at) + "\n--- expected:\n" +
                     printable(expected) + "\n--- seen:\n" + printable(seen));
}

}  // namespace fennick::fuzz
