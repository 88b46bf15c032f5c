#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace Platform {

// A program that ran to its end.
struct ProgramExit {
    // The exit status; 128 + the signal number when a signal ended it.
    int status = 0;
    // The signal that ended it; 0 when it exited.
    int signal = 0;
    std::string out; // every byte of standard output, as written
    std::string err; // every byte of standard error, as written
    // The run went past its time limit, so its process group was killed;
    // `out` and `err` hold what had come by then.
    bool timedOut = false;
};

// A program that never started.
struct LaunchFailure {
    int error = 0;           // the errno value
    std::string description; // the system's text for it, e.g. "No such file or directory"
};

using ProgramRun = std::variant<ProgramExit, LaunchFailure>;

// What a caller may add to one start. `attributes` sees the spawn attribute
// set just before the start (after the defaults are in) and may change it;
// false refuses the start, reported as error 1 (EPERM). `mergeOutputs` sends
// standard error into the collected standard output, interleaved as written.
struct SpawnOptions {
    std::function<bool(posix_spawnattr_t&)> attributes;
    bool mergeOutputs = false;
    // runProgram only: the program runs in a process group of its own, and
    // when it has not ended within `limit` the whole group is killed
    // (SIGKILL) and the run is marked timedOut, so a hung tool and whatever
    // it started cannot hold the caller.
    std::optional<std::chrono::milliseconds> limit;
    // startProgram only: when not -1, takes the child's standard output and
    // error (a pipe's writing end, say).
    int output = -1;
};

// A whole environment: variable names and their values.
using Environment = std::map<std::string, std::string>;

// Runs the program at the absolute `path` with `arguments` and blocks until
// it exits. `environment`, when given, replaces the caller's whole
// environment. Standard input is /dev/null; both outputs are collected at the
// same time, so a child that fills one pipe while the caller waits on the
// other never stalls. The child gets no other descriptor of the caller. The
// child is always reaped. Any thread.
//
// A macOS tool path (/usr/bin/pmset, /bin/launchctl, …) runs the simulated
// machine's program at that path, the build's stand-in when nothing else was
// put there; such a tool also always sees the same simulation root, even in a
// replaced environment, as a tool on the platform sees the same machine.
ProgramRun runProgram(std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Environment>& environment = std::nullopt);

// The same on the simulated machine at `root`.
ProgramRun runProgram(std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Environment>& environment, const std::filesystem::path& root);

// The same with the caller's additions.
ProgramRun runProgram(std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Environment>& environment, const std::filesystem::path& root,
                      const SpawnOptions& options);

// Starts the program as runProgram would (the same paths, environment and
// clean signals) and returns its process ID at once, without waiting: for
// programs that outlive the moment, such as a notification being shown.
// Standard input is /dev/null; standard output and error are the caller's.
// The child gets no other descriptor of the caller (so a listening socket
// dies with its owner, not with the last child), and runs in a process group
// of its own, so a Ctrl-C meant for the caller does not reach it. The caller
// must reap the child (waitpid), or it stays a zombie. Any thread.
std::variant<pid_t, LaunchFailure> startProgram(std::string_view path, const std::vector<std::string>& arguments,
                                                const std::optional<Environment>& environment = std::nullopt);

// The same on the simulated machine at `root`.
std::variant<pid_t, LaunchFailure> startProgram(std::string_view path, const std::vector<std::string>& arguments,
                                                const std::optional<Environment>& environment,
                                                const std::filesystem::path& root);

// The same with the caller's attributes and output (mergeOutputs and limit
// do not apply).
std::variant<pid_t, LaunchFailure> startProgram(std::string_view path, const std::vector<std::string>& arguments,
                                                const std::optional<Environment>& environment,
                                                const std::filesystem::path& root, const SpawnOptions& options);

// This process's environment as it is now, to extend for a child.
Environment currentEnvironment();

} // namespace Platform
