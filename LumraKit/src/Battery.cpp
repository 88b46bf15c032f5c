#include "LumraKit/Battery.hpp"
#include "LumraKit/JSONCoder.hpp"

#include <Platform/Power.hpp>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <limits>

namespace LumraKit {

namespace {

using nlohmann::json;

constexpr std::array<const char*, 5> snapshotKeys{"hasBattery", "onAC", "discharging", "percent", "lowPowerMode"};

// The description's integer at `key`, or `fallback` when absent or not an
// integer (a fraction, a text or a flag is not one).
int64_t integer(const json& description, const char* key, int64_t fallback) {
    auto found = description.find(key);
    if (found == description.end()) return fallback;
    if (found->is_number_integer() && !found->is_number_unsigned()) return found->get<int64_t>();
    if (found->is_number_unsigned()) {
        auto value = found->get<uint64_t>();
        return value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? static_cast<int64_t>(value)
                                                                                   : fallback;
    }
    return fallback;
}

// current × 100 ÷ maximum, truncated, exact however large the capacities
// are, and held to the range of an int.
int percentOf(int64_t current, int64_t maximum) {
    if (maximum <= 0) return 100;
    __extension__ using Wide = __int128; // a 64-bit value times 100 needs 71 bits
    Wide exact = static_cast<Wide>(current) * 100 / maximum;
    if (exact > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (exact < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(exact);
}

} // namespace

json toJSON(const PowerSnapshot& snapshot) {
    return json{{"hasBattery", snapshot.hasBattery},
                {"onAC", snapshot.onAC},
                {"discharging", snapshot.discharging},
                {"percent", snapshot.percent},
                {"lowPowerMode", snapshot.lowPowerMode}};
}

PowerSnapshot powerSnapshotFromJSON(const json& value) {
    if (!value.is_object()) throw DecodingError("a power snapshot is an object");
    for (const char* key : snapshotKeys)
        if (!value.contains(key)) throw DecodingError(std::string("power snapshot without \"") + key + "\"");
    auto flag = [&](const char* key) {
        const json& item = value.at(key);
        if (!item.is_boolean()) throw DecodingError(std::string("power snapshot \"") + key + "\" is not a boolean");
        return item.get<bool>();
    };
    const json& percent = value.at("percent");
    bool fits = (percent.is_number_unsigned() &&
                 percent.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int>::max())) ||
                (percent.is_number_integer() && !percent.is_number_unsigned() &&
                 percent.get<int64_t>() >= std::numeric_limits<int>::min() &&
                 percent.get<int64_t>() <= std::numeric_limits<int>::max());
    if (!fits) throw DecodingError("power snapshot \"percent\" is not an integer");

    PowerSnapshot snapshot;
    snapshot.hasBattery = flag("hasBattery");
    snapshot.onAC = flag("onAC");
    snapshot.discharging = flag("discharging");
    snapshot.percent = static_cast<int>(percent.get<int64_t>());
    snapshot.lowPowerMode = flag("lowPowerMode");
    return snapshot;
}

PowerSnapshot Battery::reading(const std::optional<std::vector<json>>& sources, bool lowPowerMode) {
    PowerSnapshot snapshot;
    snapshot.lowPowerMode = lowPowerMode;
    if (!sources || sources->empty() || !sources->front().is_object()) return snapshot;

    const json& description = sources->front();
    auto state = description.find("Power Source State");
    auto charging = description.find("Is Charging");
    snapshot.hasBattery = true;
    snapshot.onAC =
        state != description.end() && state->is_string() && state->get_ref<const std::string&>() == "AC Power";
    bool isCharging = charging != description.end() && charging->is_boolean() && charging->get<bool>();
    snapshot.discharging = !snapshot.onAC && !isCharging;
    snapshot.percent =
        percentOf(integer(description, "Current Capacity", 100), integer(description, "Max Capacity", 100));
    return snapshot;
}

PowerSnapshot Battery::snapshot() {
    bool lowPower = Platform::Power::lowPowerMode();
    return reading(Platform::Power::powerSources(), lowPower);
}

} // namespace LumraKit
