#include "common/located.h"

#include <gtest/gtest.h>

#include <new>

#include "common/failure_of.h"

namespace fennick {
namespace {

using test::failureOf;

TEST(Located, PassesTheResultThroughAndComputesNoPlaceWithoutAFailure) {
    bool asked = false;
    const auto field = [&asked] {
        asked = true;
        return 3;
    };
    EXPECT_EQ(located("f.txt", 2, field, [] { return 42; }), 42);
    EXPECT_FALSE(asked) << "a field counted from a long line's end costs only on failure";
}

TEST(Located, FillsOnlyThePartsAFailureDoesNotCarryYet) {
    const auto inner = failureOf([] {
        located("out.txt", 7, Failure::kNoField, [] {
            inField(5, [] { throw Failure(FailureKind::TypeMismatch, "is not a number"); });
        });
    });
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->file(), "out.txt");
    EXPECT_EQ(inner->line(), 7);
    EXPECT_EQ(inner->field(), 5);
    EXPECT_STREQ(inner->what(), "Type mismatch: out.txt line 7, field 5 is not a number");

    // A location found deeper down wins over one added further up.
    const auto deeper = failureOf([] {
        located("outer.txt", 1, 1,
                [] { throw Failure(FailureKind::InputPastEnd, "x").at("inner.txt", 9, 2); });
    });
    ASSERT_TRUE(deeper);
    EXPECT_EQ(deeper->file(), "inner.txt");
    EXPECT_EQ(deeper->line(), 9);
    EXPECT_EQ(deeper->field(), 2);
}

TEST(Located, MemoryRunningOutIsOutOfMemoryAtThePlace) {
    const auto failure = failureOf([] {
        located(
            "bpdbjobs.txt", [] { return 12; }, Failure::kNoField, [] { throw std::bad_alloc(); });
    });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), FailureKind::OutOfMemory);
    EXPECT_EQ(failure->file(), "bpdbjobs.txt");
    EXPECT_EQ(failure->line(), 12);
    EXPECT_EQ(std::string(failure->what()).rfind("Out of memory: bpdbjobs.txt line 12 ", 0), 0u)
        << failure->what();
}

}  // namespace
}  // namespace fennick
