// sudo: the stand-in for sudo on the simulated machine. It runs a command as
// the simulated root when the drop-ins under /etc/sudoers.d allow it without
// a password, and otherwise refuses with the messages sudo prints. It never
// prompts: there is no terminal to ask on.

#include "Sudoers.hpp"

#include <Platform/Files.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace SimulatedHost = Platform::SimulatedHost;

constexpr const char* usage = "usage: sudo -h | -V\n"
                              "usage: sudo [-n] [--] command [arg ...]\n";

int fail(const std::string& message, int status = 1) {
    Platform::Files::writeAll(STDERR_FILENO, message);
    return status;
}

// A command named without a path is looked for where sudo's secure path
// looks.
std::optional<std::string> resolve(const std::string& command, const std::filesystem::path& root) {
    if (command.find('/') != std::string::npos) return command;
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
        std::string candidate = folder + command;
        std::error_code error;
        if (SimulatedHost::installStandIn(candidate, root) ||
            std::filesystem::exists(SimulatedHost::hostPath(candidate, root), error))
            return candidate;
    }
    return std::nullopt;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// This environment, with the marks sudo leaves for the command it runs.
Platform::Environment commandEnvironment(const std::string& user, const std::string& commandLine) {
    Platform::Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view variable(*entry);
        size_t equals = variable.find('=');
        if (equals == std::string_view::npos) continue;
        environment.emplace(std::string(variable.substr(0, equals)), std::string(variable.substr(equals + 1)));
    }
    environment["LUMRA_SIM_USER"] = "root";
    environment["USER"] = "root";
    environment["SUDO_USER"] = user;
    environment["SUDO_COMMAND"] = commandLine;
    return environment;
}

int runAsRoot(const std::vector<std::string>& command, const std::string& user, const std::filesystem::path& root) {
    std::vector<std::string> arguments(command.begin() + 1, command.end());
    auto outcome = Platform::runProgram(command[0], arguments, commandEnvironment(user, joined(command)), root);
    if (auto* failure = std::get_if<Platform::LaunchFailure>(&outcome)) {
        if (failure->error == ENOENT) return fail("sudo: " + command[0] + ": command not found\n");
        return fail("sudo: unable to execute " + command[0] + ": " + failure->description + "\n");
    }
    auto& exit = std::get<Platform::ProgramExit>(outcome);
    Platform::Files::writeAll(STDOUT_FILENO, exit.out);
    Platform::Files::writeAll(STDERR_FILENO, exit.err);
    return exit.status;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    bool nonInteractive = false;
    size_t first = 0;
    for (; first < arguments.size(); ++first) {
        const std::string& option = arguments[first];
        if (option == "--") {
            ++first;
            break;
        }
        if (option.size() < 2 || option[0] != '-') break;
        if (option == "-n") {
            nonInteractive = true;
        } else if (option == "-h" || option == "--help") {
            Platform::Files::writeAll(STDOUT_FILENO, usage);
            return 0;
        } else if (option == "-V" || option == "--version") {
            Platform::Files::writeAll(STDOUT_FILENO, "Sudo version 1.9 (simulated)\n");
            return 0;
        } else {
            std::string shown = option.starts_with("--") ? option : option.substr(1, 1);
            return fail("sudo: invalid option -- '" + shown + "'\n" + usage);
        }
    }
    if (first >= arguments.size()) return fail(usage);

    const auto& root = SimulatedHost::root();
    std::vector<std::string> command(arguments.begin() + static_cast<std::ptrdiff_t>(first), arguments.end());
    auto resolved = resolve(command[0], root);
    if (!resolved) return fail("sudo: " + command[0] + ": command not found\n");
    command[0] = *resolved;

    std::string user = SimulatedHost::userName();
    std::string host = SimulatedHost::hostName();
    // The simulated root needs no drop-in: the main sudoers file lets it run
    // anything. Everyone else, a host user named root included, needs a grant.
    auto verdict = SimulatedHost::runsAsRoot() ? Sudo::Verdict::run
                                  : Sudo::decide(Sudo::loadDropIns(SimulatedHost::hostPath("/etc/sudoers.d", root)),
                                                 user, host, command);
    switch (verdict) {
    case Sudo::Verdict::run: return runAsRoot(command, user, root);
    case Sudo::Verdict::passwordRequired:
    case Sudo::Verdict::notAllowed:
        if (!nonInteractive)
            return fail("sudo: a terminal is required to read the password; either use the -S option to read from "
                        "standard input or configure an askpass helper\nsudo: a password is required\n");
        if (verdict == Sudo::Verdict::passwordRequired) return fail("sudo: a password is required\n");
        return fail("Sorry, user " + user + " is not allowed to execute '" + joined(command) + "' as root on " + host +
                    ".\n");
    }
    return 1;
}
