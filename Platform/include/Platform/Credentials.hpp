#pragma once

#include "Platform/Accounts.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sys/types.h>

// Who a process runs as on the simulated Mac, and who owns a file there.
//
// On the host every program runs as the host's user, so the simulation keeps
// its own credentials. Only trusted stand-ins (sudo, later launchd) give a
// process another user: they record it under accounts/processes/<pid> with
// the process's start time, so a record outlives neither the process nor a
// reuse of its ID. A process runs as the user recorded for itself or for its
// nearest ancestor that has a record, as a real uid is inherited; without
// any, as the person. No environment variable can make anyone root.
namespace Platform::Credentials {

// The simulated uid this process runs as.
uint32_t currentUID();
uint32_t currentUID(const std::filesystem::path& root);

// The account this process runs as; the person when the directory does not
// know the uid recorded.
Accounts::User currentUser();

// Records that this process (and, through inheritance, everything it starts
// from now on) runs as `uid`. Only the stand-ins that play the system's
// privileged parts call it. False when the record cannot be written.
bool assume(uint32_t uid, const std::filesystem::path& root);

// Records that the running process `pid` runs as `uid`; false when the
// process is gone or the record cannot be written.
bool recordProcess(pid_t pid, uint32_t uid, const std::filesystem::path& root);

// Removes this process's record (a stand-in that is done).
void release(const std::filesystem::path& root);

// The uid recorded for `pid`, when the record is about the process that
// runs under that ID now.
std::optional<uint32_t> recordedUID(pid_t pid, const std::filesystem::path& root);

// Who owns a file on the simulated machine. The host owns every file as the
// host's user, so ownership given by root (chown) is recorded in
// accounts/owners.json for the file (its device and inode, so a rename keeps
// it) with the version of its content (modification time and size): a later
// write drops it. A file without a valid record belongs to the person, group
// staff.
struct Owner {
    uint32_t uid = 0;
    uint32_t gid = 0;
    friend bool operator==(const Owner&, const Owner&) = default;
};

// The owner of the file at host path `path`; absent when it does not exist.
std::optional<Owner> ownerOf(const std::filesystem::path& path, const std::filesystem::path& root);

// Gives the file to `owner`, as chown does: only a process running as root
// may; false otherwise or when the file or the record cannot be reached.
// Call it after the file's last write.
bool changeOwner(const std::filesystem::path& path, Owner owner, const std::filesystem::path& root);

} // namespace Platform::Credentials
