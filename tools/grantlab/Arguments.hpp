#pragma once

#include <AppInstallations/AppInstallation.hpp>
#include <PermissionGrants/Privacy.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// grantlab's command line: what to do (read, ask or watch them, or show
// them in one of the grant views) with which grants, read from the arguments after the program's name. Nothing here
// touches the machine, so every refusal is checked without one.
namespace GrantLab {

extern const std::string_view usageText;

// The last four show the grants on the terminal.
enum class Mode { read, ask, watch, sheet, steps, chip, loginSwitch };

// The jobs GrantLab.app ships: its launch agent, its launch daemon and the
// app itself as login item.
enum class JobName { agent, daemon, loginItem };

struct AutomationOf {
    std::string bundleID;
    bool operator==(const AutomationOf&) const = default;
};
struct BackgroundJob {
    JobName job;
    // Where the app may be installed when it has to move first: a non-empty
    // subset of the job's scopes, in the order given.
    std::vector<AppInstallation::Scope> installFor;
    bool operator==(const BackgroundJob&) const = default;
};
struct OwnNotifications {
    bool operator==(const OwnNotifications&) const = default;
};
// A grant of the lab's own with this title, drawn as given: askable until
// its action is pressed, then good.
struct LabGrant {
    std::string title;
    bool operator==(const LabGrant&) const = default;
};

// One GRANT argument.
using Named = std::variant<PermissionGrants::Privacy, AutomationOf, BackgroundJob, OwnNotifications, LabGrant>;

struct Command {
    Mode mode;
    std::vector<Named> grants;
    // The views only: the indices of the grants marked required, the
    // pieces' own labels in lower case, a welcome page before the steps.
    std::vector<size_t> required = {};
    bool lower = false;
    bool welcome = false;
    bool operator==(const Command&) const = default;
};
// --help: the usage on standard output, exit 0.
struct Help {
    bool operator==(const Help&) const = default;
};
// What the bundle's agent and daemon run: stay up until told to stop.
struct Serve {
    bool operator==(const Serve&) const = default;
};
// One line, without the program's name or the hint that follows it.
struct UsageError {
    std::string message;
    bool operator==(const UsageError&) const = default;
};

using Parsed = std::variant<Command, Help, Serve, UsageError>;

Parsed parse(const std::vector<std::string>& arguments);

// The name a permission goes by on the command line: its case name,
// "camera", "fullDiskAccess", …
std::string_view caseName(PermissionGrants::Privacy privacy);
// The word that names a mode on the command line: "read", …, "login-switch".
std::string_view modeName(Mode mode);
bool isView(Mode mode);

} // namespace GrantLab
