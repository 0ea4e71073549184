// The dump's 8-bit text on its way into the mail and the JSON: what is
// UTF-8, what is read as windows-1252, and what a reader is shown.
#include "delivery/text_encoding.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace fennick {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD
const std::string kEllipsis = "\xE2\x80\xA6";     // "…"

// Each UTF-8 rule at its edge: the first and last value a length may hold,
// and the forms just past them that decoders must refuse.
TEST(TextEncoding, ASequenceIsWholeAndShortestOrNotOne) {
    struct Case {
        std::string text;
        std::size_t at;
        std::size_t length;  // 0: not a sequence
    };
    const Case cases[] = {
        {"A", 0, 1},
        {"\xC2\x80", 0, 2},  // U+0080
        {"\xDF\xBF", 0, 2},  // U+07FF
        {"\xE0\xA0\x80", 0, 3},
        {"\xED\x9F\xBF", 0, 3},  // U+D7FF, the last before the surrogates
        {"\xEE\x80\x80", 0, 3},  // U+E000, the first after them
        {"\xF0\x90\x80\x80", 0, 4},
        {"\xF4\x8F\xBF\xBF", 0, 4},  // U+10FFFF
        // Overlong forms of U+0000, of the largest two- and three-byte values.
        {"\xC0\x80", 0, 0},
        {"\xC1\xBF", 0, 0},
        {"\xE0\x80\x80", 0, 0},
        {"\xE0\x9F\xBF", 0, 0},
        {"\xF0\x80\x80\x80", 0, 0},
        {"\xF0\x8F\xBF\xBF", 0, 0},
        // Surrogates, U+D800 and U+DFFF.
        {"\xED\xA0\x80", 0, 0},
        {"\xED\xBF\xBF", 0, 0},
        // Above U+10FFFF, and leads that no sequence has.
        {"\xF4\x90\x80\x80", 0, 0},
        {"\xF5\x80\x80\x80", 0, 0},
        {"\xFF", 0, 0},
        // Cut off by the end of the text.
        {"\xC3", 0, 0},
        {"\xE2\x82", 0, 0},
        {"\xF0\x9F\x98", 0, 0},
        {"ab\xE2\x82", 2, 0},
        // A later byte that does not continue (0x41 is "A").
        {"\xC3\x41", 0, 0},
        {"\xE2\x82\x41", 0, 0},
        {"\xF0\x9F\x98\x41", 0, 0},
        {"\xE2\xC3\xA9", 0, 0},
        // Stray continuation bytes, alone and after a whole character.
        {"\x80", 0, 0},
        {"\xBF", 0, 0},
        {"\xC3\xA9\xA9", 2, 0},
        {"a\xC3\xA9", 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " at " + std::to_string(c.at));
        EXPECT_EQ(utf8SequenceLength(c.text, c.at), c.length);
        // Text is UTF-8 when it is sequences from its start to its end.
        if (c.at == 0) {
            EXPECT_EQ(isValidUtf8(c.text), c.length == c.text.size());
        }
    }
    // A field is a view into its line: a sequence cut off by the view's end
    // is cut off, however the bytes after it go on.
    for (const std::string_view whole : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        for (std::size_t size = 1; size < whole.size(); ++size) {
            SCOPED_TRACE(testing::PrintToString(std::string(whole)) + " cut to " +
                         std::to_string(size));
            EXPECT_EQ(utf8SequenceLength(whole.substr(0, size), 0), 0u);
            EXPECT_FALSE(isValidUtf8(whole.substr(0, size)));
        }
    }
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("J\xC3\xB6rg \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("J\xC3\xB6rg \xE2\x82"));
}

TEST(TextEncoding, TextThatIsNotUtf8IsReadWholeAsWindows1252) {
    struct Case {
        std::string text;
        std::string utf8;
    };
    const Case cases[] = {
        {"", ""},
        {"plain ASCII", "plain ASCII"},
        {"J\xC3\xB6rg", "J\xC3\xB6rg"},  // already UTF-8: kept as it is
        {"Pol\xE9", "Pol\xC3\xA9"},
        {"\x80", "\xE2\x82\xAC"},  // the euro sign
        {"\x9F", "\xC5\xB8"},      // "Ÿ"
        {"\xA0\xFF", "\xC2\xA0\xC3\xBF"},
        // One byte that is not UTF-8 makes the whole text windows-1252, so
        // that a field is never read half one way, half the other.
        {"\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"},
        // Refused UTF-8 forms are windows-1252 letters too.
        {"\xC0\x80", "\xC3\x80\xE2\x82\xAC"},
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        {"\xF4\x90\x80\x80", "\xC3\xB4" + kReplacement + "\xE2\x82\xAC\xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(asUtf8(c.text), c.utf8);
    }
}

// Every byte alone gives a character of UTF-8; windows-1252 has none for
// five of them, which become U+FFFD and nothing else does.
TEST(TextEncoding, EveryByteBecomesOneCharacterAndTheFiveUnassignedOnesU_FFFD) {
    const std::set<int> unassigned{0x81, 0x8D, 0x8F, 0x90, 0x9D};
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        SCOPED_TRACE(byte);
        const std::string utf8 = asUtf8(std::string(1, static_cast<char>(byte)));
        EXPECT_TRUE(isValidUtf8(utf8));
        EXPECT_EQ(utf8SequenceLength(utf8, 0), utf8.size());  // one character
        EXPECT_EQ(utf8 == kReplacement, unassigned.contains(byte));
    }
}

TEST(TextEncoding, ShownTextHasAPictureForEachControlAndIsCutBetweenCharacters) {
    struct Case {
        std::string text;
        std::size_t most;
        std::string shown;
    };
    constexpr std::size_t all = std::string_view::npos;
    const Case cases[] = {
        {"plain", all, "plain"},
        {std::string(1, '\0'), all, "\xE2\x90\x80"},  // U+2400
        {"\t", all, "\xE2\x90\x89"},
        {"\n", all, "\xE2\x90\x8A"},
        {"a\r-", all, "a\xE2\x90\x8D-"},
        {"\x1B[31m", all, "\xE2\x90\x9B[31m"},
        {"\x1F", all, "\xE2\x90\x9F"},
        {"\x7F", all, "\xE2\x90\xA1"},  // DEL's picture
        // C1 controls of UTF-8 text have no picture; the no-break space
        // after them is a character of its own.
        {"\xC2\x80\xC2\x85\xC2\x9F\xC2\xA0", all,
         kReplacement + kReplacement + kReplacement + "\xC2\xA0"},
        // In windows-1252 the same bytes are letters, and controls still get
        // their pictures.
        {"\xE9\r\x85", all, "\xC3\xA9\xE2\x90\x8D\xE2\x80\xA6"},
        {"\x81", all, kReplacement},
        // Cut to at most `most` bytes, where a character ends, then "…".
        {"abc", 3, "abc"},
        {"abcd", 3, "abc" + kEllipsis},
        {"ab\xC3\xA9", 3, "ab" + kEllipsis},
        {"ab\xC3\xA9", 4, "ab\xC3\xA9"},
        {"a\xF0\x9F\x98\x80z", 4, "a" + kEllipsis},
        {"\xE9\xE9", 3, "\xC3\xA9" + kEllipsis},  // windows-1252, two bytes each
        {"\r\r", 3, "\xE2\x90\x8D" + kEllipsis},  // a picture is three bytes
        {"\r", 2, kEllipsis},
        {"a", 0, kEllipsis},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " to " + std::to_string(c.most));
        const std::string shown = shownUtf8(c.text, c.most);
        EXPECT_EQ(shown, c.shown);
        EXPECT_TRUE(isValidUtf8(shown));
    }
}

}  // namespace
}  // namespace fennick
