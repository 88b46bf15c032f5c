// grantlab: the main executable of GrantLab.app, a harness that reads, asks
// for, watches and shows every kind of grant on the machine, as an app of its own
// with its own identifier, entitlements, agent and daemon. See --help.

#include "Arguments.hpp"
#include "Lab.hpp"
#include "Views.hpp"

#include <AppInstallations/AppInstallation.hpp>
#include <PermissionGrants/PermissionGrant.hpp>
#include <Platform/Files.hpp>

#include <string>
#include <unistd.h>
#include <variant>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // The privacy hub's probe starts the bundle's main executable, this one:
    // a probe answers and ends here.
    PermissionGrants::PermissionGrant::answerProbeIfAsked(arguments);
    if (AppInstallation::isInstallationLaunch(arguments)) GrantLab::settle(arguments);

    auto parsed = GrantLab::parse(arguments);
    if (const auto* error = std::get_if<GrantLab::UsageError>(&parsed)) {
        Platform::Files::writeAll(STDERR_FILENO, "grantlab: " + error->message + "\nTry 'grantlab --help'.\n");
        return 2;
    }
    if (std::holds_alternative<GrantLab::Help>(parsed)) {
        Platform::Files::writeAll(STDOUT_FILENO, std::string(GrantLab::usageText));
        return 0;
    }
    if (std::holds_alternative<GrantLab::Serve>(parsed)) GrantLab::serve();
    const auto& command = std::get<GrantLab::Command>(parsed);
    if (GrantLab::isView(command.mode)) GrantLab::view(command);
    GrantLab::run(command);
}
