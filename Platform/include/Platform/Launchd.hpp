#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The simulated Mac's launchd: jobs loaded into a domain ("gui/<uid>" for a
// person's agents, "system" for daemons) from their property-list
// definitions, and run for real. Each loaded job has a record under
// launchd/ in the simulation root and, while it runs, a detached process of
// its own with a clean environment plus XPC_SERVICE_NAME = the label,
// inheriting no descriptor of whoever loaded it. A job that exits is started
// again when its definition says KeepAlive (throttled). A daemon runs as the
// simulated root. Liveness is the recorded pid with its start time, so a
// reused pid is never taken for the job. Paths are host paths. Any thread;
// records are safe between processes.
namespace Platform::Launchd {

// One loaded job as launchd holds it.
struct Job {
    std::string domain; // "gui/501", "system"
    std::string label;
    std::filesystem::path definition;     // the property list it was loaded from
    std::vector<std::string> programArguments; // the program (host path) first
    bool runAtLoad = false;
    bool keepAlive = false;
    std::optional<pid_t> pid;        // while the job's process runs
    std::optional<int> lastExitStatus;
    unsigned runs = 0;               // how many times it was started
};

// The domain of the person with `uid`'s agents, or of the daemons.
std::string guiDomain(uint32_t uid);
inline constexpr const char* systemDomain = "system";

// The uid whose jobs a domain holds: root's (0) for "system", <uid> for
// "gui/<uid>"; absent for any other text ("gui/0501" included, so that a
// domain has one name).
std::optional<uint32_t> domainUID(std::string_view domain);

// Loads the job the property list at `definition` defines into `domain`
// and starts it when RunAtLoad says so. `bundle`, when given, is the app
// bundle whose folder a BundleProgram is relative to. A label with "/" or a
// leading "." is refused. Answers an error text, or nothing on success (a
// job already loaded under that label is an error, as on the platform).
std::optional<std::string> bootstrap(const std::string& domain, const std::filesystem::path& definition,
                                     const std::optional<std::filesystem::path>& bundle,
                                     const std::filesystem::path& root);

// Stops the job (SIGTERM, SIGKILL after a grace period) and forgets it;
// false when no such job is loaded.
bool bootout(const std::string& domain, const std::string& label, const std::filesystem::path& root);

// The job, with its pid while it runs; nothing when it is not loaded.
std::optional<Job> find(const std::string& domain, const std::string& label, const std::filesystem::path& root);

// Every loaded job, by domain then label.
std::vector<Job> list(const std::filesystem::path& root);

// Starts the job now; with `kill`, ends a running process first, so the job
// runs with a new pid. False when no such job is loaded or it cannot start.
bool kickstart(const std::string& domain, const std::string& label, bool kill, const std::filesystem::path& root);

// Boots out every job of the machine (tests end with it).
void stopAll(const std::filesystem::path& root);

// Where the job's standard output and error are appended:
// launchd/logs/<domain>/<label>.log under the root.
std::filesystem::path logFile(const std::string& domain, const std::string& label, const std::filesystem::path& root);

} // namespace Platform::Launchd
