#include "pipeline/retention_labels.h"

#include <gtest/gtest.h>

#include "common/failure.h"
#include "common/failure_of.h"
#include "common/file_names.h"
#include "support/memory_stream.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

// The labels of a configuration text, read without a folder.
RetentionLabels labelsOf(std::string_view config) {
    std::string text(config);
    LineReader reader(test::readingFrom(text), kConfigFile);
    return readRetentionLabels(reader);
}

TEST(RetentionLabels, KeyLinesGiveTheSecondPieceUnchanged) {
    struct Case {
        const char* line;
        std::size_t level;
        const char* label;
    };
    const Case cases[] = {
        {"RL05=2 weeks", 5, "2 weeks"},
        {"RL05 = 2 weeks", 5, " 2 weeks"},
        {"RL05=", 5, ""},
        {"RL05=a=b", 5, "a"},
        {"RL050=x", 5, "x"},
        {"RL00=infinite", 0, "infinite"},
        {"RL28=last", 28, "last"},
        {"RL09=\xe9t\xe9 ", 9, "\xe9t\xe9 "},
    };
    for (const Case& c : cases) {
        const RetentionLabels labels = labelsOf(std::string(c.line) + "\r\n");
        EXPECT_EQ(labels[c.level], c.label) << c.line;
        for (std::size_t other = 0; other < labels.size(); ++other) {
            if (other != c.level) {
                EXPECT_EQ(labels[other], "") << c.line << " level " << other;
            }
        }
    }
}

TEST(RetentionLabels, LinesThatAreNoKeyAreIgnored) {
    // Lower case, level 29 and above, one-digit levels, a blank before the
    // key, comments, blank lines and lines too short for a key.
    const RetentionLabels labels =
        labelsOf("rl05=x\nRL29=x\nRL5=x\n RL05=x\n# comment\n\nRL\nRLab=x\nRL-1=x\nRL99=y\n");
    for (const std::string& label : labels)
        EXPECT_EQ(label, "");
}

TEST(RetentionLabels, LastLineForALevelWins) {
    const RetentionLabels labels = labelsOf("RL07=first\nRL08=eight\nRL07=second\n");
    EXPECT_EQ(labels[7], "second");
    EXPECT_EQ(labels[8], "eight");
}

TEST(RetentionLabels, EmptyFileLeavesEveryLabelEmpty) {
    for (const std::string& label : labelsOf(""))
        EXPECT_EQ(label, "");
}

TEST(RetentionLabels, MissingFileIsFileNotFound) {
    test::TempDir dir;
    try {
        readRetentionLabels(dir.path());
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::FileNotFound);
        EXPECT_EQ(failure.file(), kConfigFile);
    }
}

TEST(RetentionLabels, KeyLineWithoutEqualsIsSubscriptOutOfRange) {
    test::TempDir dir;
    dir.write(kConfigFile, "RL01=one\r\nRL02 two\r\n");
    try {
        readRetentionLabels(dir.path());
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::SubscriptOutOfRange);
        EXPECT_EQ(failure.file(), kConfigFile);
        EXPECT_EQ(failure.line(), 2);
        EXPECT_EQ(failure.field(), 1);
    }
}

// A comma in a label would split its column of out1.txt and move the status
// out of its place; the config, read first, is where that fails.
TEST(RetentionLabels, CommaInLabelFailsWhenConfigIsRead) {
    struct Case {
        const char* line;
        const char* label;  // as the message quotes it
    };
    const Case cases[] = {
        {"RL05=2 weeks, offsite", "\"2 weeks, offsite\""},
        {"RL05=,", "\",\""},
        {"RL050 =a,b=c", "\"a,b\""},
        {"RL28=\t,=x", "\"\\t,\""},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        dir.write(kConfigFile, std::string("RL01=one\r\n# a, b\r\n") + c.line + "\r\nRL02=two\r\n");
        const auto failure = test::failureOf([&] { readRetentionLabels(dir.path()); });
        ASSERT_TRUE(failure) << c.line;
        EXPECT_EQ(failure->kind(), FailureKind::InvalidArgument) << c.line;
        EXPECT_EQ(failure->file(), kConfigFile);
        EXPECT_EQ(failure->line(), 3) << c.line;
        EXPECT_EQ(std::string(failure->what()),
                  std::string("Invalid argument: fennick_config.txt line 3 has the label ") +
                      c.label + ": a label may not hold a comma");
    }
}

TEST(RetentionLabels, CommaOutsideAKeyLinesLabelIsAccepted) {
    // After the label's second "=", on lines that are no key, and in the
    // key's ignored characters before the first "=".
    const RetentionLabels labels =
        labelsOf("RL05=a=b,c\nrl06=x,y\nRL29=x,y\n# one, two\nRL07,=seven\n");
    EXPECT_EQ(labels[5], "a");
    EXPECT_EQ(labels[7], "seven");
    EXPECT_EQ(labels[6], "");
}

}  // namespace
}  // namespace fennick
