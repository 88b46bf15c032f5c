#pragma once

#include "PermissionGrants/Standing.hpp"

#include <Platform/AppEvents.hpp>
#include <Platform/AppleEvents.hpp>

#include <functional>
#include <optional>
#include <string>

namespace PermissionGrants {

// Consent for this application to automate another one (send it Apple
// Events), by the target's bundle identifier. Consent the person gave during
// this run is remembered for the rest of it: the system's own answer may lag
// behind inside a running process. The consent service and the application's
// events are parameters, defaulting to the running process's own.
struct Automation {
    // Yes, no, or nothing when not determined (never asked, or the target
    // does not run); never prompts. Any thread; blocks while the system is
    // consulted.
    static std::optional<bool> allowed(const std::string& bundleID,
                                       Platform::AppleEvents::Consent& consent = Platform::AppleEvents::Consent::current());
    // On the main thread: prompts (off the main thread) or, when refused,
    // opens the Automation pane; `completion` runs on the main thread.
    // `consent` and `events` must outlive the completion.
    static void ask(const std::string& bundleID, std::function<void()> completion,
                    Platform::AppleEvents::Consent& consent = Platform::AppleEvents::Consent::current(),
                    Platform::AppEvents& events = Platform::AppEvents::current());

    // The standing of an automation grant for what allowed() answered.
    static Standing standing(std::optional<bool> allowed);
};

} // namespace PermissionGrants
