#include "common/fields.h"

#include <string>

#include "common/failure.h"

namespace fennick {

void Fields::split(std::string_view line, char separator) {
    fields_.clear();
    if (line.empty())
        return;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(separator, start);
        if (comma == std::string_view::npos) {
            fields_.push_back(line.substr(start));
            return;
        }
        fields_.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string_view Fields::at(std::size_t index) const {
    if (index >= fields_.size()) {
        throw Failure(FailureKind::SubscriptOutOfRange,
                      "does not exist: the line has " + std::to_string(fields_.size()) +
                          (fields_.size() == 1 ? " field" : " fields"))
            .at({}, Failure::kNoLine, static_cast<long>(index));
    }
    return fields_[index];
}

std::string_view Fields::fromEnd(std::size_t back) const {
    if (back >= fields_.size()) {
        throw Failure(
            FailureKind::SubscriptOutOfRange,
            "has no field L-" + std::to_string(back) + " (L being its last field): the line has " +
                std::to_string(fields_.size()) + (fields_.size() == 1 ? " field" : " fields"));
    }
    return fields_[fields_.size() - 1 - back];
}

}  // namespace fennick
