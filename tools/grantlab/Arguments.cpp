#include "Arguments.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace GrantLab {

using AppInstallation::Scope;
using PermissionGrants::Privacy;

const std::string_view usageText =
    "usage: grantlab read|ask|watch [--install-for SCOPES] GRANT…\n"
    "       grantlab serve\n"
    "\n"
    "Reads, asks for or watches the grants of GrantLab.app, one line per grant:\n"
    "its title, its grade (good, askable, broken or unknown), then what to do\n"
    "about it and why, as `lumra grants` shows the service's.\n"
    "\n"
    "  read    prints each grant's line once\n"
    "  ask     asks for each grant in the order given, then prints the lines\n"
    "  watch   opens the privacy hub's two-minute window of re-readings, prints\n"
    "          the lines, then one line each time a grant changes, until\n"
    "          SIGTERM or SIGINT\n"
    "  serve   what the bundle's agent and daemon run: stays up until SIGTERM\n"
    "          or SIGINT\n"
    "\n"
    "GRANT is one of:\n"
    "  accessibility, postEvents, inputMonitoring, systemAudio, screenRecording,\n"
    "  microphone, camera, speechRecognition, motion, fullDiskAccess\n"
    "                      a privacy permission of GrantLab.app\n"
    "  automation:ID       consent to automate the app with the bundle identifier ID\n"
    "  agent               the bundle's launch agent (a background service)\n"
    "  daemon              the bundle's launch daemon, installed for everyone only\n"
    "  login-item          GrantLab.app itself, opened at login\n"
    "  notifications       GrantLab.app's notifications (sounds and alerts)\n"
    "\n"
    "--install-for everyone|me|everyone,me\n"
    "    where a job grant may install the app when it has to move into an\n"
    "    Applications folder first: /Applications for everyone, ~/Applications\n"
    "    for you; with both, asking lets you choose. Default: every scope the\n"
    "    job allows (the daemon's is everyone alone).\n"
    "\n"
    "Exit status: 0, or 2 for a usage error.\n";

namespace {

constexpr std::array<std::pair<Privacy, std::string_view>, 10> caseNames{{
    {Privacy::accessibility, "accessibility"},
    {Privacy::postEvents, "postEvents"},
    {Privacy::inputMonitoring, "inputMonitoring"},
    {Privacy::systemAudio, "systemAudio"},
    {Privacy::screenRecording, "screenRecording"},
    {Privacy::microphone, "microphone"},
    {Privacy::camera, "camera"},
    {Privacy::speechRecognition, "speechRecognition"},
    {Privacy::motion, "motion"},
    {Privacy::fullDiskAccess, "fullDiskAccess"},
}};

constexpr std::array<std::pair<JobName, std::string_view>, 3> jobNames{{
    {JobName::agent, "agent"},
    {JobName::daemon, "daemon"},
    {JobName::loginItem, "login-item"},
}};

constexpr std::string_view automationPrefix = "automation:";

std::vector<Scope> scopesOf(JobName job) {
    if (job == JobName::daemon) return {Scope::everyone};
    return {AppInstallation::allScopes.begin(), AppInstallation::allScopes.end()};
}

std::string_view scopeName(Scope scope) { return scope == Scope::everyone ? "everyone" : "me"; }

// A bundle identifier as it may appear in a reply line: not empty, no
// blanks or control characters.
bool isIdentifier(std::string_view text) {
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f;
    });
}

std::variant<std::vector<Scope>, UsageError> parseScopes(std::string_view text) {
    const std::string hint = ": use everyone, me or everyone,me";
    std::vector<Scope> scopes;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        std::string_view word = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
        std::optional<Scope> scope;
        for (Scope candidate : AppInstallation::allScopes)
            if (word == scopeName(candidate)) scope = candidate;
        if (!scope) return UsageError{"unknown install scope '" + std::string(word) + "'" + hint};
        if (std::find(scopes.begin(), scopes.end(), *scope) != scopes.end())
            return UsageError{"install scope '" + std::string(word) + "' given twice"};
        scopes.push_back(*scope);
        if (comma == std::string_view::npos) return scopes;
        start = comma + 1;
    }
}

std::variant<Named, UsageError> parseGrant(std::string_view word) {
    for (const auto& [privacy, name] : caseNames)
        if (word == name) return Named{privacy};
    for (const auto& [job, name] : jobNames)
        if (word == name) return Named{BackgroundJob{job, {}}};
    if (word == "notifications") return Named{OwnNotifications{}};
    if (word.starts_with(automationPrefix)) {
        std::string_view target = word.substr(automationPrefix.size());
        if (!isIdentifier(target))
            return UsageError{"'" + std::string(word) +
                              "' names no application: write automation:ID, as in automation:com.example.app"};
        return Named{AutomationOf{std::string(target)}};
    }
    return UsageError{"unknown grant '" + std::string(word) + "'"};
}

} // namespace

std::string_view caseName(Privacy privacy) {
    for (const auto& [candidate, name] : caseNames)
        if (candidate == privacy) return name;
    return {};
}

Parsed parse(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return UsageError{"no command given"};
    const std::string& verb = arguments.front();
    if (verb == "--help" || verb == "-h" || verb == "help") return Help{};
    if (verb == "serve") {
        if (arguments.size() > 1) return UsageError{"serve takes no arguments"};
        return Serve{};
    }
    std::optional<Mode> mode;
    for (auto [candidate, name] : {std::pair{Mode::read, "read"}, {Mode::ask, "ask"}, {Mode::watch, "watch"}})
        if (verb == name) mode = candidate;
    if (!mode) return UsageError{"unknown command '" + verb + "'"};

    Command command{*mode, {}};
    std::optional<std::vector<Scope>> installFor;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--help" || word == "-h") return Help{};
        if (word == "--install-for") {
            if (installFor) return UsageError{"--install-for given twice"};
            if (i + 1 == arguments.size()) return UsageError{"--install-for needs everyone, me or everyone,me"};
            auto scopes = parseScopes(arguments[++i]);
            if (auto* error = std::get_if<UsageError>(&scopes)) return *error;
            installFor = std::get<std::vector<Scope>>(scopes);
            continue;
        }
        if (word.starts_with("-")) return UsageError{"unknown option '" + word + "'"};
        auto grant = parseGrant(word);
        if (auto* error = std::get_if<UsageError>(&grant)) return *error;
        command.grants.push_back(std::get<Named>(grant));
    }
    if (command.grants.empty()) return UsageError{verb + " needs at least one GRANT"};
    bool anyJob = std::any_of(command.grants.begin(), command.grants.end(),
                              [](const Named& grant) { return std::holds_alternative<BackgroundJob>(grant); });
    if (installFor && !anyJob) return UsageError{"--install-for goes with a job grant: agent, daemon or login-item"};

    for (Named& grant : command.grants) {
        auto* job = std::get_if<BackgroundJob>(&grant);
        if (!job) continue;
        std::vector<Scope> allowed = scopesOf(job->job);
        job->installFor = installFor.value_or(allowed);
        for (Scope scope : job->installFor)
            if (std::find(allowed.begin(), allowed.end(), scope) == allowed.end())
                return UsageError{"the daemon installs for everyone only, never for " +
                                  std::string(scopeName(scope))};
    }
    return command;
}

} // namespace GrantLab
