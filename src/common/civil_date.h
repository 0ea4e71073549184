// Own day arithmetic, last day kept: with year_month_day a month's run takes ~5-7 % longer.
#pragma once

#include <string>

namespace fennick {

// Appends "MM/DD/YYYY HH:mm:ss", or "MM/DD/YYYY" alone at exactly midnight,
// for `count` seconds since 1970-01-01 00:00:00 of the same zone. The caller
// has checked that the date lies in the years 100 to 9999.
void appendCivilText(std::string& out, long long count);

}  // namespace fennick
