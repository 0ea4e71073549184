// A fresh directory per test, removed afterwards; stands in for `AppDir`.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fennick::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(std::string_view name) const { return path_ / std::string(name); }
    // Writes the bytes exactly as given.
    void write(std::string_view name, std::string_view bytes) const;
    // The file's bytes; "<missing>" when it does not exist.
    std::string read(std::string_view name) const;
    bool exists(std::string_view name) const;

  private:
    std::filesystem::path path_;
};

}  // namespace fennick::test
