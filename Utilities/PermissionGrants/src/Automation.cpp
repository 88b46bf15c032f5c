#include "PermissionGrants/Automation.hpp"
#include "PermissionGrants/GrantLog.hpp"
#include "PermissionGrants/PrivacyHub.hpp"

#include <Platform/Dispatch.hpp>

#include <mutex>
#include <set>
#include <thread>

namespace PermissionGrants {

namespace {

namespace AE = Platform::AppleEvents;

// The targets the person allowed during this run. Never destroyed: a prompt
// answered while the process ends may still add to it.
struct SessionGranted {
    std::mutex lock;
    std::set<std::string, std::less<>> bundleIDs;
};

SessionGranted& sessionGranted() {
    static auto* granted = new SessionGranted;
    return *granted;
}

bool grantedThisRun(const std::string& bundleID) {
    auto& granted = sessionGranted();
    std::lock_guard lock(granted.lock);
    return granted.bundleIDs.contains(bundleID);
}

void remember(const std::string& bundleID) {
    auto& granted = sessionGranted();
    std::lock_guard lock(granted.lock);
    granted.bundleIDs.insert(bundleID);
}

// The consent check for any event; a target that cannot be addressed
// answers the code that stopped its address.
int32_t determine(AE::Consent& consent, const std::string& bundleID, bool askUserIfNeeded) {
    auto address = consent.createAddress(bundleID);
    if (const auto* code = std::get_if<int32_t>(&address)) return *code;
    return consent.determinePermission(std::get<AE::Address>(address), askUserIfNeeded);
}

} // namespace

std::optional<bool> Automation::allowed(const std::string& bundleID, AE::Consent& consent) {
    if (grantedThisRun(bundleID)) return true;
    auto address = consent.createAddress(bundleID);
    if (std::holds_alternative<int32_t>(address)) return std::nullopt;
    switch (consent.determinePermission(std::get<AE::Address>(address), false)) {
    case AE::noErr: return true;
    case AE::wouldRequireUserConsent:
    case AE::procNotFound: return std::nullopt;
    default: return false;
    }
}

void Automation::ask(const std::string& bundleID, std::function<void()> completion, AE::Consent& consent,
                     Platform::AppEvents& events) {
    // The system never prompts again once refused; only settings can
    // change the answer then.
    if (allowed(bundleID, consent) == false) {
        PrivacyHub::openSettings("Privacy_Automation");
        completion();
        return;
    }
    events.activate();
    // The prompting check blocks until the person answers: a thread of its
    // own, since the shared queues deliver the very answers it waits for.
    std::thread([bundleID, completion = std::move(completion), &consent] {
        int32_t status = determine(consent, bundleID, true);
        grantLog.info("asked macOS",
                      [&] { return Log::Fields{{"grant", "Automation of " + bundleID}, {"status", status}}; });
        if (status == AE::noErr) remember(bundleID);
        Platform::mainLoop().async(completion);
    }).detach();
}

Standing Automation::standing(std::optional<bool> allowed) {
    if (!allowed) return Standing::askable("Allow\u2026");
    if (!*allowed) return Standing::broken("Open Settings\u2026", "Off in Privacy & Security \u203A Automation.");
    return Standing::good();
}

} // namespace PermissionGrants
