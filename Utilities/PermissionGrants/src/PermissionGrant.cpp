#include "PermissionGrants/PermissionGrant.hpp"
#include "PermissionGrants/Automation.hpp"
#include "PermissionGrants/GrantLog.hpp"
#include "PermissionGrants/JobGrant.hpp"
#include "PermissionGrants/Notifications.hpp"
#include "PermissionGrants/PrivacyHub.hpp"
#include "PermissionGrants/Readings.hpp"

#include <Platform/Dispatch.hpp>
#include <Platform/MainBundle.hpp>

#include <cstdio>
#include <cstdlib>

namespace PermissionGrants {

namespace {

// Reading a custom grant elsewhere than on the main thread is a programming
// error: its operations belong to the main thread.
void requireMainThread(const char* what) {
    if (Platform::isMainThread()) return;
    std::fprintf(stderr, "PermissionGrant: %s off the main thread\n", what);
    std::abort();
}

Platform::NotificationCenter& centerOf(const std::optional<std::string>& of) {
    return of ? Platform::NotificationCenter::of(*of) : Platform::NotificationCenter::current();
}

} // namespace

PermissionGrant::PermissionGrant(Kind kind, std::string title, std::string why, std::string symbol, bool required)
    : kind(std::move(kind)), title(std::move(title)), why(std::move(why)), symbol(std::move(symbol)),
      required(required) {}

PermissionGrant::PermissionGrant(std::string title, std::string why, std::string symbol, bool required,
                                 std::function<Standing()> standing, std::function<void()> act)
    : PermissionGrant(Kind{Kind::Custom{std::move(standing), std::move(act)}}, std::move(title), std::move(why),
                      std::move(symbol), required) {}

PermissionGrant PermissionGrant::notifications(std::string title, std::string why, std::string symbol, bool required,
                                               unsigned options, std::optional<std::string> of) {
    return {Kind{Kind::Notifications{options, std::move(of)}}, std::move(title), std::move(why), std::move(symbol),
            required};
}

std::string PermissionGrant::notificationsKey(const std::optional<std::string>& of) {
    return of ? "notifications " + *of : std::string("notifications");
}

Standing PermissionGrant::standing() const {
    if (const auto* privacy = std::get_if<Privacy>(&kind.value)) return PrivacyHub::shared().standing(*privacy);
    if (const auto* automation = std::get_if<Kind::Automation>(&kind.value))
        return Readings::shared().read(automationKey(automation->bundleID), [bundleID = automation->bundleID] {
            return Automation::standing(Automation::allowed(bundleID));
        });
    if (const auto* service = std::get_if<Kind::BackgroundService>(&kind.value))
        return Readings::shared().read(jobKey(service->job, service->installFor),
                                       [job = service->job, installFor = service->installFor] {
                                           return JobGrant::standing(job, installFor);
                                       });
    if (const auto* custom = std::get_if<Kind::Custom>(&kind.value)) {
        requireMainThread("a custom grant's standing was read");
        return custom->standing();
    }
    const auto& notifications = std::get<Kind::Notifications>(kind.value);
    return Readings::shared().read(notificationsKey(notifications.of), [of = notifications.of] {
        return Notifications::standing(Notifications::reach(2.0, centerOf(of)));
    });
}

bool PermissionGrant::isAllowed() const { return standing() == Standing::good(); }

bool PermissionGrant::blocking() const { return required && standing().grade() == Standing::Grade::broken; }

void PermissionGrant::ask(std::function<void(bool)> completion) const {
    auto finish = [grant = *this, completion = std::move(completion)] {
        Readings::shared().readAll();
        completion(grant.isAllowed());
    };
    if (const auto* privacy = std::get_if<Privacy>(&kind.value))
        return PrivacyHub::shared().ask(*privacy, std::move(finish));
    if (const auto* automation = std::get_if<Kind::Automation>(&kind.value))
        return Automation::ask(automation->bundleID, std::move(finish));
    if (const auto* service = std::get_if<Kind::BackgroundService>(&kind.value))
        return JobGrant::ask(service->job, service->installFor, std::move(finish));
    if (const auto* custom = std::get_if<Kind::Custom>(&kind.value)) {
        custom->act();
        return finish();
    }
    const auto& notifications = std::get<Kind::Notifications>(kind.value);
    auto bundleID = notifications.of ? notifications.of : Platform::mainBundleIdentifier();
    if (!bundleID) {
        // Nothing to prompt for and no settings page to open.
        grantLog.warn("cannot ask without a bundle identifier", [&] { return Log::Fields{{"grant", title}}; });
        return finish();
    }
    Notifications::ask(notifications.options, *bundleID,
                       [finish = std::move(finish)] { Platform::mainLoop().async(finish); }, centerOf(notifications.of));
}

void PermissionGrant::act() const {
    Platform::mainLoop().async([grant = *this] { grant.ask([](bool) {}); });
}

std::shared_ptr<PermissionGrant::Observer> PermissionGrant::observe(std::function<void(Standing)> handler) const {
    auto observer = std::make_shared<Observer>(*this, std::move(handler));
    observer->last_ = observer->track();
    return observer;
}

PermissionGrant::Observer::Observer(PermissionGrant grant, std::function<void(Standing)> handler)
    : grant(std::move(grant)), handler_(std::move(handler)) {}

void PermissionGrant::Observer::cancel() { cancelled_ = true; }

Standing PermissionGrant::Observer::track() {
    Standing now = Standing::good();
    withObservationTracking([&] { now = grant.standing(); },
                            [weak = weak_from_this()] {
                                Platform::mainLoop().async([weak] {
                                    if (auto observer = weak.lock()) observer->changed();
                                });
                            });
    return now;
}

void PermissionGrant::Observer::changed() {
    if (cancelled_) return;
    Standing now = track();
    if (now == last_) return;
    last_ = now;
    handler_(now);
}

} // namespace PermissionGrants
