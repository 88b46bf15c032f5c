#include "AppInstallations/Settlement.hpp"

#include <Platform/ISODate.hpp>
#include <Platform/MainBundle.hpp>
#include <Platform/SimulatedHost.hpp>

#include <algorithm>
#include <chrono>
#include <exception>

namespace AppInstallation {

namespace {

using namespace std::chrono_literals;

constexpr auto approvalWait = 60s;
constexpr std::string_view turnOnSwitch = "--app-installation-turn-on";
constexpr std::string_view staleSwitch = "--app-installation-stale";

// The values following each `name` in the arguments, in order, once each;
// a switch in last place has none.
std::vector<std::string> valuesOf(std::string_view name, const std::vector<std::string>& arguments) {
    std::vector<std::string> values;
    for (size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == name && std::find(values.begin(), values.end(), arguments[i + 1]) == values.end())
            values.push_back(arguments[i + 1]);
    return values;
}

bool contains(const std::vector<std::string>& values, const std::string& value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

Log::Fields jobField(const Job& job) { return {{"job", job.name()}}; }

void turnOn(const Job& job, bool afresh) {
    try {
        job.install(approvalWait, afresh);
    } catch (const std::exception& failure) {
        installLog().warn("could not turn on", [&] {
            return Log::Fields{{"job", job.name()}, {"err", std::string(failure.what())}};
        });
    }
}

// Whether the job's record may be one a deleted install left: one waiting
// for an approval nobody gives, or a silent one that launchd holds for
// another copy or holds no more (the deleted copy's job left launchd as it
// went, and a copy put back at the same place finds its record). A silent
// job launchd holds for this very copy is only starting, and stays.
bool deletedInstallsRecord(const Job& job, const Job::State& state) {
    if (std::holds_alternative<Job::State::AwaitingApproval>(state.value)) return true;
    return std::holds_alternative<Job::State::Silent>(state.value) &&
           (job.registeredElsewhere() || !job.heldByLaunchd());
}

void settleOne(const Job& job, const std::vector<std::string>& turnOnSet, const std::vector<std::string>& staleSet,
               const std::optional<Platform::Date>& deleted) {
    std::string key = job.switchValue();
    if (contains(staleSet, key)) {
        installLog().info("its old copy moved away: registering afresh here", [&] { return jobField(job); });
        turnOn(job, true);
        return;
    }
    if (contains(turnOnSet, key)) {
        installLog().info("turning on, as asked before the move", [&] { return jobField(job); });
        turnOn(job, false);
        return;
    }
    Job::State state = job.state(true);
    if (deleted && deletedInstallsRecord(job, state)) {
        installLog().info("a deleted install's record: cleared, not revived", [&] {
            return Log::Fields{{"job", job.name()}, {"deleted", Platform::ISODate::format(*deleted)}};
        });
        try {
            job.uninstall();
        } catch (const std::exception&) {
            // What is left of the record is no reason to stop settling.
        }
        return;
    }
    if (std::holds_alternative<Job::State::Silent>(state.value)) {
        installLog().info("on, but not answering from this copy: registering afresh", [&] { return jobField(job); });
        turnOn(job, false);
    }
}

} // namespace

const SettleSystem& SettleSystem::live() {
    static const SettleSystem system{JobSystem::live(), Tombstone::pending, Tombstone::applied};
    return system;
}

void settle(const std::string& in, const std::vector<Job>& own, const std::vector<std::string>& arguments,
            const SettleSystem& system) {
    std::vector<std::string> turnOnSet = valuesOf(turnOnSwitch, arguments);
    std::vector<std::string> staleSet = valuesOf(staleSwitch, arguments);

    std::vector<Job> candidates = Job::declared(in, own, system.jobs);
    candidates.push_back(Job::loginItem(system.jobs));

    std::vector<std::string> named = turnOnSet;
    for (const auto& value : staleSet)
        if (!contains(named, value)) named.push_back(value);
    for (const auto& value : named) {
        bool declared = std::any_of(candidates.begin(), candidates.end(),
                                    [&](const Job& job) { return job.switchValue() == value; });
        if (!declared)
            installLog().warn("named a job this copy does not declare; ignored", [&] {
                return Log::Fields{{"job", value}};
            });
    }

    std::string bundleID =
        Platform::readBundleIdentifier(Platform::SimulatedHost::hostPath(in) / "Contents/Info.plist").value_or("");
    std::optional<Platform::Date> deleted = system.pending(bundleID);

    for (const Job& job : candidates) settleOne(job, turnOnSet, staleSet, deleted);

    if (deleted) system.applied(bundleID, *deleted);
}

void Job::settle(const std::string& in, const std::vector<Job>& own, const std::vector<std::string>& arguments) {
    AppInstallation::settle(in, own, arguments, SettleSystem::live());
}

} // namespace AppInstallation
