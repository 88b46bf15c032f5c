#pragma once

#include <Platform/Clock.hpp>

#include <optional>
#include <string>

// Keeping the background jobs with the right copy of the app: the tombstone
// a deleted copy leaves for the next one, the launchd job this process runs
// as, handing a job over to the app's current copy and leaving launchd.
// (Job::settle, in Job.hpp, decides job by job at each launch.) Paths are
// macOS paths.
namespace AppInstallation {

// A small dated file saying that the app with a bundle identifier was
// deleted, so that its job records are cleared rather than revived.
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

} // namespace Tombstone

// The launchd job this process runs as.
struct OwnJob {
    std::string label;
    std::string plist; // the definition's file name in the bundle
    bool operator==(const OwnJob&) const = default;
};
std::optional<OwnJob> ownJob();
std::optional<std::string> ownJobLabel();

// Asks the app's current copy at `to` to take over the job `key` (its switch
// value) that this process holds under the launchd `target`, and waits for
// that copy to end. Nothing for a daemon.
void handOver(const std::string& target, const std::string& key, const std::string& to);

// Leaves for good. With a job label: hands over (when `reopening` and
// `handoff` are given), boots this process's own job out of launchd and
// exits 0, never returning. Without one (the app): reopens `reopening` when
// given, asks the app to quit and returns.
void leave(const std::optional<std::string>& job, const std::optional<std::string>& reopening,
           const std::optional<std::string>& handoff);

} // namespace AppInstallation
