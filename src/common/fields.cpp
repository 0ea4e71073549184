#include "common/fields.h"

#include <string>

#include "common/comma_search.h"
#include "common/failure.h"

namespace fennick {

namespace {

// Appends the fields of `line` to `fields`, at most `most` of them, and
// returns the offset where the next field starts, or npos when the line ended.
std::size_t splitInto(std::vector<std::string_view>& fields, std::string_view line,
                      std::size_t most) {
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    const char* start = begin;
    const auto cut = [&](const char* comma) {
        fields.emplace_back(start, static_cast<std::size_t>(comma - start));
        start = comma + 1;
        return fields.size() == most;
    };
    if (forEachComma(begin, end, cut))
        return static_cast<std::size_t>(start - begin);
    fields.emplace_back(start, static_cast<std::size_t>(end - start));
    return std::string_view::npos;
}

Failure noSuchField(std::size_t index, std::size_t size) {
    return Failure(FailureKind::SubscriptOutOfRange, "does not exist: the line has " +
                                                         std::to_string(size) +
                                                         (size == 1 ? " field" : " fields"))
        .at({}, Failure::kNoLine, static_cast<long>(index));
}

Failure noFieldFromEnd(std::size_t back, std::size_t size) {
    return Failure(FailureKind::SubscriptOutOfRange,
                   "has no field L-" + std::to_string(back) +
                       " (L being its last field): the line has " + std::to_string(size) +
                       (size == 1 ? " field" : " fields"));
}

}  // namespace

void Fields::split(std::string_view line, char separator) {
    fields_.clear();
    if (line.empty())
        return;
    if (separator == ',') {
        splitInto(fields_, line, std::string_view::npos);
        return;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t found = line.find(separator, start);
        if (found == std::string_view::npos) {
            fields_.push_back(line.substr(start));
            return;
        }
        fields_.push_back(line.substr(start, found - start));
        start = found + 1;
    }
}

std::string_view Fields::at(std::size_t index) const {
    if (index >= fields_.size())
        throw noSuchField(index, fields_.size());
    return fields_[index];
}

void EdgeFields::split(std::string_view line, std::size_t front) {
    front_.clear();
    back_.clear();
    rest_ = {};
    whole_ = true;
    restSplit_ = false;
    if (line.empty() || front == 0) {
        if (!line.empty()) {  // nothing split in front: all of it is the rest
            rest_ = line;
            whole_ = false;
        }
        return;
    }
    const std::size_t next = splitInto(front_, line, front);
    if (next != std::string_view::npos) {
        rest_ = line.substr(next);  // at least one field, maybe an empty one
        whole_ = false;
    }
}

std::string_view EdgeFields::at(std::size_t index) const {
    if (index < front_.size())
        return front_[index];
    if (whole_)
        throw noSuchField(index, front_.size());
    throw Failure(FailureKind::InvalidArgument, "was not split off the line's front")
        .at({}, Failure::kNoLine, static_cast<long>(index));
}

void EdgeFields::splitBack(std::size_t count) {
    // Backwards from the end of the rest, or from where the last call stopped.
    const char* const begin = rest_.data();
    const char* end = begin + rest_.size();
    for (const std::string_view& field : back_)
        end -= field.size() + 1;  // the fields already split and their commas
    const auto cut = [&](const char* comma) {
        back_.emplace_back(comma + 1, static_cast<std::size_t>(end - comma - 1));
        end = comma;
        return back_.size() == count;
    };
    if (forEachCommaBackward(begin, end, cut))
        return;
    back_.emplace_back(begin, static_cast<std::size_t>(end - begin));
    restSplit_ = true;
}

std::string_view EdgeFields::fromEnd(std::size_t back) {
    if (whole_) {
        if (back >= front_.size())
            throw noFieldFromEnd(back, front_.size());
        return front_[front_.size() - 1 - back];
    }
    if (back >= back_.size() && !restSplit_)
        splitBack(back + 1);
    if (back < back_.size())
        return back_[back];
    // The rest holds fewer fields: the one asked for is in front, if any.
    const std::size_t size = front_.size() + back_.size();
    if (back >= size)
        throw noFieldFromEnd(back, size);
    return front_[size - 1 - back];
}

std::size_t EdgeFields::size() {
    if (whole_)
        return front_.size();
    if (restSplit_)
        return front_.size() + back_.size();
    std::size_t split = 0;  // bytes of the rest taken by the back fields
    for (const std::string_view& field : back_)
        split += field.size() + 1;
    const std::string_view middle = rest_.substr(0, rest_.size() - split);
    std::size_t commas = 0;
    for (const char c : middle)
        commas += c == ',' ? 1 : 0;
    return front_.size() + back_.size() + commas + 1;
}

}  // namespace fennick
