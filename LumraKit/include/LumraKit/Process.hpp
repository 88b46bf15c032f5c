#pragma once

#include <Platform/Clock.hpp>

#include <optional>
#include <string>
#include <sys/types.h>

namespace LumraKit {

// When the kernel last booted. Should the kernel not say, the answer is now,
// so that nothing stamped before the question looks older than the boot.
Platform::Date bootTime();

// When process `pid` started, as seconds since 1970 with the sub-second part
// as the fraction. The same value on every call while the process lives;
// absent when no process has that ID.
std::optional<double> procStartTime(pid_t pid);

// The last path component of the process's first argument, falling back to
// the kernel's short command name; absent when no process has that ID.
std::optional<std::string> procName(pid_t pid);

} // namespace LumraKit
