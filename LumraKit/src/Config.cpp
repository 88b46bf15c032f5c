#include "LumraKit/Config.hpp"
#include "LumraKit/Identity.hpp"
#include "LumraKit/JSONCoder.hpp"
#include "LumraKit/Log.hpp"

#include "DecodeHelpers.hpp"

#include <Platform/Files.hpp>

#include <nlohmann/json.hpp>

#include <climits>

namespace LumraKit {

using nlohmann::json;

namespace {

std::optional<std::string> optionalString(const json& object, const char* key) {
    auto value = Decode::optionalValue(object, key);
    if (!value) return std::nullopt;
    return Decode::string(*value, key);
}

int integerOr(const json& object, const char* key, int fallback) {
    auto value = Decode::optionalValue(object, key);
    return value ? static_cast<int>(Decode::integer(*value, key, INT_MIN, INT_MAX)) : fallback;
}

bool booleanOr(const json& object, const char* key, bool fallback) {
    auto value = Decode::optionalValue(object, key);
    return value ? Decode::boolean(*value, key) : fallback;
}

} // namespace

Config::Config(int batteryFloorPercent, int lastMinutes, bool menuDisplay, std::string notifyCommand, bool updateCheck)
    : batteryFloorPercent(batteryFloorPercent), lastMinutes(lastMinutes), menuDisplay(menuDisplay),
      notifyCommand(std::move(notifyCommand)), updateCheck(updateCheck) {}

json toJSON(const Config& config) {
    json object = json::object();
    object["batteryFloorPercent"] = config.batteryFloorPercent;
    object["lastMinutes"] = config.lastMinutes;
    object["menuDisplay"] = config.menuDisplay;
    object["notifyCommand"] = config.notifyCommand;
    object["updateCheck"] = config.updateCheck;
    if (config.installID) object["installID"] = *config.installID;
    if (config.nextUpdateCheck) object["nextUpdateCheck"] = JSONCoder::plain.encodeDate(*config.nextUpdateCheck);
    if (config.latestVersion) object["latestVersion"] = *config.latestVersion;
    if (config.updateAnnounced) object["updateAnnounced"] = *config.updateAnnounced;
    if (config.updateFeed) object["updateFeed"] = *config.updateFeed;
    return object;
}

Config configFromJSON(const json& value) {
    if (!value.is_object()) Decode::wrongType("config", "an object", value);
    Config defaults;
    Config config;
    config.batteryFloorPercent = integerOr(value, "batteryFloorPercent", defaults.batteryFloorPercent);
    config.lastMinutes = integerOr(value, "lastMinutes", defaults.lastMinutes);
    config.menuDisplay = booleanOr(value, "menuDisplay", defaults.menuDisplay);
    if (auto hook = optionalString(value, "notifyCommand")) config.notifyCommand = std::move(*hook);
    config.updateCheck = booleanOr(value, "updateCheck", defaults.updateCheck);
    config.installID = optionalString(value, "installID");
    if (auto next = Decode::optionalValue(value, "nextUpdateCheck"))
        config.nextUpdateCheck = Decode::date(JSONCoder::plain, *next, "nextUpdateCheck");
    config.latestVersion = optionalString(value, "latestVersion");
    config.updateAnnounced = optionalString(value, "updateAnnounced");
    config.updateFeed = optionalString(value, "updateFeed");
    return config;
}

std::string Config::encoded() const { return JSONCoder::plain.encode(toJSON(*this)); }

Config Config::decode(std::string_view text) { return configFromJSON(JSONCoder::plain.decode(text)); }

Config Config::load() { return load(Paths::current().configFile); }

Config Config::load(const std::filesystem::path& file) {
    auto text = Platform::Files::read(file);
    if (!text) return {};
    try {
        return decode(*text);
    } catch (const DecodingError&) {
        return {};
    }
}

void Config::save() const { save(Paths::current().configFile); }

void Config::save(const std::filesystem::path& file) const {
    Platform::Files::createDirectories(file.parent_path(), Paths::privateFolderMode);
    if (auto error = Platform::Files::writeAtomically(file, encoded(), Paths::privateFileMode))
        log("config.json not written, keeping the previous file: " + error.message());
}

} // namespace LumraKit
