// Comma-separated lines: split at every separator, no quoting, no trimming,
// empty fields count, and an empty line has no fields at all.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace fennick {

// The fields of one line, as views into it; reuse one object across lines so
// that splitting allocates nothing once it has grown to the widest line.
class Fields {
  public:
    void split(std::string_view line, char separator = ',');

    std::size_t size() const noexcept { return fields_.size(); }
    std::string_view operator[](std::size_t index) const { return fields_[index]; }
    // Field `index`; beyond the last field is "subscript out of range" with
    // the field index as its location.
    std::string_view at(std::size_t index) const;
    // The field `back` places before the last one (0 is the last field).
    std::string_view fromEnd(std::size_t back) const;

  private:
    std::vector<std::string_view> fields_;
};

}  // namespace fennick
