// How a night's state is drawn wherever the nights are shown (the mail's
// grid, the history page): a sign that reads without colour, and a colour.
#pragma once

#include <string_view>

#include "pipeline/nights.h"

namespace fennick {

// "✓" ok, "!" partial, "✗" failed, "…" running, "·" none, "?" unknown.
std::string_view nightSign(NightState state);

// The cell's background, a CSS colour that stays legible with the sign in
// black or white (nightInk).
std::string_view nightColour(NightState state);
std::string_view nightInk(NightState state);

// The legend's words: "succeeded", "partly", "failed", "running", "no job",
// "not known".
std::string_view nightWords(NightState state);

// Every state, in the legend's order.
inline constexpr NightState kLegendStates[] = {NightState::Ok,     NightState::Partial,
                                               NightState::Failed, NightState::Running,
                                               NightState::None,   NightState::Unknown};

}  // namespace fennick
