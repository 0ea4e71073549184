#include "delivery/mail_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fennick::test {

// Decoders written from RFC 2045 alone, for reading back what the encoders
// wrote; mail_message_test.cpp uses them too.
std::string decodeBase64(std::string_view text) {
    std::string out;
    unsigned group = 0;
    int bits = 0;
    for (const char c : text) {
        int value = -1;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == '+')
            value = 62;
        else if (c == '/')
            value = 63;
        if (value < 0)
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

// The value of a header field as a reader unfolds and decodes it: folds
// removed, encoded words decoded and the blanks between them dropped.
struct ReadField {
    std::string value;
    std::vector<std::string> charsets;
};

ReadField readField(std::string_view field, std::string_view name) {
    std::string unfolded;
    for (const std::string_view line : linesOf(field))
        unfolded += line;
    EXPECT_TRUE(unfolded.starts_with(std::string(name) + ": ")) << unfolded;
    const std::string_view value = std::string_view(unfolded).substr(name.size() + 2);
    ReadField read;
    if (!value.starts_with("=?")) {
        read.value = value;
        return read;
    }
    std::size_t at = 0;
    while ((at = value.find("=?", at)) != std::string_view::npos) {
        const std::size_t charsetEnd = value.find("?B?", at);
        const std::size_t end = value.find("?=", charsetEnd + 3);
        read.charsets.emplace_back(value.substr(at + 2, charsetEnd - at - 2));
        const std::string word = decodeBase64(value.substr(charsetEnd + 3, end - charsetEnd - 3));
        // RFC 2047: each word holds whole characters.
        if (read.charsets.back() == "utf-8") {
            EXPECT_TRUE(isValidUtf8(word));
        }
        read.value += word;
        at = end + 2;
    }
    return read;
}

std::string repeated(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

TEST(HeaderField, FoldsAndEncodesSoThatTheValueReadsBack) {
    struct Case {
        const char* name;
        std::string value;
        const char* charset;  // nullptr: plain text
    };
    const Case cases[] = {
        {"short ASCII", "Backup Report 07-12-26: all 477 jobs succeeded", nullptr},
        {"long ASCII",
         "Backup Report FAILED: Type mismatch: bpdbjobs.txt line 12, field 8 is not a number "
         "(\"12a\") and a good many more words after it to need two folds at the least",
         nullptr},
        {"word longer than a line", "x " + std::string(120, 'y') + " z", nullptr},
        {"UTF-8", "Backup Report FAILED: Politique \xC3\xA9t\xC3\xA9 " + std::string(60, 'x'),
         "utf-8"},
        {"UTF-8 characters across words",
         std::string(50, 'x') + repeated("\xE2\x82\xAC", 40) + repeated("\xF0\x9F\x98\x80", 30),
         "utf-8"},
        {"windows-1252", "Backup Report FAILED: caf\xE9 " + std::string(100, '\xE9'),
         "windows-1252"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string field = headerField("Subject", c.value);
        ASSERT_TRUE(field.ends_with('\n'));
        const auto lines = linesOf(field);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            // Only a word longer than a line may pass 78 characters.
            if (lines[i].find(std::string(120, 'y')) == std::string_view::npos) {
                EXPECT_LE(lines[i].size(), c.charset ? 76u : 78u) << lines[i];
            }
            if (i > 0) {
                EXPECT_TRUE(lines[i].starts_with(' ')) << lines[i];
            }
            EXPECT_NE(lines[i].find_first_not_of(" \t"), std::string_view::npos);
        }
        const ReadField read = readField(field, "Subject");
        EXPECT_EQ(read.value, c.value);
        for (const std::string& charset : read.charsets)
            EXPECT_EQ(charset, c.charset);
        EXPECT_EQ(read.charsets.empty(), c.charset == nullptr);
    }
}

TEST(HeaderField, ControlBytesCannotStartAHeaderOfTheirOwn) {
    struct Case {
        std::string value;
        std::string read;
    };
    const Case cases[] = {
        {"boom\r\nBcc: x@example.org", "boom\\r\\nBcc: x@example.org"},
        {"boom\nBcc: x", "boom\\nBcc: x"},
        {"boom\rBcc: x\x01", "boom\\rBcc: x\\x01"},
        {"caf\xE9\r\nBcc: x", "caf\xE9\\r\\nBcc: x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.read);
        const std::string field = headerField("Subject", c.value);
        const auto lines = linesOf(field);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_TRUE(lines[i].starts_with(' ')) << lines[i];
        }
        EXPECT_EQ(field.find('\r'), std::string::npos);
        EXPECT_EQ(readField(field, "Subject").value, c.read);
    }
}

}  // namespace
}  // namespace fennick::test
