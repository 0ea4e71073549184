// The page over an arbitrary out1.txt, compared byte for byte with the page
// the rules describe. A page of the same day is already there: a failing
// step must leave it as it was and no temporary page behind.
#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "common/file_names.h"
#include "run/report_file.h"
#include "support/expected.h"
#include "support/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fennick;
    using namespace fennick::fuzz;
    using namespace std::chrono;
    constexpr Window kWindow{1699920000, 1700006400};
    constexpr year_month_day kToday{2026y / 12 / 6};
    constexpr std::string_view kEarlier = "<html>the earlier page</html>\r\n";
    const std::string_view table(reinterpret_cast<const char*>(data), size);
    const PageResult expected = expectPage(table, kWindow, kToday);
    clearScratch();
    putFile(kTableFile, table);
    putFile(expected.name, kEarlier);

    Ending ending;
    try {
        const auto path = writeReportFile(scratchDir(), kWindow, kToday).page;
        expectSame("page path", (scratchDir() / expected.name).string(), path.string());
    } catch (const Failure& failure) {
        ending = Ending::of(failure);
    }
    expectSame("how the page ended", describe(expected.ending), describe(ending));
    expectSame(expected.name, expected.page.value_or(std::string(kEarlier)),
               fileBytes(expected.name).value_or("<missing>"));
    expect(scratchNames() == std::set<std::string>{std::string(kTableFile), expected.name},
           "the page step leaves no other file");
    return 0;
}
