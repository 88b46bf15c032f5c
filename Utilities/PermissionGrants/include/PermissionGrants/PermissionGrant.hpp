#pragma once

#include "PermissionGrants/Privacy.hpp"
#include "PermissionGrants/Standing.hpp"

#include <AppInstallations/AppInstallation.hpp>
#include <AppInstallations/Job.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace PermissionGrants {

struct Notifications;
template <class Reason>
class Claim;

// One thing the application needs the user or the system to allow. A value:
// copies are independent. It tells where it stands, asks for itself and can
// be watched for changes.
class PermissionGrant {
public:
    using Standing = PermissionGrants::Standing;
    using Notifications = PermissionGrants::Notifications;
    using Privacy = PermissionGrants::Privacy;
    template <class Reason>
    using Claim = PermissionGrants::Claim<Reason>;
    class Observer;

    // The pieces that show grants (PermissionGrants/Views/…): headless
    // models that keep what a piece shows and does; a renderer draws them.
    class LetterCase;
    class Row;
    class Section;
    class Sheet;
    class Page;
    class Steps;
    class Chip;
    class LaunchAtLogin;

    // What is granted, and how it is read and asked.
    struct Kind {
        // Consent to automate the application with this bundle identifier.
        struct Automation {
            std::string bundleID;
        };
        // A background job, installed into one of `installFor` when it has
        // to move into Applications first.
        struct BackgroundService {
            AppInstallation::Job job;
            std::vector<AppInstallation::Scope> installFor;
        };
        // User notifications with these authorization options (badge 1,
        // sound 2, alert 4). `of` names the application whose notification
        // settings count, for a helper that posts under its own identifier;
        // absent, the running application's own.
        struct Notifications {
            unsigned options = 0;
            std::optional<std::string> of;
        };
        // Anything the application tests and requests itself. Both
        // operations run on the main thread.
        struct Custom {
            std::function<Standing()> standing;
            std::function<void()> act;
        };
        std::variant<Privacy, Automation, BackgroundService, Notifications, Custom> value;
    };

    // A custom grant.
    PermissionGrant(std::string title, std::string why, std::string symbol, bool required,
                    std::function<Standing()> standing, std::function<void()> act);

    // Without a symbol, the permission's own (defaultSymbol).
    static PermissionGrant privacy(Privacy privacy, std::string title, std::string why,
                                   std::optional<std::string> symbol, bool required);
    static PermissionGrant automation(std::string bundleID, std::string title, std::string why, std::string symbol,
                                      bool required);
    // `installFor` is not empty and holds only scopes of the job; otherwise
    // the process stops.
    static PermissionGrant backgroundService(AppInstallation::Job job, std::string title, std::string why,
                                             std::string symbol, bool required,
                                             std::vector<AppInstallation::Scope> installFor);
    static PermissionGrant notifications(std::string title, std::string why, std::string symbol, bool required,
                                         unsigned options, std::optional<std::string> of = std::nullopt);

    Kind kind;
    std::string title;
    std::string why;
    std::string symbol;
    bool required = false;

    // Where it stands now. A custom grant is read on the main thread only
    // (elsewhere the process stops); a privacy grant is the hub's answer;
    // automation, background services and notifications are read through
    // the readings cache, from any thread.
    Standing standing() const;
    bool isAllowed() const;
    // Required and broken.
    bool blocking() const;

    // On the main thread: asks by kind, refreshes the readings, and calls
    // `completion` on the main thread with whether it is allowed now.
    void ask(std::function<void(bool allowed)> completion) const;
    // Asks and ignores the answer; returns at once.
    void act() const;
    // A background service only (any other kind stops the process): turns
    // the job off, logging a failure, then refreshes the readings.
    void unregister() const;

    // First thing at launch, with the arguments after the program's name:
    // a privacy probe launch answers and ends the process here.
    static void answerProbeIfAsked(const std::vector<std::string>& arguments);

    // On the main thread: calls `handler` on the main thread with each new
    // standing, once per change, until the observer is cancelled or released.
    std::shared_ptr<Observer> observe(std::function<void(Standing)> handler) const;

    // The readings-cache keys: "notifications", "notifications <of>",
    // "automation <bundle id>", and "job " with the job's kind and the scopes
    // it may be installed for (two grants of one job that differ in those
    // read differently).
    static std::string notificationsKey(const std::optional<std::string>& of);
    static std::string automationKey(const std::string& bundleID);
    static std::string jobKey(const AppInstallation::Job& job, const std::vector<AppInstallation::Scope>& installFor);

private:
    PermissionGrant(Kind kind, std::string title, std::string why, std::string symbol, bool required);
};

class PermissionGrant::Observer : public std::enable_shared_from_this<Observer> {
public:
    Observer(PermissionGrant grant, std::function<void(Standing)> handler);
    // No handler call happens after this.
    void cancel();

    const PermissionGrant grant;

private:
    friend class PermissionGrant;
    // Reads the standing while tracking what it read; the next change of
    // that runs changed() on the main thread.
    Standing track();
    void changed();

    std::function<void(Standing)> handler_;
    Standing last_ = Standing::good();
    std::atomic<bool> cancelled_{false};
};

} // namespace PermissionGrants
