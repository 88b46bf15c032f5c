#pragma once

#include <AppInstallations/AppInstallation.hpp>
#include <PermissionGrants/Privacy.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// grantlab's command line: what to do (read, ask or watch) with which
// grants, read from the arguments after the program's name. Nothing here
// touches the machine, so every refusal is checked without one.
namespace GrantLab {

extern const std::string_view usageText;

enum class Mode { read, ask, watch };

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

// One GRANT argument.
using Named = std::variant<PermissionGrants::Privacy, AutomationOf, BackgroundJob, OwnNotifications>;

struct Command {
    Mode mode;
    std::vector<Named> grants;
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

} // namespace GrantLab
