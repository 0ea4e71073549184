#include "programs/last_line.h"

#include "common/utf8.h"

namespace fennick {

namespace {

std::string_view trimmed(std::string_view line) {
    constexpr std::string_view kBlank = " \t\r\f\v";
    const auto first = line.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, line.find_last_not_of(kBlank) - first + 1);
}

// The end of a long line, not starting inside a UTF-8 sequence.
std::string endOf(std::string_view line) {
    if (line.size() > kLastLineBytes) {
        line.remove_prefix(line.size() - kLastLineBytes);
        while (!line.empty() && isUtf8Continuation(static_cast<unsigned char>(line.front())))
            line.remove_prefix(1);
    }
    return std::string(line);
}

}  // namespace

void LastLine::add(std::string_view bytes) {
    for (;;) {
        const auto end = bytes.find('\n');
        current_.append(bytes.substr(0, end));
        if (current_.size() > 2 * kLastLineBytes)
            current_.erase(0, current_.size() - kLastLineBytes - 8);
        if (end == std::string_view::npos)
            return;
        if (const auto line = trimmed(current_); !line.empty())
            last_ = endOf(line);
        current_.clear();
        bytes.remove_prefix(end + 1);
    }
}

std::string LastLine::value() const {
    const auto line = trimmed(current_);
    return line.empty() ? last_ : endOf(line);
}

}  // namespace fennick
