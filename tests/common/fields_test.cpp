#include "common/fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/failure.h"
#include "common/failure_of.h"

namespace fennick {
namespace {

using test::failureOf;

std::vector<std::string> fieldsOf(const Fields& fields) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        out.emplace_back(fields.at(i));
    return out;
}

TEST(Fields, SplitsAtEveryCommaWithoutTrimmingOrQuoting) {
    struct Case {
        const char* line;
        std::vector<std::string> fields;
    };
    const Case cases[] = {
        {"", {}},  // an empty line has no fields, not one empty field
        {"a", {"a"}},
        {" ", {" "}},
        {",", {"", ""}},
        {",,", {"", "", ""}},
        {"a,", {"a", ""}},
        {",a", {"", "a"}},
        {"a,,b", {"a", "", "b"}},
        {"1,2,3", {"1", "2", "3"}},
        {" a , b ", {" a ", " b "}},
        {"\"a,b\"", {"\"a", "b\""}},
        {"a;b\tc", {"a;b\tc"}},
    };
    Fields fields;
    for (const Case& c : cases) {
        fields.split(c.line);
        EXPECT_EQ(fieldsOf(fields), c.fields) << '"' << c.line << '"';
    }
}

TEST(Fields, EmptyLineHasNoFieldZero) {
    Fields fields;
    fields.split("");
    EXPECT_EQ(fields.size(), 0u);
    const auto failure = failureOf([&] { fields.at(0); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::SubscriptOutOfRange);
    EXPECT_EQ(failure->field(), 0);
}

TEST(Fields, IndexPastLastFieldFailsNamingTheIndex) {
    Fields fields;
    fields.split("a,b,c");
    EXPECT_EQ(fields.at(2), "c");
    for (std::size_t index : {3u, 4u, 27u}) {
        const auto failure = failureOf([&] { fields.at(index); });
        ASSERT_TRUE(failure) << index;
        EXPECT_EQ(failure->kind(), FailureKind::SubscriptOutOfRange);
        EXPECT_EQ(failure->field(), static_cast<long>(index));
    }
}

TEST(Fields, ReusedObjectKeepsNothingOfTheWiderLineBefore) {
    Fields fields;
    fields.split("a,b,c,d,e");
    fields.split("x,y");
    EXPECT_EQ(fieldsOf(fields), (std::vector<std::string>{"x", "y"}));
    fields.split("");
    EXPECT_EQ(fields.size(), 0u);
}

TEST(Fields, OtherSeparatorSplitsOnlyAtThatCharacter) {
    Fields fields;
    fields.split("RL03=1 month,x=y", '=');
    EXPECT_EQ(fieldsOf(fields), (std::vector<std::string>{"RL03", "1 month,x", "y"}));
}

// Lines around the eight-byte steps of the splitter: commas at every offset,
// runs of empty fields, long fields, bytes with the high bit set.
std::vector<std::string> awkwardLines() {
    std::vector<std::string> lines = {"", ",", "a", ",,,,,,,,,,,,,,,,,", "\xac,\x2c\xff,\xac\xac"};
    for (std::size_t length = 1; length <= 40; ++length) {
        std::string line(length, 'x');
        for (std::size_t comma = 0; comma < length; comma += 1 + length % 5)
            line[comma] = ',';
        lines.push_back(line);
    }
    std::string wide;
    for (int field = 0; field < 300; ++field) {
        if (field > 0)
            wide += ',';
        wide += std::string(static_cast<std::size_t>(field * 7 % 23),
                            static_cast<char>('a' + field % 26));
    }
    lines.push_back(wide);
    return lines;
}

TEST(Fields, SplitMatchesAPlainSearchAtEveryOffset) {
    Fields fields;
    for (const std::string& line : awkwardLines()) {
        std::vector<std::string> expected;
        if (!line.empty()) {
            std::size_t start = 0;
            for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos;
                 start = comma + 1)
                expected.push_back(line.substr(start, comma - start));
            expected.push_back(line.substr(start));
        }
        fields.split(line);
        EXPECT_EQ(fieldsOf(fields), expected) << '"' << line << '"';
    }
}

TEST(EdgeFields, GivesTheSameFieldsAndFailuresAsASplitOfTheWholeLine) {
    Fields whole;
    EdgeFields edges;
    for (const std::string& line : awkwardLines()) {
        for (const std::size_t front : {0u, 1u, 3u, 9u, 28u}) {
            SCOPED_TRACE('"' + line + "\" front " + std::to_string(front));
            whole.split(line);
            edges.split(line, front);
            // The back first, then the count: the count must not depend on
            // what was split before.
            const std::size_t size = whole.size();
            const std::string count =
                "the line has " + std::to_string(size) + (size == 1 ? " field" : " fields");
            for (std::size_t back = 0; back <= size + 1; ++back) {
                const auto got = failureOf([&] { edges.fromEnd(back); });
                if (back < size) {
                    ASSERT_FALSE(got) << back << ": " << got->what();
                    EXPECT_EQ(edges.fromEnd(back), whole[size - 1 - back]) << back;
                } else {
                    ASSERT_TRUE(got) << back;
                    EXPECT_EQ(got->kind(), FailureKind::SubscriptOutOfRange);
                    EXPECT_TRUE(got->detail().ends_with(count)) << got->what();
                }
            }
            EXPECT_EQ(edges.size(), whole.size());
            for (std::size_t index = 0; index < front; ++index) {
                const auto expected = failureOf([&] { whole.at(index); });
                const auto got = failureOf([&] { edges.at(index); });
                ASSERT_EQ(expected.has_value(), got.has_value()) << index;
                if (expected) {
                    EXPECT_EQ(got->what(), std::string(expected->what()));
                    EXPECT_EQ(got->field(), expected->field());
                } else {
                    EXPECT_EQ(edges.at(index), whole.at(index));
                }
            }
        }
    }
}

TEST(EdgeFields, CountsTheMiddleWithoutSplittingTheBack) {
    EdgeFields edges;
    edges.split("a,b,c,d,e,f,g", 2);
    EXPECT_EQ(edges.size(), 7u);
    EXPECT_EQ(edges.fromEnd(1), "f");
    EXPECT_EQ(edges.size(), 7u);
    EXPECT_EQ(edges.fromEnd(4), "c");  // splits further back after a count
    EXPECT_EQ(edges.fromEnd(6), "a");  // from the front
}

TEST(EdgeFields, FieldBeyondTheFrontOfALongerLineIsNotGuessed) {
    EdgeFields edges;
    edges.split("a,b,c,d", 2);
    const auto failure = failureOf([&] { edges.at(2); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::InvalidArgument);
    EXPECT_EQ(failure->field(), 2);
}

TEST(FieldRun, SpansNeighbouringFieldsWithTheirSeparators) {
    Fields fields;
    fields.split("a,bb,,ccc,d");
    EXPECT_EQ(fieldRun(fields[1], fields[3]), "bb,,ccc");
    EXPECT_EQ(fieldRun(fields[2], fields[2]), "");
    EXPECT_EQ(fieldRun(fields[0], fields[4]), "a,bb,,ccc,d");
}

}  // namespace
}  // namespace fennick
