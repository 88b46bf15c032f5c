#pragma once

#include "Platform/Dispatch.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Platform {

// The platform's notification settings for one application, with the
// platform's own numbers (authorization status: 0 not determined, 1 denied,
// 2 authorized, 3 provisional, 4 ephemeral; alert setting: 2 enabled;
// alert style: 0 none).
struct NotificationSettings {
    int authorizationStatus = 0;
    int alertSetting = 0;
    int alertStyle = 0;
};

// Bits of an authorization request.
namespace AuthorizationOption {
inline constexpr unsigned badge = 1;
inline constexpr unsigned sound = 2;
inline constexpr unsigned alert = 4;
} // namespace AuthorizationOption

// A notification to show at once.
struct NotificationRequest {
    std::string identifier;
    std::string title;
    std::string body;
    std::string sound = "default";
};

// The user notification centre of one application. Each completion runs
// exactly once, on a queue of the centre's choosing (never the caller's
// thread), except that an authorization request the person never answers
// never completes.
class NotificationCenter {
public:
    using SettingsCompletion = std::function<void(NotificationSettings)>;
    using AuthorizationCompletion = std::function<void(bool granted, std::optional<std::string> error)>;
    using AddCompletion = std::function<void(std::optional<std::string> error)>;

    virtual ~NotificationCenter() = default;
    virtual void getSettings(SettingsCompletion completion) = 0;
    virtual void requestAuthorization(unsigned options, AuthorizationCompletion completion) = 0;
    virtual void add(NotificationRequest request, AddCompletion completion) = 0;

    // The centre of the running process's main bundle, on the simulated host.
    static NotificationCenter& current();

    // The centre of another application of this host, such as a helper that
    // posts under its own identifier: its settings are that application's.
    static NotificationCenter& of(const std::string& bundleID);
};

class Person;

// The simulated centre of `bundleID` under `root`/notifications/<bundleID>/,
// delivering completions on `completions`. Without a usable bundle
// identifier the centre reports "not determined", prompts nobody and adds
// nothing. Without prompt.json the permission prompt goes to `person`; with
// no person it is never answered.
std::unique_ptr<NotificationCenter> makeSimulatedNotificationCenter(std::filesystem::path root,
                                                                    std::optional<std::string> bundleID,
                                                                    Queue& completions, Person* person = nullptr);

} // namespace Platform
