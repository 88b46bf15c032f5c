#include "AppInstallations/Move.hpp"
#include "AppInstallations/BundleCopy.hpp"

#include <Platform/Files.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Trash.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;
namespace Registry = Platform::BackgroundServices;
using Case = Job::Kind::Case;

std::string describe(MoveError::Case which, const std::string& text) {
    switch (which) {
    case MoveError::Case::copy: return "copying into Applications: " + text;
    case MoveError::Case::open: return "opening the app in Applications: " + text;
    case MoveError::Case::noBundle: break;
    }
    return "not running from an app bundle";
}

std::vector<std::string> names(const std::vector<Job>& jobs) {
    std::vector<std::string> named;
    for (const Job& job : jobs) named.push_back(job.name());
    return named;
}

bool listed(const std::vector<Job>& jobs, const Job& job) {
    return std::any_of(jobs.begin(), jobs.end(),
                       [&](const Job& other) { return other.switchValue() == job.switchValue(); });
}

// The caller's jobs, and, when the app leaves one Applications folder for
// the other, every other job the bundle declares that is on: the new copy
// must keep running them.
std::vector<Job> jobsToHandOver(const std::string& bundle, const std::vector<Job>& turningOn, bool leftover) {
    std::vector<Job> jobs = turningOn;
    if (!leftover) return jobs;
    for (const Job& declared : Job::declared(bundle, {}))
        if (declared.registryStatus() == Registry::enabled && !listed(turningOn, declared)) jobs.push_back(declared);
    return jobs;
}

// The copy already in the scope's folder, or a fresh copy of the bundle
// made there.
std::string destinationIn(Scope scope, const std::string& bundle) {
    if (auto copy = installedCopy({scope})) return *copy;
    std::string holder = folder(scope);
    std::string destination = holder + "/" + fs::path(bundle).filename().string();
    if (auto made = Platform::Files::createDirectories(Platform::SimulatedHost::hostPath(holder)))
        throw MoveError::copy(made.message());
    if (auto failed =
            copyBundle(Platform::SimulatedHost::hostPath(bundle), Platform::SimulatedHost::hostPath(destination)))
        throw MoveError::copy(*failed);
    installLog().info("copied into Applications", [&] { return Log::Fields{{"from", bundle}, {"to", destination}}; });
    return destination;
}

// A job this copy stopped, and whether it was running or still awaiting
// the person's approval.
struct Stopped {
    Job job;
    bool approved;
};

// Stops the leftover copy's agents and daemons so the new copy can take
// them; a job that will not stop is left running with a warning.
std::vector<Stopped> stopJobs(const std::vector<Job>& jobs) {
    std::vector<Stopped> stopped;
    for (const Job& job : jobs) {
        if (job.kind().which() == Case::loginItem) continue;
        int32_t status = job.registryStatus();
        try {
            job.uninstall();
        } catch (const std::exception& failure) {
            installLog().warn("could not hand over", [&] {
                return Log::Fields{{"job", job.name()}, {"err", std::string(failure.what())}};
            });
            continue;
        }
        if (status == Registry::enabled || status == Registry::requiresApproval)
            stopped.push_back({job, status == Registry::enabled});
    }
    return stopped;
}

// When the new copy cannot be opened, this copy takes its jobs back as
// they were: nobody would turn them on again otherwise. Best effort, with
// no wait for the person.
void restartJobs(const std::vector<Stopped>& stopped) {
    for (const Stopped& entry : stopped) {
        try {
            if (entry.approved)
                entry.job.install(std::chrono::nanoseconds(0));
            else
                entry.job.registerJob();
            installLog().info("turned back on after the failed move", [&] {
                return Log::Fields{{"job", entry.job.name()}};
            });
        } catch (const std::exception& failure) {
            installLog().warn("could not turn back on", [&] {
                return Log::Fields{{"job", entry.job.name()}, {"err", std::string(failure.what())}};
            });
        }
    }
}

void trashLeftover(const std::string& bundle) {
    auto trashed = Platform::Trash::moveToTrash(bundle);
    if (const auto* failure = std::get_if<Platform::Trash::Failure>(&trashed)) {
        installLog().warn("could not trash the copy left behind", [&] {
            return Log::Fields{{"path", bundle}, {"err", failure->text}};
        });
        return;
    }
    const std::string& now = std::get<std::string>(trashed);
    installLog().info("the copy left behind moved to the Trash", [&] {
        return Log::Fields{{"path", bundle}, {"now", now.empty() ? std::string("?") : now}};
    });
}

} // namespace

MoveError::MoveError(Case which, std::string text)
    : case_(which), text_(std::move(text)), description_(describe(which, text_)) {}

void moveHome(Scope to, const std::vector<Job>& turningOn) {
    auto running = bundle();
    if (!running) throw MoveError::noBundle();
    const std::string& from = *running;

    Home now = home();
    const auto* installed = std::get_if<Home::Installed>(&now.place);
    bool leftover = installed != nullptr && installed->scope != to;
    std::vector<Job> jobs = jobsToHandOver(from, turningOn, leftover);

    std::string destination = destinationIn(to, from);

    if (isRunning(destination)) {
        run("/usr/bin/open", {destination});
        installLog().info("the app in Applications is already running: brought forward; leaving", [&] {
            return Log::Fields{{"from", from}, {"jobs not carried", names(jobs)}};
        });
        quit();
        return;
    }

    std::vector<Stopped> stopped;
    if (leftover) stopped = stopJobs(jobs);

    std::vector<std::string> arguments;
    for (const Job& job : jobs) arguments.insert(arguments.end(), {"--app-installation-turn-on", job.switchValue()});
    if (int32_t status = open(destination, arguments, false); status != 0) {
        restartJobs(stopped);
        throw MoveError::open("open exited " + std::to_string(status));
    }
    installLog().info("opened the app in Applications; leaving", [&] {
        return Log::Fields{{"from", from}, {"jobs handed over", names(jobs)}};
    });

    if (leftover) trashLeftover(from);
    quit();
}

} // namespace AppInstallation
