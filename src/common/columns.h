// Where each fact stands in the lines of the dump, of out.txt and of out1.txt.
#pragma once

#include <cstddef>
#include <string_view>

namespace fennick {

// Fields of a bpdbjobs.txt line, counted from 0.
namespace dump {
inline constexpr std::size_t kJobId = 0;
// Not interpreted: only the jobs written to out2.txt (neither marked nor
// flagged) carry it, as out2.txt's second column.
inline constexpr std::size_t kOtherJobField = 1;
inline constexpr std::size_t kStatus = 3;
inline constexpr std::size_t kPolicy = 4;
inline constexpr std::size_t kSchedule = 5;
inline constexpr std::size_t kClient = 6;  // 4, 5 and 6 stand side by side
inline constexpr std::size_t kStart = 8;
inline constexpr std::size_t kElapsed = 9;
inline constexpr std::size_t kEnd = 10;
// A job without a routing mark goes to out.txt when this field holds any
// text, a blank included, and to out2.txt when it is empty.
inline constexpr std::size_t kPageFlag = 11;
inline constexpr std::size_t kKilobytes = 14;
inline constexpr std::size_t kFiles = 15;  // 14 and 15 stand side by side
inline constexpr std::size_t kScheduleType = 22;
inline constexpr std::size_t kRetention = 27;

// Fields counted back from the last one: their place moves with the line's
// length (0 is the last field). A routing mark of 1 sends a job to out.txt,
// any other mark to no file; a job without a mark that is sent to out.txt by
// its page flag has its transfer rate two fields further back.
inline constexpr std::size_t kRoutingMarkFromEnd = 19;
inline constexpr std::size_t kTransferRateFromEnd = 20;
inline constexpr std::size_t kFlaggedTransferRateFromEnd = 22;
}  // namespace dump

// Columns of out.txt, and of a job line of out1.txt, which keeps them in the
// same places with three of them turned into text. out2.txt is the out.txt
// layout with the dump's field 1 inserted second.
namespace column {
inline constexpr std::size_t kPolicy = 0;
inline constexpr std::size_t kSchedule = 1;
inline constexpr std::size_t kClient = 2;
inline constexpr std::size_t kStart = 3;
inline constexpr std::size_t kEnd = 4;
inline constexpr std::size_t kElapsed = 5;
inline constexpr std::size_t kKilobytes = 6;
inline constexpr std::size_t kFiles = 7;
inline constexpr std::size_t kRetention = 8;
inline constexpr std::size_t kStatus = 9;
inline constexpr std::size_t kTransferRate = 10;
inline constexpr std::size_t kJobId = 11;
inline constexpr std::size_t kScheduleType = 12;
inline constexpr std::size_t kCount = 13;

// A not-found line of out1.txt: the policy name, then kNotFound here.
inline constexpr std::size_t kNotFoundMark = 1;
}  // namespace column

// The daily table's text for a policy without jobs; the page gives a field
// of exactly this text its own cell.
inline constexpr std::string_view kNotFound = "Not Found";

}  // namespace fennick
