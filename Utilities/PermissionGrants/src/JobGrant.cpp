#include "PermissionGrants/JobGrant.hpp"
#include "PermissionGrants/GrantLog.hpp"

#include <Platform/Dispatch.hpp>

#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace PermissionGrants {

namespace {

using Job = AppInstallation::Job;
using State = Job::State;
using namespace std::chrono_literals;

constexpr auto approvalWait = 60s;

// A lock-guarded map from a job's name to a text. Never destroyed: a
// detached install may record its failure while the process ends.
struct ByJob {
    std::mutex lock;
    std::map<std::string, std::string, std::less<>> texts;

    std::optional<std::string> find(const std::string& name) {
        std::lock_guard guard(lock);
        auto found = texts.find(name);
        if (found == texts.end()) return std::nullopt;
        return found->second;
    }
    void set(const std::string& name, std::string text) {
        std::lock_guard guard(lock);
        texts[name] = std::move(text);
    }
    // Whether the text was new for the name; stores it either way.
    bool change(const std::string& name, const std::string& text) {
        std::lock_guard guard(lock);
        auto [found, added] = texts.try_emplace(name, text);
        if (!added && found->second == text) return false;
        found->second = text;
        return true;
    }
    void erase(const std::string& name) {
        std::lock_guard guard(lock);
        texts.erase(name);
    }
};

// The text of the last failure to turn each job on.
ByJob& failures() {
    static auto* byJob = new ByJob;
    return *byJob;
}

// The words last logged for each job.
ByJob& readings() {
    static auto* byJob = new ByJob;
    return *byJob;
}

void fail(const Job& job, const std::string& message) {
    grantLog.warn("could not turn on", [&] { return Log::Fields{{"grant", job.name()}, {"why", message}}; });
    failures().set(job.name(), message);
}

void record(const Job& job, const State& state) {
    std::string words = job.words(state);
    if (!readings().change(job.name(), words)) return;
    bool running = std::holds_alternative<State::Running>(state.value);
    grantLog.info("reads " + (running ? std::string("allowed") : words),
                  [&] { return Log::Fields{{"grant", job.name()}}; });
}

// Installs, recording any failure but a wait for the person's approval.
State install(const Job& job, std::chrono::nanoseconds wait) {
    try {
        return job.install(wait);
    } catch (const Job::Failure& failure) {
        if (!std::holds_alternative<Job::Failure::AwaitingApproval>(failure.reason())) fail(job, failure.what());
        throw;
    } catch (const std::exception& error) {
        fail(job, error.what());
        throw;
    }
}

void onMainLoop(std::function<void()> completion) { Platform::mainLoop().async(std::move(completion)); }

std::string misplacedAction(const std::vector<AppInstallation::Scope>& installFor,
                            const JobGrant::Relocation& relocation) {
    if (relocation.installedCopy(installFor)) return "Open in Applications";
    return installFor.size() == 1 ? "Move to Applications" : "Move to Applications\u2026";
}

std::string misplacedNote(const Job& job) {
    if (job.scopes() == std::set<AppInstallation::Scope>{AppInstallation::Scope::everyone})
        return "Only works installed for everyone, in Applications.";
    return "Only works from the Applications folder.";
}

// Moves the app into `scope`, off the main thread, turning the job on there.
void moveThere(const Job& job, AppInstallation::Scope scope, std::function<void()> completion,
              const JobGrant::Relocation& relocation) {
    std::thread([job, scope, completion = std::move(completion), relocation] {
        try {
            relocation.moveHome(scope, {job});
        } catch (const std::exception& error) {
            fail(job, error.what());
        }
        onMainLoop(completion);
    }).detach();
}

} // namespace

Standing JobGrant::standing(const Job& job, const std::vector<Scope>& installFor, const Relocation& relocation) {
    State state = job.state(true);
    record(job, state);
    const auto& now = state.value;
    if (const auto* awaiting = std::get_if<State::AwaitingApproval>(&now))
        return Standing::broken("Open Login Items",
                                (awaiting->needsAdmin ? "Needs an admin's OK. " : "Waiting for your OK. ") +
                                    Job::approvalSteer());
    if (std::holds_alternative<State::Misplaced>(now))
        return Standing::broken(misplacedAction(installFor, relocation), misplacedNote(job));
    if (std::holds_alternative<State::Bare>(now)) return Standing::unknown("Not part of this build.");
    if (std::holds_alternative<State::Running>(now)) return Standing::good();
    // Off or silent: a failure to turn it on says more than the state.
    if (auto failure = failures().find(job.name())) return Standing::broken("Try Again", *failure);
    if (std::holds_alternative<State::Off>(now)) return Standing::askable("Turn On");
    return Standing::broken("Restart", "Installed, but not answering.");
}

Job::State JobGrant::turnOn(const Job& job, std::chrono::nanoseconds wait) {
    failures().erase(job.name());
    return install(job, wait);
}

void JobGrant::ask(const Job& job, const std::vector<Scope>& installFor, std::function<void()> completion,
                   const Relocation& relocation) {
    failures().erase(job.name());
    // Probing and installing block for seconds, a minute at worst.
    std::thread([job, installFor, completion = std::move(completion), relocation]() mutable {
        State state = job.state(true);
        if (std::holds_alternative<State::Off>(state.value) || std::holds_alternative<State::Silent>(state.value)) {
            try {
                install(job, approvalWait);
            } catch (const std::exception&) {
                // Recorded by install(); the standing shows it.
            }
        } else if (std::holds_alternative<State::AwaitingApproval>(state.value)) {
            grantLog.info("opened Login Items", [&] { return Log::Fields{{"grant", job.name()}}; });
            Job::openApprovalSettings();
        } else if (std::holds_alternative<State::Misplaced>(state.value)) {
            return onMainLoop([job, installFor, completion, relocation] {
                pick(
                    installFor,
                    [job, completion, relocation](std::optional<Scope> scope) {
                        if (!scope) return completion();
                        moveThere(job, *scope, completion, relocation);
                    },
                    relocation);
            });
        }
        onMainLoop(std::move(completion));
    }).detach();
}

} // namespace PermissionGrants
