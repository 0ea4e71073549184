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

  private:
    std::vector<std::string_view> fields_;
};

// The text from the start of `first` to the end of `last`, two fields of the
// same line in that order, with the separators between them: consecutive
// fields that go out unchanged are copied in one piece.
inline std::string_view fieldRun(std::string_view first, std::string_view last) {
    return {first.data(), static_cast<std::size_t>(last.data() + last.size() - first.data())};
}

// The first and the last fields of a long line, for a step that reads only
// those: the middle is never split, so a line of hundreds of fields costs
// about its two ends. Indexes and failures are those of Fields.
class EdgeFields {
  public:
    // Splits off the first `front` fields (all of them when the line has
    // fewer); the fields at the end are split when first asked for.
    void split(std::string_view line, std::size_t front);

    // Field `index`, which must be below `front` or lie in a line that has no
    // more fields than that; beyond the last field is "subscript out of range".
    std::string_view at(std::size_t index) const;
    // The field `back` places before the last one (0 is the last field).
    std::string_view fromEnd(std::size_t back);
    // The number of fields of the whole line; counts the middle's separators
    // when it has to.
    std::size_t size();

  private:
    void splitBack(std::size_t count);

    std::string_view rest_;   // the unsplit text after the front fields
    bool whole_ = true;       // no text after the front fields: all are split
    bool restSplit_ = false;  // the back reached the front: all are split
    std::vector<std::string_view> front_;
    std::vector<std::string_view> back_;  // the last field first
};

}  // namespace fennick
