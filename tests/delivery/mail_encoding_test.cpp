#include "delivery/mail_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fennick::test {

// Decoders written from RFC 2045 alone, for reading back what the encoders
// wrote; mail_message_test.cpp uses them too.
std::string decodeBase64(std::string_view text) {
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned group = 0;
    int bits = 0;
    for (const char c : text) {
        const std::size_t value = kAlphabet.find(c);
        if (value == std::string_view::npos)
            continue;  // line ends and padding
        group = group << 6 | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(group >> bits & 0xFF);
        }
    }
    return out;
}

std::string decodeQuotedPrintable(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;  // soft break
        } else {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        lines.push_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

namespace {

std::string allBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

TEST(Utf8, ValidatorTellsWellFormedFromEveryKindOfMalformed) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"ASCII", "Policy_A,client01", true},
        {"two bytes", "caf\xC3\xA9", true},
        {"three bytes", "\xE2\x82\xAC 5", true},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
        {"U+D7FF below the surrogates", "\xED\x9F\xBF", true},
        {"U+E000 above the surrogates", "\xEE\x80\x80", true},
        {"windows-1252 e acute", "caf\xE9", false},
        {"lone continuation", "a\x80z", false},
        {"overlong two bytes", "\xC0\xAF", false},
        {"overlong C1", "\xC1\xBF", false},
        {"overlong three bytes", "\xE0\x80\xAF", false},
        {"overlong four bytes", "\xF0\x80\x80\xAF", false},
        {"high surrogate", "\xED\xA0\x80", false},
        {"low surrogate", "\xED\xBF\xBF", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"FF byte", "\xFF", false},
        {"truncated at the end", "ok \xE2\x82", false},
        {"truncated before ASCII", "\xE2\x82x", false},
        {"four bytes cut to three", "\xF0\x9F\x98", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
        EXPECT_EQ(charsetOf(c.bytes), c.valid ? "utf-8" : "windows-1252");
    }
}

TEST(Base64, ReadsBackAndKeepsItsLines) {
    const std::string inputs[] = {
        "", "f", "fo", "foo", "foob", "fooba", "foobar", allBytes(), std::string(1000, '\xE9')};
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.size());
        const std::string text = base64(input);
        EXPECT_EQ(decodeBase64(text), input);
        for (const std::string_view line : linesOf(text))
            EXPECT_LE(line.size(), 76u);
        EXPECT_EQ(text.find("=_"), std::string::npos);
        const std::string oneLine = base64(input, 0);
        EXPECT_EQ(oneLine.find('\n'), std::string::npos);
        EXPECT_EQ(oneLine.size() % 4, 0u);
        EXPECT_EQ(decodeBase64(oneLine), input);
    }
    EXPECT_EQ(base64("foobar", 0), "Zm9vYmFy");  // RFC 4648's own example
}

TEST(QuotedPrintable, ReadsBackWithinTheLineRules) {
    struct Case {
        const char* name;
        std::string input;
        std::string decoded;  // the input with CR LF as LF
    };
    const Case cases[] = {
        {"plain line", "Failed jobs:\n", "Failed jobs:\n"},
        {"CR LF ends", "a\r\nb\r\n", "a\nb\n"},
        {"no final line end", "a\nb", "a\nb"},
        {"equals signs", "a=b ==\n", "a=b ==\n"},
        {"8-bit and controls", "caf\xE9\t\x01\x7F\rx\n", "caf\xE9\t\x01\x7F\rx\n"},
        {"trailing blanks", "end  \nnext\t\n", "end  \nnext\t\n"},
        {"76 characters", std::string(76, 'a') + "\n", std::string(76, 'a') + "\n"},
        {"77 characters", std::string(77, 'a') + "\n", std::string(77, 'a') + "\n"},
        {"long line", std::string(500, 'x'), std::string(500, 'x')},
        {"long line of escapes", std::string(100, '='), std::string(100, '=')},
        {"blank before a soft break", std::string(74, 'a') + "  b" + std::string(80, ' ') + "\n",
         std::string(74, 'a') + "  b" + std::string(80, ' ') + "\n"},
        {"From at a line start", "x\nFrom here\n", "x\nFrom here\n"},
        {"every byte", allBytes(), allBytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = quotedPrintable(c.input);
        EXPECT_EQ(decodeQuotedPrintable(text), c.decoded);
        for (const std::string_view line : linesOf(text)) {
            EXPECT_LE(line.size(), 76u) << line;
            if (!line.empty()) {
                EXPECT_NE(line.back(), ' ') << line;
                EXPECT_NE(line.back(), '\t') << line;
                EXPECT_FALSE(line.starts_with("From ")) << line;
            }
            for (const char c : line) {
                const auto byte = static_cast<unsigned char>(c);
                EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << static_cast<int>(byte);
            }
        }
        // A boundary "=_..." cannot be found in any part.
        EXPECT_EQ(text.find("=_"), std::string::npos);
    }
}

// The value of a header field as a reader unfolds and decodes it (folds
// removed, encoded words decoded, the blanks between them dropped), and the
// charset of its encoded words, each checked to hold whole characters.
std::pair<std::string, std::string> readField(std::string_view field) {
    std::string value;
    for (const std::string_view line : linesOf(field))
        value += line;
    value.erase(0, value.find(": ") + 2);
    if (!value.starts_with("=?"))
        return {value, ""};
    std::string decoded, charset;
    for (std::size_t at = 0; (at = value.find("=?", at)) != std::string::npos;) {
        const std::size_t text = value.find("?B?", at) + 3;
        const std::size_t end = value.find("?=", text);
        charset = value.substr(at + 2, text - 3 - at - 2);
        const std::string word = decodeBase64(value.substr(text, end - text));
        EXPECT_TRUE(charset != "utf-8" || isValidUtf8(word)) << word;
        decoded += word;
        at = end + 2;
    }
    return {decoded, charset};
}

std::string repeated(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

TEST(HeaderField, FoldsEncodesAndEscapesSoThatTheValueReadsBackOnOneField) {
    struct Case {
        const char* name;
        std::string value;
        std::string read;     // what a reader gets back
        std::string charset;  // of the encoded words; empty for plain text
    };
    const std::string longAscii =
        "Backup Report FAILED: Type mismatch: bpdbjobs.txt line 12, field 8 is not a number "
        "(\"12a\") and a good many more words after it to need two folds at the least";
    const std::string utf8 = "FAILED: Politique \xC3\xA9t\xC3\xA9 " + std::string(60, 'x');
    const std::string wide =
        std::string(50, 'x') + repeated("\xE2\x82\xAC", 40) + repeated("\xF0\x9F\x98\x80", 30);
    const std::string cp1252 = "FAILED: caf\xE9 " + std::string(100, '\xE9');
    const std::string longWord = "x " + std::string(120, 'y') + " z";
    const Case cases[] = {
        {"short ASCII", "Backup Report 07-12-26: all 477 jobs",
         "Backup Report 07-12-26: all 477 jobs", ""},
        {"long ASCII", longAscii, longAscii, ""},
        {"word longer than a line", longWord, longWord, ""},
        {"UTF-8", utf8, utf8, "utf-8"},
        {"UTF-8 characters across words", wide, wide, "utf-8"},
        {"windows-1252", cp1252, cp1252, "windows-1252"},
        {"CR LF and a header", "boom\r\nBcc: x@example.org", "boom\\r\\nBcc: x@example.org", ""},
        {"LF, CR and other controls", "a\nBcc: x\rb\x01", "a\\nBcc: x\\rb\\x01", ""},
        {"controls in 8-bit text", "caf\xE9\r\nBcc: x", "caf\xE9\\r\\nBcc: x", "windows-1252"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string field = headerField("Subject", c.value);
        ASSERT_TRUE(field.starts_with("Subject: ") && field.ends_with('\n'));
        EXPECT_EQ(field.find('\r'), std::string::npos);
        const auto lines = linesOf(field);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            // Only a word longer than a line may pass 78 characters.
            EXPECT_TRUE(lines[i].size() <= (c.charset.empty() ? 78u : 76u) || c.value == longWord)
                << lines[i];
            EXPECT_TRUE(i == 0 || lines[i].starts_with(' ')) << lines[i];
            EXPECT_NE(lines[i].find_first_not_of(" \t"), std::string_view::npos);
        }
        EXPECT_EQ(readField(field), std::make_pair(c.read, c.charset));
    }
}

}  // namespace
}  // namespace fennick::test
