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

TEST(Fields, FromEndCountsBackFromTheLastField) {
    Fields fields;
    fields.split("a,b,c");
    EXPECT_EQ(fields.fromEnd(0), "c");
    EXPECT_EQ(fields.fromEnd(1), "b");
    EXPECT_EQ(fields.fromEnd(2), "a");
    const auto beyond = failureOf([&] { fields.fromEnd(3); });
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->kind(), FailureKind::SubscriptOutOfRange);

    fields.split("a,");
    EXPECT_EQ(fields.fromEnd(0), "");
    EXPECT_EQ(fields.fromEnd(1), "a");

    fields.split("");
    const auto empty = failureOf([&] { fields.fromEnd(0); });
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->kind(), FailureKind::SubscriptOutOfRange);
}

TEST(Fields, ReusedObjectKeepsNothingOfTheWiderLineBefore) {
    Fields fields;
    fields.split("a,b,c,d,e");
    fields.split("x,y");
    EXPECT_EQ(fieldsOf(fields), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(fields.fromEnd(0), "y");
    fields.split("");
    EXPECT_EQ(fields.size(), 0u);
}

TEST(Fields, OtherSeparatorSplitsOnlyAtThatCharacter) {
    Fields fields;
    fields.split("RL03=1 month,x=y", '=');
    EXPECT_EQ(fieldsOf(fields), (std::vector<std::string>{"RL03", "1 month,x", "y"}));
}

}  // namespace
}  // namespace fennick
