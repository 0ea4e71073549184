#include "support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fennick::test {

TempDir::TempDir(std::string_view prefix) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / (std::string(prefix) + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(std::string_view name, std::string_view bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write test file " + std::string(name));
}

std::optional<std::string> TempDir::bytes(std::string_view name) const {
    std::ifstream in(file(name), std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string TempDir::read(std::string_view name) const {
    return bytes(name).value_or("<missing>");
}

bool TempDir::exists(std::string_view name) const {
    return std::filesystem::exists(file(name));
}

std::set<std::string> TempDir::names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.insert(entry.path().filename().string());
    return names;
}

std::map<std::string, std::string> TempDir::snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        if (entry.is_regular_file()) {
            const std::string name = entry.path().filename().string();
            files[name] = read(name);
        }
    }
    return files;
}

void TempDir::clear() const {
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        std::filesystem::remove_all(entry.path());
}

}  // namespace fennick::test
