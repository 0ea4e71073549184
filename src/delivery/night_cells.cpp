#include "delivery/night_cells.h"

namespace fennick {

std::string_view nightSign(NightState state) {
    switch (state) {
        case NightState::Ok:
            return "\xE2\x9C\x93";  // ✓
        case NightState::Partial:
            return "!";
        case NightState::Failed:
            return "\xE2\x9C\x97";  // ✗
        case NightState::Running:
            return "\xE2\x80\xA6";  // …
        case NightState::None:
            return "\xC2\xB7";  // ·
        case NightState::Unknown:
            return "?";
    }
    return "?";
}

std::string_view nightColour(NightState state) {
    switch (state) {
        case NightState::Ok:
            return "#2e7d32";
        case NightState::Partial:
            return "#f9a825";
        case NightState::Failed:
            return "#c62828";
        case NightState::Running:
            return "#1565c0";
        case NightState::None:
            return "#e0e0e0";
        case NightState::Unknown:
            return "#ffffff";
    }
    return "#ffffff";
}

std::string_view nightInk(NightState state) {
    switch (state) {
        case NightState::Ok:
        case NightState::Failed:
        case NightState::Running:
            return "#ffffff";
        case NightState::Partial:
        case NightState::None:
        case NightState::Unknown:
            return "#000000";
    }
    return "#000000";
}

std::string_view nightWords(NightState state) {
    switch (state) {
        case NightState::Ok:
            return "succeeded";
        case NightState::Partial:
            return "partly";
        case NightState::Failed:
            return "failed";
        case NightState::Running:
            return "running";
        case NightState::None:
            return "no job";
        case NightState::Unknown:
            return "not known";
    }
    return "not known";
}

}  // namespace fennick
