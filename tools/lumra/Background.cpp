#include "Background.hpp"
#include "Client.hpp"

#include <LumraJobs.hpp>
#include <Log/Settings.hpp>
#include <PermissionGrants/JobGrant.hpp>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace Client::Background {

namespace {

using AppInstallation::Job;

constexpr std::string_view usage = "usage: lumra background status\n"
                                   "       lumra background on [--wait SECONDS]\n"
                                   "       lumra background off\n"
                                   "       lumra background login-item on|off|status\n"
                                   "\n"
                                   "Runs lumrad as this app's launch agent: launchd starts it from the installed\n"
                                   "app and starts it again when it ends. Turning it on asks you to approve it in\n"
                                   "System Settings › General › Login Items & Extensions.\n"
                                   "\n"
                                   "  status           the service's state as a background job\n"
                                   "  on               register it, wait for your approval (60 seconds, or\n"
                                   "                   --wait SECONDS) and for lumrad to answer; exit 0 once it runs\n"
                                   "  off              hand the service's work back and unregister it\n"
                                   "  login-item       the same for the app itself, opened at login\n";

// A wait in whole or fractional seconds, from 0 to a day.
std::optional<std::chrono::nanoseconds> seconds(const std::string& text) {
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0 || value > 86400)
        return std::nullopt;
    return std::chrono::nanoseconds(static_cast<int64_t>(value * 1e9));
}

int refuse(std::ostream& err, const std::string& why) {
    err << "lumra background: " << why << "\n\n" << usage;
    return ExitStatus::usage;
}

// Through the grant layer, which records and logs the failure as the app's
// grants show it.
int turnOn(const Job& job, std::chrono::nanoseconds wait, std::ostream& out, std::ostream& err) {
    try {
        PermissionGrants::JobGrant::turnOn(job, wait);
    } catch (const Job::Failure& failure) {
        err << failure.what() << "\n";
        return ExitStatus::refused;
    }
    out << "running\n";
    return ExitStatus::done;
}

int turnOff(const Job& job, std::ostream& out, std::ostream& err) {
    try {
        job.uninstall();
    } catch (const Job::Failure& failure) {
        err << failure.what() << "\n";
        return ExitStatus::refused;
    }
    out << job.words() << "\n";
    return ExitStatus::done;
}

} // namespace

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    using namespace std::chrono_literals;
    // The install's steps reach the system log; the terminal gets the
    // outcome, and warnings and errors on the way (LOG_LEVEL still rules).
    Log::setLogLevel("warn");
    // The grant layer's warning repeats the failure this command prints:
    // it goes to the record only, unless GRANT_LOG_LEVEL says otherwise.
    ::setenv("GRANT_LOG_LEVEL", "error", 0);
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        out << usage;
        return ExitStatus::done;
    }
    if (arguments.empty()) return refuse(err, "on, off or status?");
    const std::string& verb = arguments[0];
    if (verb == "login-item") {
        if (arguments.size() != 2) return refuse(err, "login-item takes on, off or status");
        Job item = Job::loginItem();
        if (arguments[1] == "on") return turnOn(item, 60s, out, err);
        if (arguments[1] == "off") return turnOff(item, out, err);
        if (arguments[1] == "status") {
            out << item.words() << "\n";
            return ExitStatus::done;
        }
        return refuse(err, "login-item takes on, off or status, not " + arguments[1]);
    }
    if (verb == "status" && arguments.size() == 1) {
        out << LumraJobs::lumrad().words() << "\n";
        return ExitStatus::done;
    }
    if (verb == "off" && arguments.size() == 1) return turnOff(LumraJobs::lumrad(), out, err);
    if (verb == "on") {
        std::chrono::nanoseconds wait = 60s;
        if (arguments.size() == 3 && arguments[1] == "--wait") {
            auto asked = seconds(arguments[2]);
            if (!asked) return refuse(err, "--wait takes a number of seconds from 0 to 86400, not " + arguments[2]);
            wait = *asked;
        } else if (arguments.size() != 1) {
            return refuse(err, "on takes only --wait SECONDS");
        }
        return turnOn(LumraJobs::lumrad(), wait, out, err);
    }
    if (verb == "status" || verb == "off") return refuse(err, verb + " takes no arguments");
    return refuse(err, "unknown command: " + verb);
}

} // namespace Client::Background
