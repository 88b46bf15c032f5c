#pragma once

#include "Arguments.hpp"

#include <Platform/Dispatch.hpp>

#include <vector>

// What grantlab does once its command line is read. Each mode runs the
// process's main loop, since asking and observing happen there, and ends the
// process itself: the privacy hub's queue and the readings may still be at
// work, so no static destructor may run under them.
namespace GrantLab {

// Prints one line per grant, asking for each first with `ask`; with `watch`
// opens the re-reading window first and then prints a line per change until
// SIGTERM or SIGINT. Exits 0.
[[noreturn]] void run(const Command& command);

// The process's main loop, ended by SIGTERM, SIGINT and quit requests (the
// installation layer asks a moved app to quit this way).
Platform::MainLoop& stoppableLoop();

// Stays up until SIGTERM, SIGINT or a quit request; exits 0.
[[noreturn]] void serve();

// A launch by the installation layer (the app opened after a move, with the
// switches naming the jobs to turn on): settles the bundle's jobs and exits 0,
// or 1 outside GrantLab.app.
[[noreturn]] void settle(const std::vector<std::string>& arguments);

} // namespace GrantLab
