#pragma once

#include "PermissionGrants/PermissionGrant.hpp"
#include "PermissionGrants/Standing.hpp"

#include <Platform/Notifications.hpp>
#include <Platform/Workspace.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace PermissionGrants {

// Would the user see a notification this application posted now? Reads,
// asks and opens settings; holds no state and does not log. The platform
// services are parameters, defaulting to the running process's own. Known as
// PermissionGrant::Notifications.
struct Notifications {
    enum class Reach { notAsked, denied, silenced, allowed };

    static std::string_view rawValue(Reach reach);
    // Only the four raw values, exactly as written, name a reach.
    static std::optional<Reach> reachNamed(std::string_view rawValue);

    // The one mapping from the platform's settings to a reach; absent for
    // an authorization status this build does not know.
    static std::optional<Reach> reach(const Platform::NotificationSettings& of);

    // Waits at most `timeout` seconds for the settings on the calling
    // thread; absent when they do not come in time. Never call it from the
    // queue that delivers the centre's completions.
    static std::optional<Reach>
    reach(double timeout, Platform::NotificationCenter& center = Platform::NotificationCenter::current());

    // Reads without a deadline; `completion` runs once, on the centre's queue.
    static void reach(std::function<void(std::optional<Reach>)> completion,
                      Platform::NotificationCenter& center = Platform::NotificationCenter::current());

    // Prompts when the user was never asked, else opens the application's
    // notification settings. `completion` runs once the request has been
    // answered or the page opened; read the reach again to learn the
    // choice. Never fails. `center` and `workspace` must outlive the
    // completion.
    static void ask(unsigned options, const std::string& bundleID, std::function<void()> completion,
                    Platform::NotificationCenter& center = Platform::NotificationCenter::current(),
                    Platform::Workspace& workspace = Platform::Workspace::shared());

    // Opens System Settings at the notification page of `bundleID`; an
    // identifier that makes no valid URL opens nothing.
    static void openSettings(const std::string& bundleID,
                             Platform::Workspace& workspace = Platform::Workspace::shared());

    // The standing of a notifications grant for a reach or its absence.
    // Silenced counts as broken: the grant is met only when alerts appear.
    static Standing standing(std::optional<Reach> reach);
};

} // namespace PermissionGrants
