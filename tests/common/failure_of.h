// Runs an action that is expected to fail and hands back its Failure, so a
// test can look at the kind and location instead of only the type.
#pragma once

#include <optional>

#include "common/failure.h"

namespace fennick::test {

template <class Action>
std::optional<Failure> failureOf(Action&& action) {
    try {
        action();
    } catch (const Failure& failure) {
        return failure;
    }
    return std::nullopt;
}

}  // namespace fennick::test
