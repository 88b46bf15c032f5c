#pragma once

#include <Log/Writer.hpp>
#include <Platform/Spawn.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

// Starting command-line tools, asking which programs run, and ending the
// application in an orderly way. Nothing here throws: a tool that cannot
// start is a value, or a logged error and a fixed result. Paths are macOS
// paths (see Platform::SimulatedHost).
namespace AppInstallation {

// The installation layer's log writer, scope "install".
const Log::LogWriter& installLog();

// A tool that started and ended: its exit code 0 to 255, or -1 when a signal
// ended it, and its standard output as UTF-8 (ill-formed bytes replaced).
// `timedOut`: it outlived its limit and was killed; `output` holds what had
// come by then.
struct Ran {
    int32_t status = 0;
    std::string output;
    bool timedOut = false;
    bool operator==(const Ran&) const = default;
};

// A tool that never ran, with the system error number that stopped it.
struct NotStarted {
    int32_t error = 0;
    bool operator==(const NotStarted&) const = default;
};

using Spawned = std::variant<Ran, NotStarted>;

// A look at the spawn attributes before the start; false refuses it.
using Attributes = std::function<bool(posix_spawnattr_t&)>;

// A tool's outcome: exit status and text.
struct ToolResult {
    int32_t status = 0;
    std::string output;
    bool operator==(const ToolResult&) const = default;
};

// Runs the tool at `tool` with `args` (no search of the executable path) and
// waits for it. Standard input is /dev/null, standard error is discarded, and
// the child gets no descriptor of the caller's but its three. A refused
// `attributes` is NotStarted{1}. With a `limit` (host time), the tool runs in
// a process group of its own, killed whole and reaped once the limit is
// past. Blocks; any thread.
Spawned spawn(const std::string& tool, const std::vector<std::string>& args, const Attributes& attributes = {},
              std::optional<std::chrono::milliseconds> limit = std::nullopt);

// spawn with the default attributes; a tool that does not start logs the
// error "did not start" (tool, args, errno) and gives (-1, "").
ToolResult run(const std::string& tool, const std::vector<std::string>& args);

// Runs the tool in a process group of its own, writing to this process's
// standard output and error, and waits for it. A signal to the caller's
// group (launchd ending the caller's job, say) does not reach it, and it
// goes on to its end, still able to write, when the caller ends first.
// `environment` is the child's whole environment instead of the caller's,
// whose own is never changed. The exit status, -1 when a signal ended it,
// or -1 after the "did not start" error. Blocks; any thread.
int32_t runApart(const std::string& tool, const std::vector<std::string>& args,
                 const std::optional<Platform::Environment>& environment = std::nullopt);

// Runs the tool with standard output and standard error merged into one
// text; a tool that does not start gives 127 and "<path> did not start",
// without a log line.
ToolResult tool(const std::string& path, const std::vector<std::string>& args);

// Starts a new instance of the app at `app` through /usr/bin/open (-n; -g
// and -j in the background; --args before `arguments` when there are any)
// and answers open's exit status: 0 when the app was launched, -1 (after the
// "did not start" error) when open itself could not start.
int32_t open(const std::string& app, const std::vector<std::string>& arguments, bool background);

// Whether another process runs the main executable of the bundle at `app`
// (the caller itself does not count).
bool isRunning(const std::string& app);
// Those other processes, in the order the system lists them.
std::vector<pid_t> appProcesses(const std::string& app);

// The other processes whose executables lie inside `folder`, in the order
// the system lists them.
std::vector<pid_t> processes(const std::string& folder);

// Asks this application to quit through its main loop and returns at once.
// When nothing has ended the process 10 seconds later (at the host's time
// rate), a warning is logged and the process exits 0 after running the exit
// work and flushing the logs. Any thread.
void quit();

// Ends the process now with `status`, after the exit work and a flush of
// the logs, without running static destructors under threads that may still
// use them. A second caller waits for the first to end the process. Any
// thread.
[[noreturn]] void exitNow(int status);

// Sets the work to run once at process exit, replacing (never running) what
// was set before. The work runs outside any lock. Any thread.
void atExit(std::function<void()> work);

} // namespace AppInstallation
