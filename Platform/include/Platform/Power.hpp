#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <variant>
#include <vector>

// The machine's power management: assertions that hold off sleep, the power
// sources, Low Power Mode, heat, display sleep and the system-wide
// sleep-disable flag. On this host it is the simulated machine's, kept in
// files under <root>/power/ (docs/simulated-host.md) that every process
// shares; a missing or damaged file reads as the fresh machine's value, never
// as an error. Every call reads or writes the files at that moment, under a
// lock where it changes them. Each operation has a form on the process's
// simulation root and one on a given root. Any thread.
namespace Platform::Power {

// How hot the machine runs, mildest first.
enum class ThermalState { nominal, fair, serious, critical };

// "nominal", "fair", "serious" or "critical".
std::string_view rawValue(ThermalState state);
std::optional<ThermalState> thermalStateNamed(std::string_view text);

// A power assertion as the power manager keeps it.
struct Assertion {
    uint32_t id = 0;
    std::string type; // e.g. "PreventUserIdleSystemSleep"
    std::string name;
    int level = 0; // 255 on, 0 off
    pid_t pid = 0; // the process that made it
};

// Why the power manager refused an assertion.
struct Refusal {
    std::string reason;
};

// A new assertion with a fresh nonzero ID, owned by this process: it goes
// away when released or when this process ends.
std::variant<uint32_t, Refusal> createAssertion(std::string_view type, std::string_view name, int level);
std::variant<uint32_t, Refusal> createAssertion(std::string_view type, std::string_view name, int level,
                                                const std::filesystem::path& root);

// Removes the assertion; a refusal when no live assertion has that ID.
std::optional<Refusal> releaseAssertion(uint32_t id);
std::optional<Refusal> releaseAssertion(uint32_t id, const std::filesystem::path& root);

// The live assertions, oldest first.
std::vector<Assertion> assertions();
std::vector<Assertion> assertions(const std::filesystem::path& root);

// The descriptions of the power sources, first source first, each as the
// platform hands it over: normally an object with keys such as "Power Source
// State", "Current Capacity", "Max Capacity" and "Is Charging", but possibly
// null (no description) or not an object at all. Absent when the machine
// gives no power source information whatsoever. A fresh machine is a laptop
// on AC power at 100 percent.
std::optional<std::vector<nlohmann::json>> powerSources();
std::optional<std::vector<nlohmann::json>> powerSources(const std::filesystem::path& root);

bool lowPowerMode();
bool lowPowerMode(const std::filesystem::path& root);

ThermalState thermalState();
ThermalState thermalState(const std::filesystem::path& root);

// Whether the main display sleeps.
bool mainDisplayAsleep();
bool mainDisplayAsleep(const std::filesystem::path& root);

// The system-wide sleep-disable flag ("SleepDisabled" of the pmset tool).
bool sleepDisabled();
bool sleepDisabled(const std::filesystem::path& root);

// The machine's controls, for the stand-in tools and the simulation's own
// command line; the engine changes none of these directly. False when the
// state could not be written.
bool setSleepDisabled(bool on, const std::filesystem::path& root);
bool setLowPowerMode(bool on, const std::filesystem::path& root);
bool setThermalState(ThermalState state, const std::filesystem::path& root);
bool setMainDisplayAsleep(bool asleep, const std::filesystem::path& root);
// Replaces the power sources; absent means no power source information.
bool setPowerSources(const std::optional<std::vector<nlohmann::json>>& sources, const std::filesystem::path& root);

} // namespace Platform::Power
