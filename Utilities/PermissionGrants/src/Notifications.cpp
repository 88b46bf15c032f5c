#include "PermissionGrants/Notifications.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <semaphore>

namespace PermissionGrants {

using Reach = Notifications::Reach;

namespace {

constexpr std::array<std::string_view, 4> rawValues{"notAsked", "denied", "silenced", "allowed"};

// The platform's published values.
constexpr int statusNotDetermined = 0;
constexpr int statusDenied = 1;
constexpr int statusAuthorized = 2;
constexpr int statusProvisional = 3;
constexpr int statusEphemeral = 4;
constexpr int alertSettingEnabled = 2;
constexpr int alertStyleNone = 0;

// Longest wait honoured; anything above behaves the same and cannot
// overflow the clock's arithmetic.
constexpr double longestTimeout = 365.0 * 24 * 3600;

// Written only by the settings completion before it signals; read by the
// waiter only after a successful wait, so the semaphore orders the two. The
// completion holds its own reference and may outlive a caller that gave up.
struct Answer {
    std::optional<Reach> reach;
    std::binary_semaphore ready{0};
};

} // namespace

std::string_view Notifications::rawValue(Reach reach) { return rawValues[static_cast<size_t>(reach)]; }

std::optional<Reach> Notifications::reachNamed(std::string_view rawValue) {
    auto found = std::find(rawValues.begin(), rawValues.end(), rawValue);
    if (found == rawValues.end()) return std::nullopt;
    return static_cast<Reach>(found - rawValues.begin());
}

std::optional<Reach> Notifications::reach(const Platform::NotificationSettings& of) {
    switch (of.authorizationStatus) {
    case statusNotDetermined: return Reach::notAsked;
    case statusDenied: return Reach::denied;
    case statusAuthorized:
        return of.alertSetting == alertSettingEnabled && of.alertStyle != alertStyleNone ? Reach::allowed
                                                                                         : Reach::silenced;
    case statusProvisional:
    case statusEphemeral: return Reach::silenced;
    default: return std::nullopt;
    }
}

std::optional<Reach> Notifications::reach(double timeout, Platform::NotificationCenter& center) {
    auto answer = std::make_shared<Answer>();
    center.getSettings([answer](Platform::NotificationSettings settings) {
        answer->reach = reach(settings);
        answer->ready.release();
    });
    double seconds = std::isnan(timeout) ? 0.0 : std::clamp(timeout, 0.0, longestTimeout);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                           std::chrono::duration<double>(seconds));
    if (!answer->ready.try_acquire_until(deadline)) return std::nullopt;
    return answer->reach;
}

void Notifications::reach(std::function<void(std::optional<Reach>)> completion, Platform::NotificationCenter& center) {
    center.getSettings(
        [completion = std::move(completion)](Platform::NotificationSettings settings) { completion(reach(settings)); });
}

void Notifications::ask(unsigned options, const std::string& bundleID, std::function<void()> completion,
                        Platform::NotificationCenter& center, Platform::Workspace& workspace) {
    reach(
        [options, bundleID, completion = std::move(completion), &center, &workspace](std::optional<Reach> current) {
            // The system never prompts twice: once asked, settings are the
            // only place left where the user can change the answer.
            if (current != Reach::notAsked) {
                openSettings(bundleID, workspace);
                completion();
                return;
            }
            center.requestAuthorization(options,
                                        [completion](bool, const std::optional<std::string>&) { completion(); });
        },
        center);
}

void Notifications::openSettings(const std::string& bundleID, Platform::Workspace& workspace) {
    auto url =
        Platform::URL::parse("x-apple.systempreferences:com.apple.Notifications-Settings.extension?id=" + bundleID);
    if (url) workspace.open(*url);
}

Standing Notifications::standing(std::optional<Reach> reach) {
    static constexpr const char* openSettingsTitle = "Open System Settings\u2026";
    if (!reach) return Standing::unknown("Notification settings did not answer.");
    switch (*reach) {
    case Reach::notAsked: return Standing::askable("Allow\u2026");
    case Reach::denied:
        return Standing::broken(openSettingsTitle, "Notifications are off in System Settings. macOS never asks twice.");
    case Reach::silenced:
        return Standing::broken(openSettingsTitle,
                                "Allowed, but alerts are off: messages land in Notification Center without appearing.");
    case Reach::allowed: return Standing::good();
    }
    return Standing::unknown("Notification settings did not answer.");
}

} // namespace PermissionGrants
