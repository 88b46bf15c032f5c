#include "Platform/Credentials.hpp"
#include "Ownership.hpp"
#include "Platform/Files.hpp"
#include "Platform/ProcessTable.hpp"
#include "Platform/SimulatedHost.hpp"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::Credentials {

namespace {

using nlohmann::json;

// Deeper than any real chain of processes; a guard against a loop in a
// /proc read mid-change.
constexpr int maxAncestors = 64;

std::filesystem::path recordFile(pid_t pid, const std::filesystem::path& root) {
    return root / "accounts/processes" / std::to_string(pid);
}

std::optional<std::string> statLine(pid_t pid) {
    return Files::read("/proc/" + std::to_string(pid) + "/stat");
}

// The parent's ID: the second field after the command name in parentheses.
std::optional<pid_t> parentOf(pid_t pid) {
    auto line = statLine(pid);
    if (!line) return std::nullopt;
    size_t close = line->rfind(')');
    if (close == std::string::npos || close + 4 >= line->size()) return std::nullopt;
    std::string_view rest = std::string_view(*line).substr(close + 4); // ") S " then the parent
    pid_t parent = 0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), parent);
    if (error != std::errc()) return std::nullopt;
    return parent;
}

// This process's uid once found: a real uid does not change when the parent
// goes away. -1 while unknown.
std::atomic<int64_t> cachedUID{-1};

std::filesystem::path ownersFile(const std::filesystem::path& root) { return root / "accounts/owners.json"; }

class OwnersLock {
public:
    explicit OwnersLock(const std::filesystem::path& root) {
        Files::createDirectories(root / "accounts");
        fd_ = ::open((root / "accounts/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~OwnersLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    OwnersLock(const OwnersLock&) = delete;
    OwnersLock& operator=(const OwnersLock&) = delete;

private:
    int fd_ = -1;
};

// Ownership belongs to the file itself (its device and inode), whatever its
// name, so a file given away and then renamed into place keeps its owner.
std::string fileKey(const struct stat& info) {
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

// One version of the file's content: a write changes it, and a new file
// under a reused inode differs.
json version(const struct stat& info) {
    return {{"modified", static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec},
            {"size", static_cast<int64_t>(info.st_size)}};
}

json readOwners(const std::filesystem::path& root) {
    auto text = Files::read(ownersFile(root));
    json owners = text ? json::parse(*text, nullptr, false) : json::object();
    return owners.is_object() ? owners : json::object();
}

} // namespace

std::optional<uint32_t> recordedUID(pid_t pid, const std::filesystem::path& root) {
    auto text = Files::read(recordFile(pid, root));
    if (!text) return std::nullopt;
    json record = json::parse(*text, nullptr, false);
    if (!record.is_object() || !record["uid"].is_number_unsigned() || !record["started"].is_number_unsigned())
        return std::nullopt;
    auto started = ProcessTable::startTicks(pid);
    if (!started || *started != record["started"].get<uint64_t>()) return std::nullopt;
    return record["uid"].get<uint32_t>();
}

uint32_t currentUID(const std::filesystem::path& root) {
    pid_t pid = ::getpid();
    for (int depth = 0; depth < maxAncestors && pid > 1; ++depth) {
        if (auto uid = recordedUID(pid, root)) return *uid;
        auto parent = parentOf(pid);
        if (!parent) break;
        pid = *parent;
    }
    return Accounts::person().uid;
}

uint32_t currentUID() {
    int64_t known = cachedUID.load();
    if (known >= 0) return static_cast<uint32_t>(known);
    uint32_t uid = currentUID(SimulatedHost::root());
    cachedUID.store(uid);
    return uid;
}

Accounts::User currentUser() {
    uint32_t uid = currentUID();
    if (auto account = Accounts::user(uid)) return *account;
    return Accounts::person();
}

// Drops the records of processes that are gone, so the folder holds only
// the living.
static void sweep(const std::filesystem::path& folder, const std::filesystem::path& root) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        pid_t pid = 0;
        std::string name = entry->path().filename().string();
        auto [last, failed] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (failed != std::errc() || last != name.data() + name.size() || !recordedUID(pid, root))
            ::unlink(entry->path().c_str());
    }
}

bool recordProcess(pid_t pid, uint32_t uid, const std::filesystem::path& root) {
    auto started = ProcessTable::startTicks(pid);
    if (!started) return false;
    std::filesystem::path file = recordFile(pid, root);
    if (Files::createDirectories(file.parent_path())) return false;
    sweep(file.parent_path(), root);
    json record{{"uid", uid}, {"started", *started}};
    return !Files::writeAtomically(file, record.dump() + "\n", 0644);
}

bool assume(uint32_t uid, const std::filesystem::path& root) {
    if (!recordProcess(::getpid(), uid, root)) return false;
    cachedUID.store(uid);
    return true;
}

void release(const std::filesystem::path& root) { ::unlink(recordFile(::getpid(), root).c_str()); }

std::optional<Owner> ownerOf(const std::filesystem::path& path, const std::filesystem::path& root) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    json owners = readOwners(root);
    auto found = owners.find(fileKey(info));
    if (found != owners.end() && found->is_object() && found->value("version", json()) == version(info) &&
        (*found)["uid"].is_number_unsigned() && (*found)["gid"].is_number_unsigned())
        return Owner{(*found)["uid"].get<uint32_t>(), (*found)["gid"].get<uint32_t>()};
    return Owner{Accounts::person().uid, Accounts::staffGID};
}

bool changeOwner(const std::filesystem::path& path, Owner owner, const std::filesystem::path& root) {
    if (currentUID(root) != Accounts::rootUID) return false;
    return recordOwner(path, owner, root);
}

bool recordOwner(const std::filesystem::path& path, Owner owner, const std::filesystem::path& root) {
    OwnersLock lock(root);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    json owners = readOwners(root);
    owners[fileKey(info)] = {{"uid", owner.uid}, {"gid", owner.gid}, {"version", version(info)}};
    return !Files::writeAtomically(ownersFile(root), owners.dump(2) + "\n", 0644);
}

} // namespace Platform::Credentials
