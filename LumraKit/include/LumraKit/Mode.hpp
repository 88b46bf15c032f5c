#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace LumraKit {

// A kind of sleep a claim holds off. `lid` is the system-wide sleep-disable
// flag; `idle` and `display` are power assertions.
enum class Mode { lid, idle, display };

// Every mode, in declaration order.
inline constexpr std::array<Mode, 3> allModes{Mode::lid, Mode::idle, Mode::display};

// "lid", "idle" or "display".
constexpr std::string_view rawValue(Mode mode) {
    switch (mode) {
    case Mode::lid: return "lid";
    case Mode::idle: return "idle";
    case Mode::display: return "display";
    }
    return "";
}

// The mode whose raw value is `text`; absent for any other text.
constexpr std::optional<Mode> modeNamed(std::string_view text) {
    for (Mode mode : allModes)
        if (rawValue(mode) == text) return mode;
    return std::nullopt;
}

} // namespace LumraKit
