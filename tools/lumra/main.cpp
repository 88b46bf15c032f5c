// lumra: the command line that drives the service. See Client.hpp.

#include "AppCommand.hpp"
#include "Background.hpp"
#include "Client.hpp"
#include "Grants.hpp"

#include <PermissionGrants/PermissionGrant.hpp>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // A privacy probe answers and ends here, before anything else starts.
    PermissionGrants::PermissionGrant::answerProbeIfAsked(arguments);
    if (!arguments.empty() && arguments[0] == "grants") return Client::Grants::run(arguments, std::cout, std::cerr);
    if (!arguments.empty() && arguments[0] == "app")
        return Client::AppCommand::run({arguments.begin() + 1, arguments.end()}, std::cout, std::cerr);
    if (!arguments.empty() && arguments[0] == "background")
        return Client::Background::run({arguments.begin() + 1, arguments.end()}, std::cout, std::cerr);
    return Client::run(arguments, Client::liveHost());
}
