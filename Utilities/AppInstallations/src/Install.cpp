#include "AppInstallations/InstallFlights.hpp"
#include "AppInstallations/Job.hpp"

#include <Platform/SimulatedHost.hpp>
#include <Platform/Trash.hpp>
#include <Log/Output.hpp>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

namespace AppInstallation {

namespace {

namespace Registry = Platform::BackgroundServices;
using namespace std::chrono_literals;
using Case = Job::Kind::Case;

constexpr int registerRetries = 5;
constexpr auto registerPause = 1s;
constexpr auto approvalPoll = 500ms;
constexpr auto answerWait = 10s;
constexpr auto answerPause = 500ms;
// How often a probe that has not answered yet is looked at: real time, so
// a quick probe is taken at once, and time on the job's clock, so a
// hanging one runs into the deadline under virtual time as well.
constexpr auto probeGlance = 5ms;
constexpr auto probeSlice = 100ms;

// bare and misplaced end an install before anything is touched.
void throwIfUnfit(const Job& job, const Job::State& state) {
    if (const auto* bare = std::get_if<Job::State::Bare>(&state.value))
        throw Job::Failure(Job::Failure::Bare{bare->missing});
    if (const auto* misplaced = std::get_if<Job::State::Misplaced>(&state.value))
        throw Job::Failure(Job::Failure::Misplaced{misplaced->home, job.needs()});
}

Log::Fields jobField(const Job& job) { return {{"job", job.name()}}; }

} // namespace

Job::State Job::install(std::chrono::nanoseconds approvalWait, bool afresh) const {
    return InstallFlights::shared().run(
        switchValue(), [job = *this, approvalWait, afresh] { return job.performInstall(approvalWait, afresh); });
}

Job::State Job::performInstall(std::chrono::nanoseconds approvalWait, bool afresh) const {
    throwIfUnfit(*this, state(true));
    removeStrayDefinition();
    bool silent = afresh && registry().status(handle()) == Registry::enabled;
    if (!silent) {
        State now = state(true);
        if (std::holds_alternative<State::Running>(now.value)) return now;
        throwIfUnfit(*this, now);
        silent = std::holds_alternative<State::Silent>(now.value);
    }
    if (silent) {
        installLog().info(registeredElsewhere() ? "registered for another copy: moving the registration here"
                                                : "on but not answering: registering afresh",
                          [&] { return jobField(*this); });
        // The registration is made anew whatever became of the old one.
        (void)stop();
    }
    registerJob();
    awaitApproval(approvalWait);
    if (kind_.which() == Case::loginItem) return {State::Running{}};
    if (answering(answers_ ? answers_ : launchdRuns())) return {State::Running{}};
    throw Failure(Failure::Silent{});
}

void Job::registerJob() const {
    Registry::Failure last;
    for (int attempt = 0; attempt <= registerRetries; ++attempt) {
        auto refused = registry().registerService(handle());
        if (!refused) {
            int32_t status = registry().status(handle());
            installLog().info("registered", [&] { return Log::Fields{{"job", name_}, {"status", status}}; });
            return;
        }
        if (refused->code == Registry::alreadyRegistered) return;
        if (refused->code == Registry::invalidSignature)
            throw Failure(Failure::Register{refused->description +
                                            " (SMAppService needs the bundle signed by a team, never ad hoc)"});
        if (registry().status(handle()) == Registry::requiresApproval) {
            installLog().info("held for approval already", [&] {
                return Log::Fields{{"job", name_}, {"refusal", refused->description}};
            });
            return;
        }
        last = *refused;
        if (attempt < registerRetries) system_->sleeper->sleepFor(registerPause);
    }
    if (last.code == Registry::operationNotPermitted || last.code == Registry::launchDeniedByUser) {
        registry().openSystemSettingsLoginItems();
        throw Failure(Failure::SwitchedOff{});
    }
    throw Failure(Failure::Register{last.description});
}

void Job::awaitApproval(std::chrono::nanoseconds within) const {
    Platform::Clock& clock = *system_->clock;
    auto deadline = clock.now() + within;
    auto unexpected = [](int32_t status) {
        return Failure(Failure::Register{"status " + std::to_string(status) + " after registering"});
    };
    int32_t status = registry().status(handle());
    if (status == Registry::enabled) return;
    if (status != Registry::requiresApproval) throw unexpected(status);
    installLog().info("awaiting approval: opened Login Items", [&] { return jobField(*this); });
    registry().openSystemSettingsLoginItems();
    while (clock.now() < deadline) {
        system_->sleeper->sleepFor(approvalPoll);
        status = registry().status(handle());
        if (status == Registry::enabled) return;
        if (status != Registry::requiresApproval) throw unexpected(status);
    }
    // Approving an agent needs an admin too, unlike what the state says.
    throw Failure(Failure::AwaitingApproval{kind_.which() != Case::loginItem && !system_->userIsAdmin()});
}

bool Job::answering(const std::function<bool()>& probe) const {
    Platform::Clock& clock = *system_->clock;
    auto deadline = clock.now() + answerWait;
    while (clock.now() < deadline) {
        // The probe runs on a thread of its own that nobody waits to end:
        // one that hangs must neither hold the install nor its joiners
        // past the deadline.
        auto answer = std::make_shared<std::promise<bool>>();
        std::future<bool> answered = answer->get_future();
        std::thread([probe, answer] {
            bool yes = false;
            try {
                yes = probe();
            } catch (...) {
            }
            answer->set_value(yes);
        }).detach();
        while (answered.wait_for(probeGlance) != std::future_status::ready) {
            if (clock.now() >= deadline) return false;
            system_->sleeper->sleepFor(probeSlice);
        }
        if (answered.get()) return true;
        system_->sleeper->sleepFor(answerPause);
    }
    return false;
}

std::optional<Registry::Failure> Job::stop() const {
    if (handBack_) {
        installLog().info("handing back before stopping", [&] { return jobField(*this); });
        handBack_();
    }
    return registry().unregisterService(handle());
}

void Job::uninstall() const {
    int32_t status = registry().status(handle());
    if (status != Registry::enabled && status != Registry::requiresApproval) return;
    if (auto refused = stop()) {
        if (refused->code == Registry::jobNotFound) return;
        throw Failure(Failure::Register{refused->description});
    }
    installLog().info("uninstalled", [&] { return jobField(*this); });
}

void Job::restart() const {
    if (kind_.which() != Case::agent) {
        installLog().error("restart asked for a job that is no agent", [&] { return jobField(*this); });
        Log::flushLog();
        std::abort();
    }
    auto jobLabel = label();
    if (!jobLabel) {
        // The label comes from a file in the bundle: a damaged one is no
        // reason to end the app.
        installLog().error("cannot restart: no label in its definition", [&] { return jobField(*this); });
        return;
    }
    auto ran = system_->run("/bin/launchctl", {"kickstart", "-k", launchdTarget(*jobLabel, false, system_->uid())});
    installLog().info("restarted", [&] { return Log::Fields{{"job", name_}, {"status", ran.status}}; });
}

void Job::removeStrayDefinition() const {
    if (kind_.which() != Case::agent) return;
    auto jobLabel = label();
    if (!jobLabel) return;
    std::string home = system_->homeFolder();
    if (!home.ends_with('/')) home += '/';
    std::string path = home + "Library/LaunchAgents/" + *jobLabel + ".plist";
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(Platform::SimulatedHost::hostPath(path), error)))
        return;
    system_->run("/bin/launchctl", {"bootout", "gui/" + std::to_string(system_->uid()), path});
    auto trashed = Platform::Trash::moveToTrash(path);
    if (const auto* failure = std::get_if<Platform::Trash::Failure>(&trashed))
        installLog().error("stray definition stays", [&] {
            return Log::Fields{{"path", path}, {"err", failure->text}};
        });
    else
        installLog().warn("a stray definition went to the Trash", [&] { return Log::Fields{{"path", path}}; });
}

} // namespace AppInstallation
