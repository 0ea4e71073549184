// fennick-cli's own lines on its standard output and error. Neither may end
// the run (a reader that has gone) or hold it for ever (a reader that never
// reads): the metrics and the mail come after them.
#pragma once

#include <chrono>
#include <string_view>

namespace fennick::cli {

enum class Written { All, ReaderGone, NotInTime, Failed };

// Writes `text` to `fd`, waiting at most `wait` in all for room.
Written writeWithin(int fd, std::string_view text,
                    std::chrono::milliseconds wait = std::chrono::seconds(10));

// "fennick-cli: <note>" on standard error.
void printNote(std::string_view note);

// "fennick: <failure>", word for word what "fennick -q" prints.
void printFailureLine(std::string_view failure);

}  // namespace fennick::cli
