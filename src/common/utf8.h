// UTF-8's byte classes, for code that cuts or counts text without decoding
// it.
#pragma once

namespace fennick {

// A byte that continues a UTF-8 sequence (10xxxxxx): text cut before one is
// cut inside a character, and a character count leaves it out.
constexpr bool isUtf8Continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace fennick
