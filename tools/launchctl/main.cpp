// Stand-in for macOS's /bin/launchctl on the simulated machine: prints,
// loads, removes and restarts the simulated launchd's jobs, and runs a
// command as another user for root. Paths are macOS paths; a domain is
// "system" or "gui/<uid>", a target a domain, "/" and a label.

#include "Print.hpp"

#include <Platform/Accounts.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Files.hpp>
#include <Platform/Launchd.hpp>
#include <Platform/PropertyList.hpp>
#include <Platform/SimulatedHost.hpp>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace Host = Platform::SimulatedHost;
namespace Launchd = Platform::Launchd;

constexpr const char* usage = "usage: launchctl print <domain>/<label>\n"
                              "       launchctl bootstrap <domain> <plist path>\n"
                              "       launchctl bootout <domain>/<label>\n"
                              "       launchctl bootout <domain> <plist path>\n"
                              "       launchctl kickstart [-k] <domain>/<label>\n"
                              "       launchctl asuser <uid> <command> [arguments...]\n"
                              "<domain> is system or gui/<uid>.\n";

constexpr int usageStatus = 64;
constexpr int notFoundStatus = 113;

int fail(const std::string& message, int status) {
    Platform::Files::writeAll(STDERR_FILENO, message);
    return status;
}

int usageError() { return fail(usage, usageStatus); }

std::optional<uint32_t> number(std::string_view text) {
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

struct Target {
    std::string domain, label;
};

std::optional<Target> parseTarget(std::string_view text) {
    std::string_view domain = text.starts_with("gui/") ? text.substr(0, text.find('/', 4)) : text.substr(0, text.find('/'));
    if (domain.size() >= text.size() || !Launchd::domainUID(domain)) return std::nullopt;
    return Target{std::string(domain), std::string(text.substr(domain.size() + 1))};
}

std::string notFound(const Target& target) {
    std::string where = target.domain == Launchd::systemDomain ? "system" : "user gui: " + target.domain.substr(4);
    return "Could not find service \"" + target.label + "\" in domain for " + where + "\n";
}

// Changing a domain's jobs takes its own user or root.
bool mayChange(const std::string& domain) {
    uint32_t caller = Platform::Credentials::currentUID();
    return caller == Platform::Accounts::rootUID || Launchd::domainUID(domain) == caller;
}

// The app bundle around a definition in <app>/Contents/Library/Launch{Agents,Daemons}/.
std::optional<fs::path> bundleAround(const fs::path& definition) {
    fs::path folder = definition.parent_path();
    fs::path library = folder.parent_path();
    fs::path contents = library.parent_path();
    if ((folder.filename() != "LaunchAgents" && folder.filename() != "LaunchDaemons") ||
        library.filename() != "Library" || contents.filename() != "Contents" ||
        contents.parent_path().extension() != ".app")
        return std::nullopt;
    return contents.parent_path();
}

// A relative path is the caller's, as on the Mac (a folder that is gone
// leaves it relative, and so not found).
fs::path hostFile(const std::string& macPath) {
    std::error_code error;
    fs::path here = macPath.starts_with("/") ? fs::path() : fs::current_path(error);
    return Host::hostPath((here / macPath).string());
}

int print(const std::vector<std::string>& words) {
    if (words.size() != 2) return usageError();
    auto target = parseTarget(words[1]);
    if (!target) return fail("Unrecognized target specifier: " + words[1] + "\n" + usage, usageStatus);
    auto job = Launchd::find(target->domain, target->label, Host::root());
    if (!job) return fail("Bad request.\n" + notFound(*target), notFoundStatus);
    Platform::Files::writeAll(STDOUT_FILENO, Launchctl::describe(*job, Host::root()));
    return 0;
}

int bootstrap(const std::vector<std::string>& words) {
    if (words.size() != 3 || !Launchd::domainUID(words[1])) return usageError();
    if (!mayChange(words[1])) return fail("Bootstrap failed: 1: Operation not permitted\n", 1);
    fs::path definition = hostFile(words[2]);
    if (auto problem = Launchd::bootstrap(words[1], definition, bundleAround(definition), Host::root()))
        return fail("Bootstrap failed: 5: Input/output error\n" + *problem + "\n", 5);
    return 0;
}

int bootout(const std::vector<std::string>& words) {
    std::optional<Target> target;
    if (words.size() == 2) {
        target = parseTarget(words[1]);
    } else if (words.size() == 3 && Launchd::domainUID(words[1])) {
        auto definition = Platform::readPropertyList(hostFile(words[2]));
        auto label = definition ? Platform::textValue(*definition, "Label") : std::nullopt;
        if (!label) return fail("Boot-out failed: 5: Input/output error\n", 5);
        target = Target{words[1], *label};
    } else {
        return usageError();
    }
    if (!target) return fail("Unrecognized target specifier: " + words[1] + "\n" + usage, usageStatus);
    if (!mayChange(target->domain)) return fail("Boot-out failed: 1: Operation not permitted\n", 1);
    if (!Launchd::bootout(target->domain, target->label, Host::root()))
        return fail("Boot-out failed: 113: " + notFound(*target), notFoundStatus);
    return 0;
}

int kickstart(const std::vector<std::string>& words) {
    bool kill = words.size() == 3 && words[1] == "-k";
    if (words.size() != (kill ? 3 : 2)) return usageError();
    auto target = parseTarget(words.back());
    if (!target) return fail("Unrecognized target specifier: " + words.back() + "\n" + usage, usageStatus);
    if (!mayChange(target->domain)) return fail("Kickstart failed: 1: Operation not permitted\n", 1);
    if (!Launchd::find(target->domain, target->label, Host::root())) return fail(notFound(*target), notFoundStatus);
    if (!Launchd::kickstart(target->domain, target->label, kill, Host::root()))
        return fail("Kickstart failed: 5: Input/output error\n", 5);
    return 0;
}

// A command named without a path is looked for in the machine's tool
// folders, then in PATH.
std::string hostCommand(const std::string& command) {
    if (command.find('/') != std::string::npos) {
        Host::installStandIn(command, Host::root());
        return Host::hostPath(command).string();
    }
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
        std::string candidate = folder + command;
        fs::path onMachine = Host::hostPath(candidate);
        if (onMachine != fs::path(candidate) && (Host::installStandIn(candidate, Host::root()) ||
                                                 ::access(onMachine.c_str(), X_OK) == 0))
            return onMachine.string();
    }
    return command;
}

int asuser(const std::vector<std::string>& words) {
    if (words.size() < 3) return usageError();
    auto uid = number(words[1]);
    if (!uid) return usageError();
    if (!Host::runsAsRoot()) return fail("This subcommand requires root privileges: asuser\n", 1);
    if (!Platform::Credentials::assume(*uid, Host::root()))
        return fail("launchctl: cannot run as uid " + words[1] + "\n", 1);
    std::string program = hostCommand(words[2]);
    std::vector<std::string> arguments(words.begin() + 2, words.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execvp(program.c_str(), argv.data());
    int error = errno;
    Platform::Credentials::release(Host::root());
    return fail("launchctl: " + words[2] + ": " + std::strerror(error) + "\n", error == ENOENT ? 127 : 126);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) return usageError();
    const std::string& command = words[0];
    if (command == "help" && words.size() == 1) {
        Platform::Files::writeAll(STDOUT_FILENO, usage);
        return 0;
    }
    if (command == "print") return print(words);
    if (command == "bootstrap") return bootstrap(words);
    if (command == "bootout") return bootout(words);
    if (command == "kickstart") return kickstart(words);
    if (command == "asuser") return asuser(words);
    return usageError();
}
