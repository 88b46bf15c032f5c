#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The simulated Mac's directory of users and groups, kept in
// accounts/directory.json under the simulation root. A fresh machine has the
// person who uses it (the host's user name, with the host's uid; uid 501 and
// the name "person" when the host user is root, as in a container), root
// (0), the groups "wheel" (0), "staff" (20) and "admin" (80, holding the
// person), and the person logged in at the screen. Readers take no lock:
// the file is replaced whole; writers hold an flock on accounts/lock around
// each change. A missing or damaged file reads as the fresh directory.
namespace Platform::Accounts {

inline constexpr uint32_t rootUID = 0;
inline constexpr uint32_t staffGID = 20;
inline constexpr uint32_t adminGID = 80;

struct User {
    std::string name;
    uint32_t uid = 0;
    uint32_t gid = staffGID; // the primary group
    std::string home;        // a macOS path
    std::string shell;
    std::string passwordHash; // crypt(3) form; empty: no password is ever right
    friend bool operator==(const User&, const User&) = default;
};

struct Group {
    std::string name;
    uint32_t gid = 0;
    std::vector<std::string> members; // user names, beside the users whose primary group it is
    friend bool operator==(const Group&, const Group&) = default;
};

struct Directory {
    std::vector<User> users;
    std::vector<Group> groups;
    std::optional<std::string> console; // who is logged in at the screen
    friend bool operator==(const Directory&, const Directory&) = default;

    const User* user(std::string_view name) const;
    const User* user(uint32_t uid) const;
    const Group* group(std::string_view name) const;
    const Group* group(uint32_t gid) const;
    // The groups `name` belongs to, its primary group first; empty for
    // someone the directory does not know.
    std::vector<Group> groupsOf(std::string_view name) const;
    bool isMember(std::string_view name, uint32_t gid) const;
};

// The person's account as a fresh machine has it.
User person();

// The directory of a fresh machine.
Directory fresh();

Directory load(const std::filesystem::path& root);
Directory load();

// Changes the directory under the lock: `change` gets the current one and
// answers false to leave it as it was. False when nothing was written.
bool update(const std::function<bool(Directory&)>& change, const std::filesystem::path& root);

// Lookups on this process's machine.
std::optional<User> user(std::string_view name);
std::optional<User> user(uint32_t uid);
std::vector<Group> groupsOf(std::string_view name);
std::optional<std::string> consoleUser();

// Adds `name` to or takes it out of the admin group; false when the
// directory does not know the user or cannot be written.
bool setAdmin(std::string_view name, bool admin, const std::filesystem::path& root);

// Who is logged in at the screen; absent: nobody. False when the directory
// does not know the user or cannot be written.
bool setConsole(const std::optional<std::string>& name, const std::filesystem::path& root);

// Sets the password `name` types to prove it is them; false when the
// directory does not know the user or cannot be written.
bool setPassword(std::string_view name, std::string_view password, const std::filesystem::path& root);

// Whether `password` is `name`'s password. A user without a password never
// passes.
bool checkPassword(std::string_view name, std::string_view password, const std::filesystem::path& root);

// The directory's JSON form, and back (absent when it is not a directory).
std::string encode(const Directory& directory);
std::optional<Directory> decode(std::string_view text);

} // namespace Platform::Accounts
