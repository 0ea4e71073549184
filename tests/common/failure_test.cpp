#include "common/failure.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/failure_of.h"
#include "common/fields.h"
#include "common/numbers.h"

namespace fennick {
namespace {

using test::failureOf;

TEST(Failure, MessageNamesKindThenFileLineFieldThenDetail) {
    const auto failure = failureOf([] {
        try {
            parseNumber("12a");
        } catch (Failure& f) {
            throw f.at("bpdbjobs.txt", 12, 8);
        }
    });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::TypeMismatch);
    EXPECT_STREQ(failure->what(),
                 "Type mismatch: bpdbjobs.txt line 12, field 8 is not a number (\"12a\")");
    EXPECT_EQ(failure->file(), "bpdbjobs.txt");
    EXPECT_EQ(failure->line(), 12);
    EXPECT_EQ(failure->field(), 8);
}

TEST(Failure, AtKeepsFieldSetByFieldsAndAddsFileAndLine) {
    Fields fields;
    fields.split("a,b");
    const auto failure = failureOf([&] {
        try {
            fields.at(9);
        } catch (Failure& f) {
            throw f.at("out.txt", 3, 5);  // 5 must not replace the 9 already known
        }
    });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::SubscriptOutOfRange);
    EXPECT_EQ(failure->file(), "out.txt");
    EXPECT_EQ(failure->line(), 3);
    EXPECT_EQ(failure->field(), 9);
    EXPECT_EQ(
        std::string(failure->what()).rfind("Subscript out of range: out.txt line 3, field 9 ", 0),
        0u)
        << failure->what();
}

TEST(Failure, SecondAtChangesNothingAlreadyKnown) {
    Failure failure(FailureKind::Overflow, "is too large");
    failure.at("first.txt", 4);
    failure.at("second.txt", 7, 2);
    EXPECT_EQ(failure.file(), "first.txt");
    EXPECT_EQ(failure.line(), 4);
    EXPECT_EQ(failure.field(), 2);  // the one part still unknown is filled
    EXPECT_STREQ(failure.what(), "Overflow: first.txt line 4, field 2 is too large");
}

TEST(Failure, MessageLeavesOutUnknownParts) {
    struct Case {
        const char* file;
        long line;
        long field;
        const char* message;
    };
    const Case cases[] = {
        {"", Failure::kNoLine, Failure::kNoField, "Overflow: is too large"},
        {"a.txt", Failure::kNoLine, Failure::kNoField, "Overflow: a.txt is too large"},
        {"a.txt", 1, Failure::kNoField, "Overflow: a.txt line 1 is too large"},
        {"a.txt", Failure::kNoLine, 0, "Overflow: a.txt field 0 is too large"},
        {"", Failure::kNoLine, 3, "Overflow: field 3 is too large"},
        {"", 2, Failure::kNoField, "Overflow: line 2 is too large"},
    };
    for (const Case& c : cases) {
        Failure failure(FailureKind::Overflow, "is too large");
        failure.at(c.file, c.line, c.field);
        EXPECT_STREQ(failure.what(), c.message);
    }
}

TEST(Failure, EveryKindHasItsOwnName) {
    const FailureKind kinds[] = {
        FailureKind::FileNotFound, FailureKind::InputPastEnd,  FailureKind::SubscriptOutOfRange,
        FailureKind::TypeMismatch, FailureKind::Overflow,      FailureKind::InvalidArgument,
        FailureKind::CannotCreate, FailureKind::IoError,       FailureKind::Busy,
        FailureKind::OutOfMemory,  FailureKind::CommandFailed,
    };
    std::set<std::string_view> names;
    for (FailureKind kind : kinds) {
        const std::string_view name = kindName(kind);
        EXPECT_NE(name, "Failure");
        names.insert(name);
        // The message starts with the kind's name even without detail or location.
        EXPECT_EQ(std::string(Failure(kind, "").what()), std::string(name) + ":");
    }
    EXPECT_EQ(names.size(), std::size(kinds));
}

TEST(QuotedText, EscapesControlBytesAndBackslashOnly) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        const char* shown;
    };
    const Case cases[] = {
        {"", "\"\""},
        {"12a", "\"12a\""},
        {" a \"b\" ", "\" a \"b\" \""},  // blanks and quotes stay as they are
        {"\t\r\n", "\"\\t\\r\\n\""},
        {"a\0b"s, "\"a\\x00b\""},
        {"\x01\x1b\x1f\x7f", "\"\\x01\\x1B\\x1F\\x7F\""},
        {"C:\\dump\\x00", "\"C:\\\\dump\\\\x00\""},        // a written "\x00" differs from a NUL
        {"\xe9t\xe9 \x80\xff", "\"\xe9t\xe9 \x80\xff\""},  // 8-bit text passes unchanged
    };
    for (const Case& c : cases)
        EXPECT_EQ(quotedText(c.text), c.shown) << c.shown;
}

// A UTF-16 dump holds a NUL after every ASCII byte: the message used to end
// at the first of them, right after the opening quote.
TEST(QuotedText, FailureOnUtf16FieldIsOneWholeLine) {
    using namespace std::string_literals;
    const auto failure = failureOf([] {
        try {
            parseNumber(
                "1\0"
                "7\0"
                "\r\0"s);
        } catch (Failure& f) {
            throw f.at("bpdbjobs.txt", 1, 8);
        }
    });
    ASSERT_TRUE(failure);
    EXPECT_STREQ(failure->what(),
                 "Type mismatch: bpdbjobs.txt line 1, field 8 is not a number "
                 "(\"1\\x007\\x00\\r\\x00\")");
}

TEST(Failure, IsCaughtAsStdExceptionWithTheFullMessage) {
    try {
        try {
            parseInt32("2147483648");
        } catch (Failure& f) {
            throw f.at("out.txt", 2, 5);
        }
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Overflow: out.txt line 2, field 5 ", 0), 0u)
            << e.what();
        return;
    }
    ADD_FAILURE() << "no exception";
}

}  // namespace
}  // namespace fennick
