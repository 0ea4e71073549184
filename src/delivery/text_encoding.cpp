#include "delivery/text_encoding.h"

#include <array>

#include "common/utf8.h"

namespace fennick {

namespace {

// Code points of windows-1252's bytes 0x80 to 0x9F; 0xFFFD where it has none.
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

void appendCodePoint(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // "…"

char32_t windows1252Point(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : byte;
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const std::size_t left = text.size() - at;
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    // The second byte's range is what rules out overlong forms, surrogates
    // and values above U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!isUtf8Continuation(byte(i)))
            return 0;
    }
    return length;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string asUtf8(std::string_view text) {
    if (isValidUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (const char c : text)
        appendCodePoint(out, windows1252Point(static_cast<unsigned char>(c)));
    return out;
}

std::string shownUtf8(std::string_view text, std::size_t most) {
    const bool utf8 = isValidUtf8(text);
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t before = out.size();
        const auto byte = static_cast<unsigned char>(text[at]);
        std::size_t length = 1;
        if (byte < 0x20) {
            appendCodePoint(out, 0x2400 + byte);
        } else if (byte == 0x7F) {
            appendCodePoint(out, 0x2421);
        } else if (!utf8) {
            appendCodePoint(out, windows1252Point(byte));
        } else if (byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
            length = 2;  // U+0080 to U+009F
            appendCodePoint(out, 0xFFFD);
        } else {
            length = utf8SequenceLength(text, at);
            out.append(text.substr(at, length));
        }
        at += length;
        if (out.size() > most) {
            out.resize(before);
            out += kEllipsis;
            break;
        }
    }
    return out;
}

}  // namespace fennick
