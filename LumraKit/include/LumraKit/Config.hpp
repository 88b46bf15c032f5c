#pragma once

#include <LumraKit/JSONCoder.hpp>

#include <Platform/Clock.hpp>

#include <nlohmann/json_fwd.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace LumraKit {

// A closed range of whole numbers.
struct IntRange {
    int lowest;
    int highest;

    constexpr bool contains(int value) const { return value >= lowest && value <= highest; }
    constexpr int clamped(int value) const { return value < lowest ? lowest : value > highest ? highest : value; }
};

// The engine's persisted settings, in config.json. Loading never fails: a
// missing or damaged file gives the defaults, and the next save overwrites
// it. A plain value, owned by the engine's main thread.
struct Config {
    int batteryFloorPercent = 15; // claims are refused and ended at or below it; 0 switches that off
    int lastMinutes = 0;          // the last duration a client chose
    bool menuDisplay = false;     // keep the display awake while claims are held
    std::string notifyCommand;    // the user's notify hook
    bool updateCheck = true;
    std::optional<std::string> installID;
    std::optional<Platform::Date> nextUpdateCheck;
    std::optional<std::string> latestVersion;   // newest version the last check saw
    std::optional<std::string> updateAnnounced; // newest version already shown to the user
    std::optional<std::string> updateFeed;      // where the update check reads the newest version

    // The floors a user may choose.
    static constexpr IntRange floorRange{0, 50};

    // The defaults.
    Config() = default;
    // The four optional fields start absent.
    Config(int batteryFloorPercent, int lastMinutes, bool menuDisplay, std::string notifyCommand, bool updateCheck);

    // From Paths::current().configFile, or from `file`.
    static Config load();
    static Config load(const std::filesystem::path& file);

    // Replaces the file whole, absent optional fields left out. A failed
    // write is logged and the old file kept.
    void save() const;
    void save(const std::filesystem::path& file) const;

    // The file's text, and back: every key optional, null taken as absent,
    // unknown keys ignored, a value of the wrong type fails the whole decode
    // with DecodingError.
    std::string encoded() const;
    static Config decode(std::string_view text);

    friend bool operator==(const Config&, const Config&) = default;
};

nlohmann::json toJSON(const Config& config);
// Throws DecodingError.
Config configFromJSON(const nlohmann::json& value);

} // namespace LumraKit
