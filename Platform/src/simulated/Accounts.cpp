#include "Platform/Accounts.hpp"
#include "Platform/Files.hpp"
#include "Platform/SimulatedHost.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <cerrno>
#include <crypt.h>
#include <fcntl.h>
#include <pwd.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>

namespace Platform::Accounts {

namespace {

using nlohmann::json;

std::filesystem::path directoryFile(const std::filesystem::path& root) { return root / "accounts/directory.json"; }

// Holds accounts/lock for one read-modify-write.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::filesystem::path& root) {
        Files::createDirectories(root / "accounts");
        fd_ = ::open((root / "accounts/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~DirectoryLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

private:
    int fd_ = -1;
};

std::string hostUserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && *found->pw_name != '\0')
        return found->pw_name;
    if (const char* name = std::getenv("USER"); name != nullptr && *name != '\0') return name;
    return "person";
}

// A fresh salt for SHA-512 crypt: 16 characters of its alphabet.
std::string freshSalt() {
    static constexpr std::string_view alphabet = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::random_device device;
    std::string salt = "$6$";
    for (int i = 0; i < 16; ++i) salt += alphabet[device() % alphabet.size()];
    return salt + "$";
}

std::optional<std::string> hashed(std::string_view password, const std::string& setting) {
    crypt_data data{};
    std::string phrase(password);
    const char* result = ::crypt_r(phrase.c_str(), setting.c_str(), &data);
    if (result == nullptr || *result == '*') return std::nullopt;
    return std::string(result);
}

template <typename T>
std::optional<T> field(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    // IDs are never negative: -1 must not wrap into a real one.
    if constexpr (std::is_same_v<T, uint32_t>)
        if (!found->is_number_unsigned() || found->get<uint64_t>() > UINT32_MAX) return std::nullopt;
    try {
        return found->get<T>();
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

} // namespace

const User* Directory::user(std::string_view name) const {
    auto found = std::find_if(users.begin(), users.end(), [&](const User& u) { return u.name == name; });
    return found == users.end() ? nullptr : &*found;
}

const User* Directory::user(uint32_t uid) const {
    auto found = std::find_if(users.begin(), users.end(), [&](const User& u) { return u.uid == uid; });
    return found == users.end() ? nullptr : &*found;
}

const Group* Directory::group(std::string_view name) const {
    auto found = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.name == name; });
    return found == groups.end() ? nullptr : &*found;
}

const Group* Directory::group(uint32_t gid) const {
    auto found = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.gid == gid; });
    return found == groups.end() ? nullptr : &*found;
}

bool Directory::isMember(std::string_view name, uint32_t gid) const {
    const User* account = user(name);
    if (account == nullptr) return false;
    if (account->gid == gid) return true;
    const Group* found = group(gid);
    return found != nullptr && std::find(found->members.begin(), found->members.end(), name) != found->members.end();
}

std::vector<Group> Directory::groupsOf(std::string_view name) const {
    std::vector<Group> found;
    const User* account = user(name);
    if (account == nullptr) return found;
    if (const Group* primary = group(account->gid)) found.push_back(*primary);
    for (const Group& candidate : groups)
        if (candidate.gid != account->gid && isMember(name, candidate.gid)) found.push_back(candidate);
    return found;
}

User person() {
    std::string name = hostUserName();
    uint32_t uid = ::getuid();
    if (uid == rootUID || name == "root") {
        name = "person";
        uid = 501;
    }
    return User{name, uid, staffGID, "/Users/" + name, "/bin/zsh", ""};
}

Directory fresh() {
    User someone = person();
    return Directory{
        .users = {User{"root", rootUID, 0, "/var/root", "/bin/sh", ""}, someone},
        .groups = {Group{"wheel", 0, {"root"}}, Group{"staff", staffGID, {"root"}},
                   Group{"admin", adminGID, {"root", someone.name}}},
        .console = someone.name,
    };
}

std::string encode(const Directory& directory) {
    json users = json::array(), groups = json::array();
    for (const User& u : directory.users)
        users.push_back({{"name", u.name},
                         {"uid", u.uid},
                         {"gid", u.gid},
                         {"home", u.home},
                         {"shell", u.shell},
                         {"password", u.passwordHash}});
    for (const Group& g : directory.groups) groups.push_back({{"name", g.name}, {"gid", g.gid}, {"members", g.members}});
    json whole{{"users", users}, {"groups", groups}, {"console", nullptr}};
    if (directory.console) whole["console"] = *directory.console;
    return whole.dump(2) + "\n";
}

std::optional<Directory> decode(std::string_view text) {
    json whole = json::parse(text, nullptr, false);
    if (!whole.is_object() || !whole.contains("users") || !whole["users"].is_array() || !whole.contains("groups") ||
        !whole["groups"].is_array())
        return std::nullopt;
    Directory directory;
    for (const json& entry : whole["users"]) {
        if (!entry.is_object()) return std::nullopt;
        auto name = field<std::string>(entry, "name");
        auto uid = field<uint32_t>(entry, "uid");
        auto gid = field<uint32_t>(entry, "gid");
        if (!name || name->empty() || !uid || !gid) return std::nullopt;
        directory.users.push_back(User{*name, *uid, *gid, field<std::string>(entry, "home").value_or("/var/empty"),
                                       field<std::string>(entry, "shell").value_or("/bin/sh"),
                                       field<std::string>(entry, "password").value_or("")});
    }
    for (const json& entry : whole["groups"]) {
        if (!entry.is_object()) return std::nullopt;
        auto name = field<std::string>(entry, "name");
        auto gid = field<uint32_t>(entry, "gid");
        if (!name || name->empty() || !gid) return std::nullopt;
        directory.groups.push_back(
            Group{*name, *gid, field<std::vector<std::string>>(entry, "members").value_or(std::vector<std::string>{})});
    }
    directory.console = field<std::string>(whole, "console");
    return directory;
}

Directory load(const std::filesystem::path& root) {
    auto text = Files::read(directoryFile(root));
    if (!text) return fresh();
    return decode(*text).value_or(fresh());
}

Directory load() { return load(SimulatedHost::root()); }

bool update(const std::function<bool(Directory&)>& change, const std::filesystem::path& root) {
    DirectoryLock lock(root);
    Directory directory = load(root);
    if (!change(directory)) return false;
    return !Files::writeAtomically(directoryFile(root), encode(directory), 0644);
}

std::optional<User> user(std::string_view name) {
    Directory directory = load();
    const User* found = directory.user(name);
    return found ? std::optional<User>(*found) : std::nullopt;
}

std::optional<User> user(uint32_t uid) {
    Directory directory = load();
    const User* found = directory.user(uid);
    return found ? std::optional<User>(*found) : std::nullopt;
}

std::vector<Group> groupsOf(std::string_view name) { return load().groupsOf(name); }

std::optional<std::string> consoleUser() { return load().console; }

bool setAdmin(std::string_view name, bool admin, const std::filesystem::path& root) {
    return update(
        [&](Directory& directory) {
            if (directory.user(name) == nullptr) return false;
            auto group = std::find_if(directory.groups.begin(), directory.groups.end(),
                                      [](const Group& g) { return g.gid == adminGID; });
            if (group == directory.groups.end()) group = directory.groups.insert(group, Group{"admin", adminGID, {}});
            std::erase(group->members, std::string(name));
            if (admin) group->members.emplace_back(name);
            return true;
        },
        root);
}

bool setConsole(const std::optional<std::string>& name, const std::filesystem::path& root) {
    return update(
        [&](Directory& directory) {
            if (name && directory.user(*name) == nullptr) return false;
            directory.console = name;
            return true;
        },
        root);
}

bool setPassword(std::string_view name, std::string_view password, const std::filesystem::path& root) {
    auto hash = hashed(password, freshSalt());
    if (!hash) return false;
    return update(
        [&](Directory& directory) {
            auto found = std::find_if(directory.users.begin(), directory.users.end(),
                                      [&](const User& u) { return u.name == name; });
            if (found == directory.users.end()) return false;
            found->passwordHash = *hash;
            return true;
        },
        root);
}

bool checkPassword(std::string_view name, std::string_view password, const std::filesystem::path& root) {
    Directory directory = load(root);
    const User* account = directory.user(name);
    if (account == nullptr || account->passwordHash.empty()) return false;
    auto hash = hashed(password, account->passwordHash);
    return hash && *hash == account->passwordHash;
}

} // namespace Platform::Accounts
