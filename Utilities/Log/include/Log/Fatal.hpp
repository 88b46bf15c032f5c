#pragma once

#include <string_view>

namespace Log {

// Stops the process: writes "fatal error: <message>" and a line feed to
// standard error in one write, then aborts. For bad log configuration and
// broken preconditions, neither of which a caller could recover from. Safe
// from any thread; allocates nothing.
[[noreturn]] void fatalError(std::string_view message);

} // namespace Log
