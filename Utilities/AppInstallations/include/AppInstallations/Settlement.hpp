#pragma once

#include "AppInstallations/Job.hpp"

#include <Platform/Clock.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Keeping the background jobs with the right copy of the app: the tombstone
// a deleted copy leaves for the next one, the launchd job this process runs
// as, handing a job over to the app's current copy and leaving launchd.
// (Job::settle, in Job.hpp, decides job by job at each launch.) Paths are
// macOS paths.
namespace AppInstallation {

// A small dated file saying that the app with a bundle identifier was
// deleted, so that its job records are cleared rather than revived. An
// identifier that is not plain (isPlainIdentifier) could lead out of the
// folders: its tombstone is neither read nor written, with a warning. Any
// thread; writes replace files whole.
namespace Tombstone {

// The latest deletion date of the user's and the system's tombstones, unless
// one no later than it was applied already.
std::optional<Platform::Date> pending(const std::string& bundleID);
// Remembers `date` as applied and removes the user's tombstone when it is no
// newer than `date`.
void applied(const std::string& bundleID, Platform::Date date);
// Writes now as the deletion date: into the system's folder as the
// superuser, else into the user's.
void write(const std::string& bundleID);
// "/Library/Application Support/AppInstallations", or the same under the
// user's home.
std::string folder(bool system);

// A tombstone's content is Platform::ISODate::format of the deletion.
// The date a tombstone holds, surrounding white space ignored; "Z" or an
// offset such as "+01:00". None for anything else.
std::optional<Platform::Date> parse(std::string_view content);

} // namespace Tombstone

// What settling the jobs acts through: the job system of the jobs it makes
// itself (the login item, undescribed definitions) and the tombstone. The
// live one is the running app's; tests hand in fakes.
struct SettleSystem {
    std::shared_ptr<const JobSystem> jobs;
    std::function<std::optional<Platform::Date>(const std::string&)> pending;
    std::function<void(const std::string&, Platform::Date)> applied;

    static const SettleSystem& live();
};

// Job::settle through `system`.
void settle(const std::string& in, const std::vector<Job>& own, const std::vector<std::string>& arguments,
            const SettleSystem& system);

// The launchd job this process runs as.
struct OwnJob {
    std::string label;
    std::string plist; // the definition's file name in the bundle
    bool operator==(const OwnJob&) const = default;
};
// Found through XPC_SERVICE_NAME, which launchd sets to the job's label.
std::optional<OwnJob> ownJob();
std::optional<std::string> ownJobLabel();
// The definition of the bundle whose Label is `serviceName`: the agents
// first, then the daemons, each folder in name order. None without a
// bundle, for an empty name or "0" (no job).
std::optional<OwnJob> ownJob(const std::optional<std::string>& bundle, std::string_view serviceName);

// Asks the app's current copy at `to` to take over the job `key` (its switch
// value) that this process holds under the launchd `target`, and waits for
// that copy to end. Nothing for a daemon.
void handOver(const std::string& target, const std::string& key, const std::string& to);

// Leaves for good. With a job label: hands over (when `reopening` and
// `handoff` are given), boots this process's own job out of launchd (unless
// launchd runs another copy's process for it now) and exits 0, never
// returning, also when launchd's SIGTERM comes first. Without one (the app):
// reopens `reopening` when given, asks the app to quit and returns.
void leave(const std::optional<std::string>& job, const std::optional<std::string>& reopening,
           const std::optional<std::string>& handoff);

} // namespace AppInstallation
