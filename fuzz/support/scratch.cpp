#include "support/scratch.h"

#include <cstdio>
#include <cstdlib>

#include "support/temp_dir.h"

namespace fennick::fuzz {

namespace {

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

namespace {

// The same temporary folder as the tests', under a name of its own.
const test::TempDir& scratch() {
    static const test::TempDir dir("fennick-fuzz-");  // removed at exit with its files
    return dir;
}

}  // namespace

const std::filesystem::path& scratchDir() {
    return scratch().path();
}

void clearScratch() {
    scratch().clear();
}

void putFile(std::string_view name, std::string_view bytes) {
    scratch().write(name, bytes);
}

std::optional<std::string> fileBytes(std::string_view name) {
    return scratch().bytes(name);
}

std::set<std::string> scratchNames() {
    return scratch().names();
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
