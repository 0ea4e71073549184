#include "pipeline/status_codes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/file_names.h"
#include "support/temp_dir.h"

namespace fennick {
namespace {

TEST(StatusCodesTest, CodeEqualsTextLinesGiveMeaningsOthersAWarningEach) {
    struct Case {
        std::optional<std::string> text;  // none: no file
        decltype(StatusCodes::meanings) meanings;
        std::vector<std::string> warnings;
    };
    const std::string skipped = ": not CODE=text, skipped";
    const Case cases[] = {
        {std::nullopt, {}, {}},
        {"13=file read failed\r\n58=can't connect\n196=fen\xEAtre",
         {{"13", "file read failed"}, {"58", "can't connect"}, {"196", "fen\xEAtre"}},
         {}},
        {" 5=a\r\n05=b=c\r\n6=\r\n13=old\r\n13=new\r\n",
         {{" 5", "a"}, {"05", "b=c"}, {"6", ""}, {"13", "new"}},
         {}},
        {"13=ok\r\n\r\nno equals\r\n=text\r\n",
         {{"13", "ok"}},
         {"status_codes.txt line 2" + skipped, "status_codes.txt line 3" + skipped,
          "status_codes.txt line 4" + skipped}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.value_or("no file"));
        test::TempDir dir;
        if (c.text)
            dir.write(kStatusCodesFile, *c.text);
        const StatusCodes codes = readStatusCodes(dir.path());
        EXPECT_EQ(codes.meanings, c.meanings);
        EXPECT_EQ(codes.warnings, c.warnings);
    }
}

TEST(StatusCodesTest, FileThatCannotBeReadIsAWarning) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.file(kStatusCodesFile));
    const StatusCodes codes = readStatusCodes(dir.path());
    EXPECT_TRUE(codes.meanings.empty());
    ASSERT_EQ(codes.warnings.size(), 1U);
    EXPECT_NE(codes.warnings[0].find("status_codes.txt"), std::string::npos);
}

}  // namespace
}  // namespace fennick
