#include "Platform/SimulatedHost.hpp"
#include "Platform/Accounts.hpp"
#include "Platform/Credentials.hpp"
#include "Platform/Files.hpp"
#include "Ownership.hpp"
#include "Platform/User.hpp"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace Platform::SimulatedHost {

namespace {

// The macOS system locations that live under the simulation root: folders
// (with everything inside) and single files.
constexpr std::array<std::string_view, 6> systemFolders{"/Applications", "/Library",       "/System",
                                                        "/Volumes",      "/etc/sudoers.d", "/var/root"};
constexpr std::array<std::string_view, 4> systemFiles{"/bin/launchctl", "/sbin/launchd", "/dev/console", "/etc/sudoers"};
constexpr std::array<std::string_view, 2> toolFolders{"/usr/bin/", "/usr/sbin/"};

constexpr std::string_view lsregisterPath =
    "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Support/lsregister";

// The macOS tools a fresh machine gets, when this build has their stand-ins.
constexpr std::array<std::string_view, 8> standInTools{
    "/usr/bin/pmset",     "/usr/bin/sudo",   "/bin/launchctl", "/usr/bin/open", "/usr/bin/mdfind",
    "/usr/bin/pluginkit", "/usr/sbin/chown", lsregisterPath};

bool isWithin(std::string_view path, std::string_view folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

bool isSystemLocation(std::string_view macPath) {
    for (auto folder : systemFolders)
        if (isWithin(macPath, folder)) return true;
    for (auto file : systemFiles)
        if (macPath == file) return true;
    for (auto folder : toolFolders)
        if (macPath.starts_with(folder) && macPath.size() > folder.size()) return true;
    return false;
}

// Where the Mac keeps command-line tools: only there may a stand-in appear.
// A program inside an app or on a volume that is missing stays missing.
bool isToolLocation(std::string_view macPath) {
    for (std::string_view folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/", "/usr/libexec/", "/System/Library/"})
        if (macPath.starts_with(folder) && macPath.size() > folder.size()) return true;
    return false;
}

bool isMissingOrEmpty(const std::filesystem::path& folder) {
    std::error_code error;
    return !std::filesystem::exists(folder, error) || std::filesystem::is_empty(folder, error);
}

} // namespace

const std::filesystem::path& root() {
    static const std::filesystem::path root = [] {
        std::filesystem::path chosen;
        if (const char* variable = std::getenv("LUMRA_SIM_ROOT"); variable != nullptr && *variable != '\0')
            chosen = variable;
        else
            chosen = homeDirectory() / ".local/share/lumra-sim";
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(chosen, error);
        if (!error) chosen = absolute;
        chosen = chosen.lexically_normal();
        if (chosen.has_relative_path() && chosen.filename().empty()) chosen = chosen.parent_path();
        if (isMissingOrEmpty(chosen)) initialize(chosen);
        // The kernel reports executables by their real paths; a root reached
        // through a link must compare equal to them.
        std::filesystem::path canonical = std::filesystem::weakly_canonical(chosen, error);
        return error ? chosen : canonical;
    }();
    return root;
}

void initialize(const std::filesystem::path& root) {
    for (std::string_view folder : {"Applications", "Library", "System", "Volumes", "usr/bin", "usr/sbin", "bin", "etc/sudoers.d",
                                    "dev", "notifications", "power", "var/root", "accounts"})
        Files::createDirectories(root / folder);
    std::error_code error;
    if (!std::filesystem::exists(root / "accounts/directory.json", error))
        Files::writeAtomically(root / "accounts/directory.json", Accounts::encode(Accounts::fresh()));
    // The main sudoers file a Mac ships: root and the admin group may run
    // anything, with their password; drop-ins add the rest.
    if (!std::filesystem::exists(root / "etc/sudoers", error) &&
        !Files::writeAtomically(root / "etc/sudoers", "root ALL = (ALL) ALL\n%admin ALL = (ALL) ALL\n", 0440))
        Credentials::recordOwner(root / "etc/sudoers", {Accounts::rootUID, 0}, root);
    for (std::string_view tool : standInTools) installStandIn(tool, root);
}

const std::filesystem::path& standInFolder() {
    static const std::filesystem::path folder = LUMRA_STANDIN_DIR;
    return folder;
}

bool installStandIn(std::string_view macPath, const std::filesystem::path& root,
                    const std::filesystem::path& standIns) {
    std::filesystem::path target = hostPath(macPath, root);
    std::error_code error;
    if (std::filesystem::exists(target, error)) return true;
    if (target == std::filesystem::path(macPath) || !isToolLocation(macPath))
        return false; // not the simulation's to provide

    std::filesystem::path standIn = standIns / target.filename();
    if (target.filename().empty() || ::access(standIn.c_str(), X_OK) != 0) return false;
    Files::createDirectories(target.parent_path());
    // A link made beside the target and renamed over it replaces a dangling
    // link in one step, and processes racing here all end with a working one.
    std::filesystem::path temporary = target;
    temporary += ".link-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(standIn.c_str(), temporary.c_str()) != 0) return std::filesystem::exists(target, error);
    if (::rename(temporary.c_str(), target.c_str()) != 0) ::unlink(temporary.c_str());
    return std::filesystem::exists(target, error);
}

std::string userName() { return Credentials::currentUser().name; }

bool runsAsRoot() { return Credentials::currentUID() == Accounts::rootUID; }

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

double readTimeRate(const std::filesystem::path& root) {
    auto text = Files::read(root / "clock.json");
    if (!text) return 1.0;
    auto json = nlohmann::json::parse(*text, nullptr, false);
    if (!json.is_object() || !json.contains("rate") || !json["rate"].is_number()) return 1.0;
    double rate = json["rate"].get<double>();
    return rate > 0 && std::isfinite(rate) ? rate : 1.0;
}

int64_t readClockStep(const std::filesystem::path& root) {
    auto text = Files::read(root / "clock.json");
    if (!text) return 0;
    auto json = nlohmann::json::parse(*text, nullptr, false);
    if (!json.is_object() || !json.contains("step") || !json["step"].is_number_integer()) return 0;
    return json["step"].get<int64_t>();
}

double timeRate() {
    static const double rate = readTimeRate(root());
    return rate;
}

std::filesystem::path hostPath(std::string_view macPath, const std::filesystem::path& root) {
    if (!isSystemLocation(macPath)) return std::filesystem::path(macPath);
    return std::filesystem::path(root.string() + std::string(macPath));
}

std::filesystem::path hostPath(std::string_view macPath) { return hostPath(macPath, root()); }

namespace {

std::optional<std::string> withoutRoot(const std::string& path, std::string prefix) {
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    if (path == prefix) return "/";
    if (path.starts_with(prefix) && path[prefix.size()] == '/') return path.substr(prefix.size());
    return std::nullopt;
}

} // namespace

std::string macPath(const std::filesystem::path& hostPath, const std::filesystem::path& root) {
    std::string path = hostPath.lexically_normal().string();
    if (auto inside = withoutRoot(path, root.lexically_normal().string())) return *inside;
    // A root given through a link still owns the real paths below it.
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(root, error);
    if (!error && canonical != root)
        if (auto inside = withoutRoot(path, canonical.string())) return *inside;
    return path;
}

std::string macPath(const std::filesystem::path& hostPath) { return macPath(hostPath, root()); }

} // namespace Platform::SimulatedHost
