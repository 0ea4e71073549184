// A fresh directory, removed with everything in it afterwards: stands in for
// `AppDir` in the tests, and is the fuzz targets' scratch directory. Plain
// C++ only, so the fuzz build (no test framework) links it too.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace fennick::test {

class TempDir {
  public:
    // Made under the system's temporary directory as `prefix` and a random
    // number; an aborted process leaves it behind under that name.
    explicit TempDir(std::string_view prefix = "fennick-test-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(std::string_view name) const { return path_ / std::string(name); }
    // Writes the bytes exactly as given.
    void write(std::string_view name, std::string_view bytes) const;
    // The file's bytes; nothing when it does not exist.
    std::optional<std::string> bytes(std::string_view name) const;
    // The file's bytes; "<missing>" when it does not exist.
    std::string read(std::string_view name) const;
    bool exists(std::string_view name) const;

    // The names of everything in the directory, files and folders alike.
    std::set<std::string> names() const;
    // Every plain file's bytes by name: compare two to see what a run changed.
    std::map<std::string, std::string> snapshot() const;
    // Removes everything in the directory.
    void clear() const;

  private:
    std::filesystem::path path_;
};

}  // namespace fennick::test
