#include "Client.hpp"

#include <LumraKit/Identity.hpp>
#include <LumraKit/Process.hpp>
#include <Platform/SimulatedHost.hpp>

#include <cstdlib>
#include <iostream>

namespace Client {

namespace {

namespace SimulatedHost = Platform::SimulatedHost;

// The person to grant: the one who ran `sudo lumra grant` when that is how
// lumra runs, since root itself needs no grant.
std::string grantee() {
    if (SimulatedHost::runsAsRoot())
        if (const char* user = std::getenv("SUDO_USER"); user != nullptr && *user != '\0') return user;
    return SimulatedHost::userName();
}

} // namespace

Host liveHost() {
    const std::string& sudoers = LumraKit::Paths::current().sudoers;
    return Host{
        .send = [](const LumraKit::Command& command) { return LumraKit::Wire::roundTrip(command); },
        .processStart = [](int32_t pid) { return LumraKit::procStartTime(pid); },
        // The simulated machine is only set up when the grant is asked for:
        // the other commands never touch it.
        .grant = [sudoers] { return Grant::install(SimulatedHost::hostPath(sudoers), grantee()); },
        .installedAt = sudoers,
        .clock = Platform::hostClock(),
        .palette = Terminal::ui(),
        .out = std::cout,
        .err = std::cerr,
    };
}

} // namespace Client
