// Adds where a failure happened as it passes: the helpers that raise one know
// the text they looked at, their callers know the file, line and field.
#pragma once

#include <cstddef>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "common/failure.h"

namespace fennick {

namespace detail {
// A line or field given as a number, or as a function that works it out only
// when a failure needs it (a field counted from a long line's end, the line a
// reader has reached by then).
template <typename Place>
long placeOf(const Place& place) {
    if constexpr (std::is_invocable_v<const Place&>)
        return static_cast<long>(place());
    else
        return static_cast<long>(place);
}
}  // namespace detail

// Runs `work`; a Failure leaving it gets the parts of this location that it
// does not carry yet. Memory that runs out on the way (a line so long that
// its output cannot be held) becomes "out of memory" at this location too,
// rather than a bare std::bad_alloc that names nothing.
template <typename Line, typename Field, typename Work>
decltype(auto) located(std::string_view file, const Line& line, const Field& field, Work&& work) {
    try {
        return std::forward<Work>(work)();
    } catch (Failure& failure) {
        failure.at(file, detail::placeOf(line), detail::placeOf(field));
        throw;
    } catch (const std::bad_alloc&) {
        throw Failure(FailureKind::OutOfMemory, "cannot be held in the memory available")
            .at(file, detail::placeOf(line), detail::placeOf(field));
    }
}

// The field alone; the file and line are added further up.
template <typename Field, typename Work>
decltype(auto) inField(const Field& field, Work&& work) {
    return located({}, Failure::kNoLine, field, std::forward<Work>(work));
}

}  // namespace fennick
