#pragma once

#include <functional>
#include <optional>
#include <string>

namespace PermissionGrants {

// Consent for this application to automate another one (send it Apple
// Events), by the target's bundle identifier.
struct Automation {
    // Yes, no, or nothing when not determined (never asked, or the target
    // does not run); never prompts. Any thread; blocks while the system is
    // consulted.
    static std::optional<bool> allowed(const std::string& bundleID);
    // On the main thread: prompts (off the main thread) or, when refused,
    // opens the Automation pane; `completion` runs on the main thread.
    static void ask(const std::string& bundleID, std::function<void()> completion);
};

} // namespace PermissionGrants
