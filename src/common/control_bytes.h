// Control bytes: what text that must stay on one line may not hold as it
// stands. Failure messages show them escaped; a mail address may not hold
// them at all, or it could start a header of its own.
#pragma once

#include <algorithm>
#include <string_view>

namespace fennick {

// A byte below 0x20, or 0x7F (DEL). Bytes from 0x80 up are text: single-byte
// text of the machine's code page, or a part of a UTF-8 character.
constexpr bool isControlByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

constexpr bool hasControlByte(std::string_view text) {
    return std::any_of(text.begin(), text.end(), isControlByte);
}

}  // namespace fennick
