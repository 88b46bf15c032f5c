#include "Client.hpp"
#include "Foreground.hpp"

#include <LumraKit/Identity.hpp>
#include <LumraKit/Process.hpp>
#include <Platform/Accounts.hpp>
#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Client {

namespace {

namespace SimulatedHost = Platform::SimulatedHost;

// Whether a connection to the socket is accepted (a listening service, even
// a stalled one), without sending anything.
bool accepts(const std::filesystem::path& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& text = socketPath.native();
    if (text.size() >= sizeof address.sun_path) return false;
    std::copy(text.begin(), text.end(), address.sun_path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// The grant is root's to install, through sudo, for the person who ran
// sudo: root's own commands need no grant.
LumraKit::Result<Grant::Installed, Grant::Refused> grantAsRoot(const std::string& sudoers) {
    if (!SimulatedHost::runsAsRoot()) return Grant::Refused{"grant needs root: run sudo lumra grant"};
    const char* user = std::getenv("SUDO_USER");
    if (user == nullptr || *user == '\0' || std::string_view(user) == "root")
        return Grant::Refused{"grant is for the person who runs sudo lumra grant, not for root itself"};
    if (!Platform::Accounts::user(user)) return Grant::Refused{"no user named " + std::string(user) + " on this Mac"};
    return Grant::install(SimulatedHost::hostPath(sudoers), user);
}

} // namespace

Host liveHost() { return liveHost(std::cout, std::cerr, Terminal::ui()); }

Host liveHost(std::ostream& out, std::ostream& err, Terminal::Palette palette) {
    const auto& paths = LumraKit::Paths::current();
    const std::string& sudoers = paths.sudoers;
    std::filesystem::path socket = paths.socket;
    return Host{
        .send = [](const LumraKit::Command& command) { return LumraKit::Wire::roundTrip(command); },
        .reachable = [socket] { return accepts(socket); },
        .processStart = [](int32_t pid) { return LumraKit::procStartTime(pid); },
        .pid = static_cast<int32_t>(::getpid()),
        .heat = [] { return std::string(Platform::Power::rawValue(Platform::Power::thermalState())); },
        .runCommand = runInForeground,
        .grant = [sudoers] { return grantAsRoot(sudoers); },
        .installedAt = sudoers,
        .clock = Platform::hostClock(),
        .palette = palette,
        .out = out,
        .err = err,
    };
}

} // namespace Client
