// The page over an arbitrary out1.txt, compared byte for byte with the page
// the rules describe, up to the failing line when there is one.
#include <chrono>
#include <cstdint>
#include <string_view>

#include "common/failure.h"
#include "run/report_file.h"
#include "support/expected.h"
#include "support/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fennick;
    using namespace fennick::fuzz;
    using namespace std::chrono;
    constexpr Window kWindow{1699920000, 1700006400};
    constexpr year_month_day kToday{2026y / 12 / 6};
    const std::string_view table(reinterpret_cast<const char*>(data), size);
    clearScratch();
    putFile("out1.txt", table);

    const PageResult expected = expectPage(table, kWindow, kToday);
    Ending ending;
    try {
        const auto path = writeReportFile(scratchDir(), kWindow, kToday).page;
        expectSame("page path", (scratchDir() / expected.name).string(), path.string());
    } catch (const Failure& failure) {
        ending = Ending::of(failure);
    }
    expectSame("how the page ended", describe(expected.ending), describe(ending));
    expectSame(expected.name, expected.page, fileBytes(expected.name).value_or("<missing>"));
    return 0;
}
