#pragma once

#include "Platform/Launchd.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <variant>
#include <vector>

// Inside the simulated launchd only: what it keeps about each loaded job, in
// launchd/jobs/<domain>/<label>.json under the simulation root, changed under
// an flock on launchd/lock and replaced whole.
namespace Platform::Launchd::Records {

// A process as launchd knows it: its ID and its start (clock ticks since
// boot), so that a reused ID is never taken for it.
struct Process {
    pid_t pid = 0;
    uint64_t started = 0;
    friend bool operator==(const Process&, const Process&) = default;
};

struct Record {
    Job job;      // without a pid: `process` says which one it was
    uint32_t uid = 0; // who the job runs as
    std::optional<Process> process;    // the job's process as last started
    std::optional<Process> supervisor; // the /sbin/launchd that runs it
};

// A label names files: empty, holding "/" or a NUL, starting with "." or too
// long for a file name is refused.
bool validLabel(std::string_view label);

std::filesystem::path recordFile(const std::string& domain, const std::string& label, const std::filesystem::path& root);
std::filesystem::path logFile(const std::string& domain, const std::string& label, const std::filesystem::path& root);
std::filesystem::path lockFile(const std::filesystem::path& root);

// The record of a loaded job; absent when none is loaded (or it is damaged).
std::optional<Record> read(const std::string& domain, const std::string& label, const std::filesystem::path& root);
bool write(const Record& record, const std::filesystem::path& root);
void remove(const std::string& domain, const std::string& label, const std::filesystem::path& root);
// Every readable record, by domain then label.
std::vector<Record> all(const std::filesystem::path& root);

// The job a property list defines, for `domain`: a text saying why not
// otherwise. Paths in the definition are macOS paths.
std::variant<Job, std::string> readDefinition(const std::string& domain, const std::filesystem::path& definition,
                                              const std::optional<std::filesystem::path>& bundle,
                                              const std::filesystem::path& root);

// The process with this ID now, ended or not (a zombie not yet collected).
std::optional<Process> identify(pid_t pid);
// The living process with this ID now (a zombie counts as ended).
std::optional<Process> living(pid_t pid);
bool isAlive(const Process& process);

} // namespace Platform::Launchd::Records
