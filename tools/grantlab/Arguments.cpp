#include "Arguments.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace GrantLab {

using AppInstallation::Scope;
using PermissionGrants::Privacy;

const std::string_view usageText =
    "usage: grantlab read|ask|watch [--install-for SCOPES] GRANT…\n"
    "       grantlab sheet|steps|chip [--lower] [--welcome] [--install-for SCOPES] GRANT…\n"
    "       grantlab login-switch [--lower]\n"
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
    "The views show the grants full-screen on the terminal, as the app shows its\n"
    "own, and need one:\n"
    "  sheet   a sheet with a \"Required\" and an \"Optional\" section and a\n"
    "          \"Later\"/\"Done\" button\n"
    "  steps   an onboarding, one page per grant in the order given; --welcome\n"
    "          puts a welcome page first\n"
    "  chip    a chip per grant (nothing for a good or unknown one)\n"
    "  login-switch\n"
    "          the switch that opens GrantLab.app at login\n"
    "Tab, Shift-Tab and the arrows move the focus, Enter or Space presses (Enter\n"
    "alone presses the default button), the terminal getting focus counts as the\n"
    "app becoming active. Esc or q leaves; \"Later\" and \"Done\" leave and print\n"
    "\"done\". Either way the terminal is restored and the exit status is 0.\n"
    "While a view is up, what grantlab has to say on standard error goes to\n"
    "~/Library/Logs/GrantLab.log.\n"
    "--lower writes the views' own labels (action titles, \"Required\",\n"
    "\"Optional\", \"Done\", \"Later\", \"Skip\", \"Continue\") in lower case.\n"
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
    "  custom:TITLE        a grant of the lab's own titled TITLE, drawn as given:\n"
    "                      askable (\"Allow\") until allowed, then good\n"
    "  required:GRANT      GRANT, required (sheet, steps and chip only)\n"
    "\n"
    "--install-for everyone|me|everyone,me\n"
    "    where a job grant may install the app when it has to move into an\n"
    "    Applications folder first: /Applications for everyone, ~/Applications\n"
    "    for you; with both, asking lets you choose. Default: every scope the\n"
    "    job allows (the daemon's is everyone alone).\n"
    "\n"
    "Exit status: 0, or 2 for a usage error or a view without a terminal.\n";

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

constexpr std::array<std::pair<Mode, std::string_view>, 7> modeNames{{
    {Mode::read, "read"},
    {Mode::ask, "ask"},
    {Mode::watch, "watch"},
    {Mode::sheet, "sheet"},
    {Mode::steps, "steps"},
    {Mode::chip, "chip"},
    {Mode::loginSwitch, "login-switch"},
}};

constexpr std::string_view automationPrefix = "automation:";
constexpr std::string_view customPrefix = "custom:";
constexpr std::string_view requiredPrefix = "required:";

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
    if (word.starts_with(customPrefix)) {
        // Any title at all, control characters included: the views must
        // draw whatever a grant is called.
        std::string_view title = word.substr(customPrefix.size());
        if (title.empty()) return UsageError{"'custom:' has no title: write custom:TITLE"};
        return Named{LabGrant{std::string(title)}};
    }
    return UsageError{"unknown grant '" + std::string(word) + "'"};
}

} // namespace

std::string_view modeName(Mode mode) {
    for (const auto& [candidate, name] : modeNames)
        if (candidate == mode) return name;
    return {};
}

bool isView(Mode mode) { return mode != Mode::read && mode != Mode::ask && mode != Mode::watch; }

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
    for (const auto& [candidate, name] : modeNames)
        if (verb == name) mode = candidate;
    if (!mode) return UsageError{"unknown command '" + verb + "'"};
    const bool view = isView(*mode);

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
        if (word == "--lower" && view) {
            command.lower = true;
            continue;
        }
        if (word == "--welcome" && *mode == Mode::steps) {
            command.welcome = true;
            continue;
        }
        if (word == "--lower") return UsageError{"--lower goes with sheet, steps, chip or login-switch"};
        if (word == "--welcome") return UsageError{"--welcome goes with steps"};
        if (word.starts_with("-")) return UsageError{"unknown option '" + word + "'"};
        if (*mode == Mode::loginSwitch) return UsageError{"login-switch takes no GRANT"};
        std::string_view named = word;
        if (named.starts_with(requiredPrefix)) {
            if (!view) return UsageError{"'" + word + "': only sheet, steps and chip mark a grant required"};
            named.remove_prefix(requiredPrefix.size());
            if (named.empty()) return UsageError{"'required:' names no grant: write required:GRANT"};
            command.required.push_back(command.grants.size());
        }
        auto grant = parseGrant(named);
        if (auto* error = std::get_if<UsageError>(&grant)) return *error;
        command.grants.push_back(std::get<Named>(grant));
    }
    if (command.grants.empty() && *mode != Mode::loginSwitch) return UsageError{verb + " needs at least one GRANT"};
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
                return UsageError{"the daemon installs for everyone only, never for " + std::string(scopeName(scope))};
    }
    return command;
}

} // namespace GrantLab
