// Duration text of the Elapsed Time column.
#pragma once

#include <cstdint>
#include <string>

namespace fennick {

// Hours (floor, unpadded), ":", two-digit minutes, ".", two-digit seconds
// part with the sign of the argument: 3661 gives "1:01.01", -1 "-1:59.-01".
// Defined for every 32-bit argument.
std::string TimeString(std::int32_t seconds);

}  // namespace fennick
