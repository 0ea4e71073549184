// The last non-empty line of a stream that arrives in pieces, as a message
// quotes it: trimmed, and at most kLastLineBytes of its end.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fennick {

inline constexpr std::size_t kLastLineBytes = 300;

// A very long line costs no more memory than a short one.
class LastLine {
  public:
    void add(std::string_view bytes);
    // A last line without a newline counts too; empty when there was none.
    std::string value() const;

  private:
    std::string current_;
    std::string last_;
};

}  // namespace fennick
