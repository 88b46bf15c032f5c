#include "AppInstallations/Job.hpp"

#include <Platform/ProcessTable.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/UTF8.hpp>

#include <charconv>
#include <filesystem>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;
namespace Registry = Platform::BackgroundServices;

using Case = Job::Kind::Case;

const std::string launchctl = "/bin/launchctl";
constexpr std::string_view runningMark = "\tstate = running";

// A macOS path with its symbolic links resolved, as far as they exist.
std::string resolved(const std::string& macPath) {
    std::error_code error;
    fs::path real = fs::weakly_canonical(Platform::SimulatedHost::hostPath(macPath), error);
    return error ? macPath : Platform::SimulatedHost::macPath(real);
}

std::string printed(const JobSystem& system, const std::string& target) {
    return system.run(launchctl, {"print", target}).output;
}

} // namespace

std::string launchdTarget(const std::string& label, bool daemon, uint32_t uid) {
    return daemon ? "system/" + label : "gui/" + std::to_string(uid) + "/" + label;
}

std::string launchdTarget(const std::string& label, bool daemon) {
    return launchdTarget(label, daemon, JobSystem::live()->uid());
}

std::optional<int32_t> pidIn(const std::string& output) {
    if (output.find(runningMark) == std::string::npos) return std::nullopt;
    size_t start = 0;
    while (start <= output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = Platform::UTF8::trimmingWhitespace(output.substr(start, end - start));
        if (line.starts_with("pid = ")) {
            std::string_view digits = std::string_view(line).substr(6);
            int32_t pid = 0;
            auto [rest, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
            if (error == std::errc() && rest == digits.data() + digits.size()) return pid;
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> imageIn(const std::string& output) {
    constexpr std::string_view mark = "\"Executable\" => \"";
    size_t found = output.find(mark);
    if (found == std::string::npos) return std::nullopt;
    size_t from = found + mark.size();
    size_t to = output.find('"', from);
    // The first such line decides; a line cut short ends at its line feed.
    size_t lineEnd = output.find('\n', from);
    if (to == std::string::npos || (lineEnd != std::string::npos && lineEnd < to)) return std::nullopt;
    return output.substr(from, to - from);
}

std::optional<int32_t> launchdPID(const std::string& target) { return pidIn(printed(*JobSystem::live(), target)); }

std::optional<std::string> registeredImage(const std::string& target) {
    return imageIn(printed(*JobSystem::live(), target));
}

std::string Job::launchdTargetOf(const std::string& label) const {
    return launchdTarget(label, kind_.which() == Case::daemon, system_->uid());
}

Registry::Handle Job::handle() const {
    switch (kind_.which()) {
    case Case::agent: return {Registry::Handle::Kind::agent, kind_.plist()};
    case Case::daemon: return {Registry::Handle::Kind::daemon, kind_.plist()};
    case Case::loginItem: break;
    }
    return {Registry::Handle::Kind::loginItem, ""};
}

bool Job::registeredElsewhere() const {
    auto jobLabel = label();
    auto bundle = system_->bundle();
    if (!jobLabel || !bundle) return false;
    std::string target = launchdTargetOf(*jobLabel);
    std::string prefix = resolved(*bundle) + "/";
    std::string output = printed(*system_, target);
    std::optional<std::string> image;
    if (auto pid = pidIn(output))
        if (auto path = Platform::ProcessTable::executablePath(*pid)) image = resolved(*path);
    if (!image)
        if (auto registered = imageIn(output)) image = resolved(*registered);
    return image && !image->starts_with(prefix);
}

bool Job::heldByLaunchd() const {
    auto jobLabel = label();
    return jobLabel && system_->run(launchctl, {"print", launchdTargetOf(*jobLabel)}).status == 0;
}

std::function<bool()> Job::launchdRuns() const {
    auto jobLabel = label();
    if (!jobLabel) return [] { return false; };
    return [system = system_, target = launchdTargetOf(*jobLabel)] {
        return printed(*system, target).find(runningMark) != std::string::npos;
    };
}

std::function<bool()> Job::loaded(const std::string& label) {
    return [system = JobSystem::live(), label] {
        return system->run(launchctl, {"print", launchdTarget(label, false, system->uid())}).status == 0;
    };
}

Job::State Job::state(bool probing) const {
    if (kind_.which() != Case::loginItem) {
        auto bundle = system_->bundle();
        if (!bundle) return {State::Bare{"an app bundle"}};
        std::string path = plistPath().value_or(
            (kind_.which() == Case::agent ? "Contents/Library/LaunchAgents/" : "Contents/Library/LaunchDaemons/") +
            kind_.plist());
        std::error_code error;
        if (!plistPath() || !fs::exists(Platform::SimulatedHost::hostPath(*bundle + "/" + path), error))
            return {State::Bare{path}};
    }
    Home home = system_->home();
    const auto* installed = std::get_if<Home::Installed>(&home.place);
    if (installed == nullptr || !scopes().contains(installed->scope)) return {State::Misplaced{home}};
    switch (registry().status(handle())) {
    case Registry::enabled: {
        if (kind_.which() == Case::loginItem) return {State::Running{}};
        if (registeredElsewhere()) return {State::Silent{}};
        auto probe = probing && answers_ ? answers_ : launchdRuns();
        return probe() ? State{State::Running{}} : State{State::Silent{}};
    }
    case Registry::requiresApproval:
        return {State::AwaitingApproval{kind_.which() == Case::daemon && !system_->userIsAdmin()}};
    default: return {State::Off{}};
    }
}

std::string Job::words() const { return words(state(true)); }

std::string Job::words(const State& now) const {
    struct Words {
        const Job& job;
        std::string operator()(const State::AwaitingApproval& a) const {
            return std::string("awaiting approval") + (a.needsAdmin ? " (an admin's act)" : "") + ": " +
                   approvalSteer();
        }
        std::string operator()(const State::Misplaced& m) const {
            return "running from " + m.home.words() + ": " + job.needs();
        }
        std::string operator()(const State::Bare& b) const { return "not part of this build (no " + b.missing + ")"; }
        std::string operator()(const State::Running&) const { return "running"; }
        std::string operator()(const State::Off&) const {
            return job.kind().which() == Case::loginItem ? "off" : "not installed";
        }
        std::string operator()(const State::Silent&) const {
            return job.registeredElsewhere() ? "registered for another copy of the app (moved or replaced)"
                                             : "registered, but not answering";
        }
    };
    return std::visit(Words{*this}, now.value);
}

} // namespace AppInstallation
