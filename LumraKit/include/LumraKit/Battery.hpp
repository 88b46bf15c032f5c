#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <vector>

namespace LumraKit {

// One reading of the power state.
struct PowerSnapshot {
    bool hasBattery = false;   // a power source with a description was found
    bool onAC = true;          // the source reports "AC Power"
    bool discharging = false;  // neither on AC power nor charging
    int percent = 100;         // current capacity × 100 ÷ maximum, truncated
    bool lowPowerMode = false; // the system's Low Power Mode is on

    friend bool operator==(const PowerSnapshot&, const PowerSnapshot&) = default;
};

// {"hasBattery":…,"onAC":…,"discharging":…,"percent":…,"lowPowerMode":…}.
nlohmann::json toJSON(const PowerSnapshot& snapshot);
// All five keys are required, with flags as booleans and the percent as an
// integer; extra keys are ignored. Throws DecodingError.
PowerSnapshot powerSnapshotFromJSON(const nlohmann::json& value);

// Reads the power sources. Stateless; blocks briefly; any thread.
struct Battery {
    // The first power source and Low Power Mode, now. Missing power source
    // information reads as no battery, on AC, 100 percent; a maximum capacity
    // of zero or less as 100 percent.
    static PowerSnapshot snapshot();

    // The same reading from power source descriptions as the platform hands
    // them over (absent: no information at all).
    static PowerSnapshot reading(const std::optional<std::vector<nlohmann::json>>& sources, bool lowPowerMode);
};

} // namespace LumraKit
