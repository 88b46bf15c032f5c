#include "Notifier.hpp"

#include <LumraKit/Identity.hpp>
#include <LumraKit/Log.hpp>
#include <LumraKit/UUID.hpp>
#include <Platform/Files.hpp>
#include <Platform/UTF8.hpp>

namespace Notifier {

using Notifications = PermissionGrants::PermissionGrant::Notifications;

std::optional<Invocation> parse(const std::vector<std::string>& arguments) {
    Invocation invocation;
    invocation.prime = !arguments.empty() && arguments.front() == "--prime";
    invocation.probe = !arguments.empty() && arguments.front() == "--probe";

    std::string joined;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) joined += ' ';
        joined += arguments[i];
    }
    if (invocation.prime) {
        invocation.message = std::string(sampleMessage);
    } else if (invocation.probe) {
        invocation.message = std::move(joined); // only named by the watchdog line
    } else {
        invocation.message = Platform::UTF8::trimmingWhitespace(joined);
        if (invocation.message.empty()) return std::nullopt;
    }
    return invocation;
}

Run::Run(Invocation invocation, Host host) : invocation_(std::move(invocation)), host_(std::move(host)) {}

template <typename Continuation>
auto Run::onMain(Continuation continuation) {
    return [this, continuation = std::move(continuation)](auto... values) {
        host_.main.async([this, continuation, values...] {
            if (!finished_) continuation(values...);
        });
    };
}

void Run::start() {
    host_.main.async([this] {
        if (finished_) return;
        if (invocation_.probe)
            record([this](std::optional<Reach>) { finish(ExitStatus::handedOver); });
        else
            deliver(invocation_.message, invocation_.prime);
    });
    host_.main.asyncAfter(watchdogDelay, [this] {
        if (finished_) return;
        log("no verdict in 120s (prompt unanswered?), giving up on: " + invocation_.message);
        finish(ExitStatus::noVerdict);
    });
}

void Run::record(std::function<void(std::optional<Reach>)> then) {
    Notifications::reach(onMain([this, then = std::move(then)](std::optional<Reach> reach) {
                             if (!reach) {
                                 log("an authorization status this build does not know, not recorded");
                                 then(std::nullopt);
                                 return;
                             }
                             if (host_.store.load() != reach)
                                 log("notification reach: " + std::string(Notifications::rawValue(*reach)));
                             host_.store.save(*reach);
                             then(reach);
                         }),
                         host_.center);
}

void Run::deliver(const std::string& message, bool prime) {
    record([this, message, prime](std::optional<Reach> reach) { decide(reach, message, prime); });
}

void Run::decide(std::optional<Reach> reach, const std::string& message, bool prime) {
    if (!reach) {
        log("posting without a known reach");
        post(message);
        return;
    }
    switch (*reach) {
    case Reach::silenced:
    case Reach::allowed:
        if (prime)
            finish(ExitStatus::handedOver);
        else
            post(message);
        return;
    case Reach::denied:
        if (!prime) log("notifications denied for lumra; message dropped: " + message);
        finish(ExitStatus::denied);
        return;
    case Reach::notAsked: ask(message); return;
    }
}

void Run::ask(const std::string& message) {
    // Asking needs the notifier's own bundle identifier; a bare executable
    // cannot be granted anything, so it ends as refused rather than crashing.
    if (!host_.bundleID) {
        log("no bundle identifier to ask for notifications with; message dropped: " + message);
        finish(ExitStatus::denied);
        return;
    }
    auto afterAsking = onMain([this, message] {
        record([this, message](std::optional<Reach> reach) {
            if (reach == Reach::silenced || reach == Reach::allowed) {
                post(message);
                return;
            }
            log("notifications DENIED at the prompt");
            finish(ExitStatus::denied);
        });
    });
    Notifications::ask(Platform::AuthorizationOption::alert | Platform::AuthorizationOption::sound, *host_.bundleID,
                       afterAsking, host_.center, host_.workspace);
}

void Run::post(const std::string& message) {
    Platform::NotificationRequest request{LumraKit::UUID::random().text(), "lumra", message, "default"};
    host_.center.add(std::move(request), onMain([this](std::optional<std::string> error) {
                         if (error) {
                             log("add failed: " + *error);
                             finish(ExitStatus::addFailed);
                             return;
                         }
                         finish(ExitStatus::handedOver);
                     }));
}

void Run::log(std::string_view message) {
    Platform::Files::createDirectories(host_.logDir, LumraKit::Paths::privateFolderMode);
    std::string text = "notifier: ";
    text += message;
    Platform::Files::append(host_.serviceLog, LumraKit::logLine(host_.clock.now(), text), LumraKit::Paths::privateFileMode);
}

void Run::finish(int status) {
    if (finished_) return;
    finished_ = true;
    host_.exit(status);
}

} // namespace Notifier
