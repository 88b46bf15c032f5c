#include "LumraKit/LinuxWorld.hpp"

#include "linux/Bus.hpp"

#include <Platform/Files.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

// What the Linux world reads: UPower's display device, the power profile and
// the kernel's thermal zones.
namespace LumraKit {

using Linux::BusError;
using Linux::Reply;

namespace {

constexpr const char* upower = "org.freedesktop.UPower";
constexpr const char* upowerPath = "/org/freedesktop/UPower";
constexpr const char* displayDevicePath = "/org/freedesktop/UPower/devices/DisplayDevice";
constexpr const char* upowerDevice = "org.freedesktop.UPower.Device";
constexpr const char* profiles = "net.hadess.PowerProfiles";
constexpr const char* profilesPath = "/net/hadess/PowerProfiles";

// UPower's device states.
constexpr uint32_t charging = 1;

struct DisplayDevice {
    bool present = false;
    uint32_t state = 0;
    double percentage = 100;
};

DisplayDevice displayDeviceFrom(sd_bus_message* message) {
    DisplayDevice device;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0) return device;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read_basic(message, 's', &key) <= 0) break;
        std::string_view name(key);
        int flag = 0;
        if (name == "IsPresent") {
            if (Linux::readVariant(message, 'b', &flag)) device.present = flag != 0;
        } else if (name == "State") {
            Linux::readVariant(message, 'u', &device.state);
        } else if (name == "Percentage") {
            Linux::readVariant(message, 'd', &device.percentage);
        } else {
            sd_bus_message_skip(message, "v");
        }
        sd_bus_message_exit_container(message);
    }
    return device;
}

// The whole number in a sysfs file (millidegrees Celsius for temperatures).
std::optional<int64_t> numberIn(const std::filesystem::path& file) {
    auto text = Platform::Files::read(file);
    if (!text) return std::nullopt;
    std::string_view digits(*text);
    while (!digits.empty() && (digits.back() == '\n' || digits.back() == ' ')) digits.remove_suffix(1);
    int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

std::string wordIn(const std::filesystem::path& file) {
    std::string text = Platform::Files::read(file).value_or("");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// A zone at or past a "hot" or "critical" trip point: "hot" is the kernel's
// last warning before it acts on its own at "critical", and a machine kept
// awake in a bag must let go before that.
bool zoneAtCriticalHeat(const std::filesystem::path& zone) {
    if (wordIn(zone / "mode") == "disabled") return false;
    auto temperature = numberIn(zone / "temp");
    if (!temperature) return false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(zone, error)) {
        std::string name = entry.path().filename().string();
        if (!name.starts_with("trip_point_") || !name.ends_with("_type")) continue;
        std::string type = wordIn(entry.path());
        if (type != "hot" && type != "critical") continue;
        std::string tempName = name.substr(0, name.size() - std::string_view("_type").size()) + "_temp";
        auto trip = numberIn(zone / tempName);
        // Zero or below marks a trip point the firmware leaves unset.
        if (trip && *trip > 0 && *temperature >= *trip) return true;
    }
    return false;
}

} // namespace

PowerSnapshot LinuxWorld::power() {
    PowerSnapshot snapshot;
    auto profile = system_->property(profiles, profilesPath, profiles, "ActiveProfile");
    if (auto* error = std::get_if<BusError>(&profile)) {
        warnOnce("profiles", "power-profiles-daemon is not answering (" + error->text() +
                                 "): Low Power Mode reads as off");
    } else {
        const char* active = nullptr;
        snapshot.lowPowerMode = Linux::readVariant(std::get<Reply>(profile).get(), 's', &active) &&
                                std::string_view(active) == "power-saver";
    }

    auto device = system_->call(upower, displayDevicePath, "org.freedesktop.DBus.Properties", "GetAll", "s",
                                upowerDevice);
    if (auto* error = std::get_if<BusError>(&device)) {
        warnOnce("upower", "UPower is not answering (" + error->text() + "): the battery reads as none, on AC power");
        return snapshot;
    }
    DisplayDevice display = displayDeviceFrom(std::get<Reply>(device).get());
    if (!display.present) return snapshot;

    int onBattery = 0;
    auto state = system_->property(upower, upowerPath, upower, "OnBattery");
    if (auto* reply = std::get_if<Reply>(&state)) Linux::readVariant(reply->get(), 'b', &onBattery);
    snapshot.hasBattery = true;
    snapshot.onAC = onBattery == 0;
    snapshot.discharging = !snapshot.onAC && display.state != charging;
    double percent = std::isfinite(display.percentage) ? display.percentage : 100;
    snapshot.percent = static_cast<int>(std::clamp(percent, 0.0, 100.0));
    return snapshot;
}

bool LinuxWorld::thermalCritical() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(thermalZones_, error))
        if (entry.path().filename().string().starts_with("thermal_zone") && zoneAtCriticalHeat(entry.path()))
            return true;
    return false;
}

bool LinuxWorld::displayAsleep() {
    constexpr const char* screenSaver = "org.freedesktop.ScreenSaver";
    if (!session_->hasOwner(screenSaver)) return false;
    auto reply = session_->call(screenSaver, "/org/freedesktop/ScreenSaver", screenSaver, "GetActive", "");
    int active = 0;
    if (auto* answer = std::get_if<Reply>(&reply)) sd_bus_message_read_basic(answer->get(), 'b', &active);
    return active != 0;
}

} // namespace LumraKit
