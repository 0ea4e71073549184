#include "delivery/mail_encoding.h"

#include <algorithm>

namespace fennick {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// A header field may hold no control bytes of the input: a CR or LF would end
// it and let the rest pass for a header of its own.
std::string escapedControls(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// RFC 5322 asks for lines of at most 78 characters; a fold goes before a
// blank that follows text, so no line is blank alone and unfolding gives the
// value back. A word longer than a line stays whole on a longer line.
std::string foldedField(std::string_view name, std::string_view value) {
    constexpr std::size_t kLine = 78;
    std::string text(name);
    text += ": ";
    const std::size_t firstBreak = text.size() + 1;  // never right after the colon
    text += value;

    std::string out;
    std::size_t start = 0;
    while (text.size() - start > kLine) {
        const std::size_t from = start == 0 ? firstBreak : start + 1;
        const auto canBreak = [&](std::size_t at) {
            return isBlank(text[at]) && !isBlank(text[at - 1]);
        };
        std::size_t cut = 0;
        for (std::size_t at = std::min(start + kLine, text.size() - 1); at >= from; --at) {
            if (canBreak(at)) {
                cut = at;
                break;
            }
        }
        for (std::size_t at = start + kLine + 1; cut == 0 && at < text.size(); ++at) {
            if (canBreak(at))
                cut = at;
        }
        if (cut == 0)
            break;
        out.append(text, start, cut - start);
        out += '\n';
        start = cut;
    }
    out.append(text, start);
    out += '\n';
    return out;
}

// Encoded words of whole characters (RFC 2047 forbids splitting one), each on
// a line of its own within 76 characters, so that every word stays within 75.
std::string encodedField(std::string_view name, std::string_view value) {
    const std::string_view charset = charsetOf(value);
    const bool utf8 = charset == "utf-8";
    const std::size_t overhead = charset.size() + 7;  // "=?" charset "?B?" ... "?="

    std::string out(name);
    out += ": ";
    std::size_t prefix = out.size();  // what the line holds before the word
    std::size_t start = 0;
    while (start < value.size()) {
        std::size_t room = std::min<std::size_t>(75, 76 - std::min<std::size_t>(prefix, 76));
        if (room < overhead + 4)
            room = 75;  // a long field name: the word alone keeps its limit
        const std::size_t most = (room - overhead) / 4 * 3;
        std::size_t end = start;
        while (end < value.size()) {
            const std::size_t step = utf8 ? utf8SequenceLength(value, end) : 1;
            if (end + step - start > most)
                break;
            end += step;
        }
        if (end == start)
            end = start + 1;  // cannot happen with the limits above; never loop
        out += "=?";
        out += charset;
        out += "?B?";
        out += base64(value.substr(start, end - start), 0);
        out += "?=";
        start = end;
        if (start < value.size()) {
            out += "\n ";
            prefix = 1;
        }
    }
    out += '\n';
    return out;
}

// One line of quoted-printable without its break; `out` ends at a line start.
void appendQuotedLine(std::string& out, std::string_view line) {
    std::size_t column = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        const auto byte = static_cast<unsigned char>(c);
        const bool last = i + 1 == line.size();
        bool literal = (byte > 0x20 && byte < 0x7F && c != '=') || (c == ' ' && !last);
        const std::size_t width = literal ? 1 : 3;
        // The last character may take column 76; any other leaves room for "=".
        if (column + width > (last ? 76u : 75u)) {
            out += "=\n";
            column = 0;
        }
        if (column == 0 && line.substr(i).starts_with("From "))
            literal = false;
        if (literal) {
            out += c;
            ++column;
        } else {
            out += '=';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
            column += 3;
        }
    }
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
        if (!isContinuation(byte(i)))
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

std::string_view charsetOf(std::string_view text) {
    return isValidUtf8(text) ? "utf-8" : "windows-1252";
}

std::string base64(std::string_view bytes, std::size_t lineLength) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    const std::size_t chars = (bytes.size() + 2) / 3 * 4;
    out.reserve(chars + (lineLength == 0 ? 0 : chars / lineLength + 1));
    std::size_t column = 0;
    const auto put = [&](char c) {
        out += c;
        if (lineLength != 0 && ++column == lineLength) {
            out += '\n';
            column = 0;
        }
    };
    const auto at = [&](std::size_t i) {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
    };
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned group = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
        put(kAlphabet[group >> 18 & 63]);
        put(kAlphabet[group >> 12 & 63]);
        put(i + 1 < bytes.size() ? kAlphabet[group >> 6 & 63] : '=');
        put(i + 2 < bytes.size() ? kAlphabet[group & 63] : '=');
    }
    if (column != 0)
        out += '\n';
    return out;
}

std::string quotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(start, end - start);
        if (lf != std::string_view::npos && line.ends_with('\r'))
            line.remove_suffix(1);
        appendQuotedLine(out, line);
        if (lf == std::string_view::npos)
            break;
        out += '\n';
        start = lf + 1;
    }
    return out;
}

std::string headerField(std::string_view name, std::string_view value, bool encodedWords) {
    const std::string text = escapedControls(value);
    const bool ascii = std::none_of(text.begin(), text.end(),
                                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (ascii || !encodedWords)
        return foldedField(name, text);
    return encodedField(name, text);
}

}  // namespace fennick
