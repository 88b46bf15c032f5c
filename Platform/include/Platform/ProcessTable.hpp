#pragma once

#include "Platform/Clock.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// What the kernel knows about the machine's processes, read from /proc.
// Stateless apart from the boot time, which is read once per process so that
// every start time this process computes stays the same. Any thread.
namespace Platform::ProcessTable {

// When the kernel booted, whole seconds since 1970; absent when /proc/stat
// cannot be read or has no "btime" line. The kernel's figure moves whenever
// the wall clock is stepped, so the first one read in this boot is kept on
// the machine (boot.json, with the kernel's boot ID) and every process of
// the boot answers with it: a process's start maps to the same date in
// every process, before and after a step.
std::optional<Date> bootTime();

// When process `pid` started, as seconds since 1970 with the fraction: the
// boot time plus the start recorded in the process's stat line. The same on
// every call while the process lives; absent when no process has that ID.
std::optional<double> startTime(pid_t pid);

// The process's name: the last path component of its first argument (bytes
// that are not UTF-8 replaced), or, when the process shows no arguments (a
// kernel thread, a zombie), its short command name. Absent when no process
// has that ID.
std::optional<std::string> name(pid_t pid);

// Every process ID the kernel lists, in its order; nothing when the list
// cannot be read.
std::optional<std::vector<pid_t>> processIDs();

// The executable of process `pid`, links resolved, in the macOS view (a
// program under the simulation root loses the root); nothing when no process
// has that ID, its executable cannot be read (another user's process) or was
// deleted since it started.
std::optional<std::string> executablePath(pid_t pid);

// When process `pid` started, in clock ticks since boot: with the ID it
// names one process for good, since IDs are reused but never within a tick.
// Absent when no process has that ID.
std::optional<uint64_t> startTicks(pid_t pid);

// The start field (22nd, clock ticks since boot) of a /proc/<pid>/stat line,
// when the line is about `pid`. The command name in parentheses may hold
// anything, spaces and ')' included, so the fields are counted from the last
// ')'.
std::optional<uint64_t> startTicks(std::string_view statLine, pid_t pid);

// The seconds since 1970 of the "btime" line in /proc/stat content.
std::optional<int64_t> bootSeconds(std::string_view procStat);

// The last path component of the first argument in /proc/<pid>/cmdline
// content (arguments each ended by a zero byte); empty when there is none.
std::string firstArgumentName(std::string_view cmdline);

} // namespace Platform::ProcessTable
