#pragma once

#include "Grant.hpp"

#include <LumraKit/Wire.hpp>
#include <Platform/Clock.hpp>
#include <Terminal/ANSI.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The client command line: one run parses the arguments, sends at most one
// command to the service (or installs the sudoers grant) and reports.
namespace Client {

namespace ExitStatus {
inline constexpr int done = 0;
inline constexpr int refused = 1; // the service (or the grant) said no
inline constexpr int usage = 2;
inline constexpr int noAnswer = 3; // the service did not answer
} // namespace ExitStatus

// What a run needs from its process: the real program passes the socket,
// the process table, the sudoers folder and the terminal; tests pass fakes.
struct Host {
    std::function<std::optional<LumraKit::Reply>(const LumraKit::Command&)> send;
    // Whether something accepts connections on the service's socket: tells
    // a service that is not running from one that did not answer.
    std::function<bool()> reachable;
    std::function<std::optional<double>(int32_t pid)> processStart;
    int32_t pid; // this process's
    // The machine's heat as the system names it ("nominal", "fair",
    // "serious", "critical").
    std::function<std::string()> heat;
    // Runs a command in the foreground (same terminal, same process group,
    // so Ctrl-C reaches it) and answers its exit status: 128 + the signal
    // when one ended it, 127 when it was not found, 126 when it could not
    // run (its reason already on standard error).
    std::function<int(const std::vector<std::string>&)> runCommand;
    // Installs the grant for the person running lumra; `installedAt` is the
    // drop-in's macOS path, for the report.
    std::function<LumraKit::Result<Grant::Installed, Grant::Refused>()> grant;
    std::string installedAt;
    Platform::Clock& clock;
    Terminal::Palette palette;
    std::ostream& out;
    std::ostream& err;
};

// The real program's host: Wire::roundTrip, /proc, the drop-in at
// Paths::current().sudoers on the simulated machine for the person running
// lumra, the host clock, the terminal's colour decision, the standard
// streams.
Host liveHost();
// The same, reporting to other streams in `palette` (another program that
// shows what lumra would say, in a window of its own).
Host liveHost(std::ostream& out, std::ostream& err, Terminal::Palette palette);

// Runs the arguments after the program's name and answers the exit status.
int run(const std::vector<std::string>& arguments, const Host& host);

} // namespace Client
