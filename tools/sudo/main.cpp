// sudo: the stand-in for sudo on the simulated machine. It runs a command as
// another simulated user (root unless -u names one) when the main sudoers
// file and the drop-ins under /etc/sudoers.d allow it, asking for the
// user's password where a rule wants it, and otherwise refuses with the
// messages sudo prints. The command takes this process's place, recorded as
// running as the target user: only this program makes the simulated root.

#include "Password.hpp"
#include "Sudoers.hpp"

#include <Platform/Accounts.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Files.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

namespace Accounts = Platform::Accounts;
namespace Credentials = Platform::Credentials;
namespace SimulatedHost = Platform::SimulatedHost;

constexpr const char* usage = "usage: sudo -h | -V\n"
                              "usage: sudo [-nSH] [-u user] [--] command [arg ...]\n";

int fail(const std::string& message, int status = 1) {
    Platform::Files::writeAll(STDERR_FILENO, message);
    return status;
}

struct Options {
    bool nonInteractive = false;
    bool fromStandardInput = false;
    bool targetHome = false;
    std::string target = "root";
    std::vector<std::string> command;
};

// Options come first, alone or grouped ("-nS"); -u takes its user from the
// rest of the word or the next one.
std::variant<Options, int> parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    size_t at = 0;
    for (; at < arguments.size(); ++at) {
        const std::string& word = arguments[at];
        if (word == "--") {
            ++at;
            break;
        }
        if (word.size() < 2 || word[0] != '-') break;
        if (word == "--help") return (Platform::Files::writeAll(STDOUT_FILENO, usage), 0);
        if (word == "--version") return (Platform::Files::writeAll(STDOUT_FILENO, "Sudo version 1.9 (simulated)\n"), 0);
        if (word.starts_with("--user=")) {
            options.target = word.substr(7);
            continue;
        }
        if (word.starts_with("--")) return fail("sudo: unrecognized option '" + word + "'\n" + usage);
        for (size_t letter = 1; letter < word.size(); ++letter) {
            switch (word[letter]) {
            case 'n': options.nonInteractive = true; break;
            case 'S': options.fromStandardInput = true; break;
            case 'H': options.targetHome = true; break;
            case 'h': Platform::Files::writeAll(STDOUT_FILENO, usage); return 0;
            case 'V': Platform::Files::writeAll(STDOUT_FILENO, "Sudo version 1.9 (simulated)\n"); return 0;
            case 'u':
                if (letter + 1 < word.size()) {
                    options.target = word.substr(letter + 1);
                } else if (at + 1 < arguments.size()) {
                    options.target = arguments[++at];
                } else {
                    return fail("sudo: option requires an argument -- 'u'\n" + std::string(usage));
                }
                letter = word.size();
                break;
            default: return fail("sudo: invalid option -- '" + std::string(1, word[letter]) + "'\n" + usage);
            }
        }
    }
    if (at >= arguments.size()) return fail(usage);
    options.command.assign(arguments.begin() + static_cast<std::ptrdiff_t>(at), arguments.end());
    return options;
}

// A command named without a path is looked for in the machine's tool
// folders, then in the caller's PATH (the build's programs live there).
std::optional<std::string> resolve(const std::string& command, const std::filesystem::path& root) {
    std::error_code error;
    if (command.find('/') != std::string::npos) {
        SimulatedHost::installStandIn(command, root);
        if (std::filesystem::exists(SimulatedHost::hostPath(command, root), error)) return command;
        return std::nullopt;
    }
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
        std::string candidate = folder + command;
        if (SimulatedHost::installStandIn(candidate, root) ||
            std::filesystem::exists(SimulatedHost::hostPath(candidate, root), error))
            return candidate;
    }
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "";
    while (!folders.empty()) {
        std::string_view folder = folders.substr(0, folders.find(':'));
        folders.remove_prefix(std::min(folders.size(), folder.size() + 1));
        if (folder.empty() || folder.front() != '/') continue;
        std::string candidate = std::string(folder) + "/" + command;
        // The host's own /usr/bin is not the Mac's.
        if (SimulatedHost::hostPath(candidate, root) != std::filesystem::path(candidate)) continue;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// Why sudo would not trust the file at macOS path `macPath`, as the warning
// it prints; absent when the file is sound. Sudoers files must belong to root
// and be writable by nobody else.
std::optional<std::string> distrust(const std::string& macPath, const std::filesystem::path& root) {
    std::filesystem::path file = SimulatedHost::hostPath(macPath, root);
    struct stat info {};
    auto owner = Credentials::ownerOf(file, root);
    if (!owner || ::stat(file.c_str(), &info) != 0) return std::nullopt;
    if (owner->uid != Accounts::rootUID)
        return "sudo: " + macPath + " is owned by uid " + std::to_string(owner->uid) + ", should be 0\n";
    if ((info.st_mode & S_IWOTH) != 0) return "sudo: " + macPath + " is world writable\n";
    if ((info.st_mode & S_IWGRP) != 0 && owner->gid != 0)
        return "sudo: " + macPath + " is owned by gid " + std::to_string(owner->gid) + ", should be 0\n";
    return std::nullopt;
}

// The rules of the main file and of every drop-in sudo trusts; each file it
// does not trust is skipped with sudo's warning.
std::vector<Sudo::Rule> trustedRules(const std::filesystem::path& root) {
    std::vector<std::string> files;
    std::error_code error;
    if (std::filesystem::exists(SimulatedHost::hostPath("/etc/sudoers", root), error)) files.emplace_back("/etc/sudoers");
    for (const auto& dropIn : Sudo::dropIns(SimulatedHost::hostPath("/etc/sudoers.d", root)))
        files.push_back("/etc/sudoers.d/" + dropIn.filename().string());
    std::vector<Sudo::Rule> rules;
    for (const auto& file : files) {
        if (auto warning = distrust(file, root)) {
            fail(*warning);
            continue;
        }
        auto loaded = Sudo::loadFile(SimulatedHost::hostPath(file, root));
        rules.insert(rules.end(), loaded.begin(), loaded.end());
    }
    return rules;
}

// The environment sudo resets to: the terminal, the path, the home (the
// target's own with -H), the language and time zone, the simulation's and
// the logging's variables, and the marks it leaves for the command.
Platform::Environment commandEnvironment(const Options& options, const Accounts::User& asker,
                                         const Accounts::User& target, const std::filesystem::path& root) {
    Platform::Environment kept;
    for (const auto& [name, value] : Platform::currentEnvironment()) {
        bool keep = name == "TERM" || name == "PATH" || name == "HOME" || name == "LANG" || name == "LANGUAGE" ||
                    name == "TZ" || name == "COLORTERM" || name == "COLUMNS" || name == "LINES" ||
                    name.starts_with("LC_") || name.starts_with("LUMRA_SIM_") || name.starts_with("LOG_");
        if (keep) kept.emplace(name, value);
    }
    if (options.targetHome || !kept.contains("HOME")) kept["HOME"] = SimulatedHost::hostPath(target.home, root).string();
    if (!kept.contains("PATH")) kept["PATH"] = "/usr/bin:/bin:/usr/sbin:/sbin";
    kept["LUMRA_SIM_ROOT"] = root.string();
    kept["USER"] = kept["LOGNAME"] = target.name;
    kept["SHELL"] = target.shell;
    kept["SUDO_USER"] = asker.name;
    kept["SUDO_UID"] = std::to_string(asker.uid);
    kept["SUDO_GID"] = std::to_string(asker.gid);
    kept["SUDO_COMMAND"] = joined(options.command);
    return kept;
}

// Becomes the command, as the target user.
int run(const Options& options, const Accounts::User& asker, const Accounts::User& target,
        const std::filesystem::path& root) {
    const std::string& command = options.command[0];
    if (!Credentials::assume(target.uid, root))
        return fail("sudo: unable to change to runas uid " + std::to_string(target.uid) + "\n");
    std::vector<std::string> environment;
    for (const auto& [name, value] : commandEnvironment(options, asker, target, root))
        environment.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = options.command;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::string program = SimulatedHost::hostPath(command, root).string();
    ::execve(program.c_str(), argv.data(), envp.data());
    int error = errno;
    Credentials::release(root);
    if (error == ENOENT) return fail("sudo: " + command + ": command not found\n");
    return fail("sudo: unable to execute " + command + ": " + std::strerror(error) + "\n");
}

} // namespace

int main(int argc, char** argv) {
    auto parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    Options options = std::get<Options>(parsed);

    const auto& root = SimulatedHost::root();
    Accounts::Directory directory = Accounts::load(root);
    const Accounts::User* target = directory.user(options.target);
    if (target == nullptr) return fail("sudo: unknown user " + options.target + "\n");
    auto resolved = resolve(options.command[0], root);
    if (!resolved) return fail("sudo: " + options.command[0] + ": command not found\n");
    options.command[0] = *resolved;

    Accounts::User asker = Credentials::currentUser();
    std::string host = SimulatedHost::hostName();
    std::vector<Sudo::Rule> rules = trustedRules(root);
    // Root may run anything as anyone without being asked.
    if (asker.uid == Accounts::rootUID) return run(options, asker, *target, root);

    Sudo::Asker who{asker.name, {}};
    for (const auto& group : directory.groupsOf(asker.name)) who.groups.push_back(group.name);
    auto verdict = Sudo::decide(rules, who, host, options.command, target->name);
    if (verdict == Sudo::Verdict::run) return run(options, asker, *target, root);

    std::string sorry = "Sorry, user " + asker.name + " is not allowed to execute '" + joined(options.command) +
                        "' as " + target->name + " on " + host + ".\n";
    if (options.nonInteractive) {
        if (verdict == Sudo::Verdict::notAllowed) return fail(sorry);
        return fail("sudo: a password is required\n");
    }
    auto asked = Sudo::askPassword(asker.name, options.fromStandardInput,
                                   [&](std::string_view typed) { return Accounts::checkPassword(asker.name, typed, root); });
    if (asked != Sudo::PasswordOutcome::accepted) return 1;
    switch (verdict) {
    case Sudo::Verdict::passwordRequired: return run(options, asker, *target, root);
    case Sudo::Verdict::notAllowed: return fail(sorry);
    default: return fail(asker.name + " is not in the sudoers file.\n");
    }
}
