#include "Announcer.hpp"

#include <LumraKit/Log.hpp>

#include <cerrno>
#include <sys/wait.h>

namespace Lumrad {

Announcer::Announcer(std::optional<std::filesystem::path> notifier, Starter start)
    : notifier_(std::move(notifier)), start_(std::move(start)) {}

std::variant<pid_t, Platform::LaunchFailure>
Announcer::startProgram(std::string_view path, const std::vector<std::string>& arguments,
                        const std::optional<Platform::Environment>& environment) {
    return Platform::startProgram(path, arguments, environment);
}

void Announcer::announce(const std::string& message, const std::string& reason, const std::string& hook) {
    if (notifier_)
        start(Child::notifier, notifier_->string(), {message}, std::nullopt);
    else
        LumraKit::log("announcement (no notifier outside the app bundle): " + message);

    if (hook.empty()) return;
    Platform::Environment environment = Platform::currentEnvironment();
    environment["LUMRA_MESSAGE"] = message;
    environment["LUMRA_REASON"] = reason;
    start(Child::hook, "/bin/sh", {"-c", hook}, environment);
}

std::string_view Announcer::describe(Child child) {
    return child == Child::notifier ? "the notifier" : "the notify hook";
}

void Announcer::start(Child child, std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Platform::Environment>& environment) {
    auto started = start_(path, arguments, environment);
    if (auto* failure = std::get_if<Platform::LaunchFailure>(&started)) {
        LumraKit::log("cannot start " + std::string(describe(child)) + " " + std::string(path) + ": " +
                      failure->description + " (errno " + std::to_string(failure->error) + ")");
        return;
    }
    children_[std::get<pid_t>(started)] = child;
}

size_t Announcer::reap() {
    for (auto child = children_.begin(); child != children_.end();) {
        int status = 0;
        pid_t done = ::waitpid(child->first, &status, WNOHANG);
        if (done == 0 || (done < 0 && errno == EINTR)) {
            ++child;
            continue;
        }
        // Anything else (ECHILD above all) means there is nothing left to wait for.
        // The notifier logs its own outcome; a failing hook has no other voice.
        if (done > 0 && child->second == Child::hook) {
            if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
                LumraKit::log("the notify hook exited with status " + std::to_string(WEXITSTATUS(status)));
            else if (WIFSIGNALED(status))
                LumraKit::log("the notify hook was ended by signal " + std::to_string(WTERMSIG(status)));
        }
        child = children_.erase(child);
    }
    return children_.size();
}

std::optional<std::filesystem::path> notifierPath(const std::optional<std::filesystem::path>& given,
                                                  const std::optional<Platform::Bundle>& bundle) {
    if (given) return given;
    if (bundle) return bundle->path / "Contents/Helpers/lumra-notifier.app/Contents/MacOS/lumra-notifier";
    return std::nullopt;
}

} // namespace Lumrad
