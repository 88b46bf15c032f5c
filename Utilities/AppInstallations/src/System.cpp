#include "AppInstallations/System.hpp"
#include "Paths.hpp"

#include <Log/Output.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/MainBundle.hpp>
#include <Platform/ProcessTable.hpp>
#include <Platform/QuitRequests.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>
#include <Platform/UTF8.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>

namespace AppInstallation {

namespace {

void logNotStarted(const std::string& tool, const std::vector<std::string>& args, int32_t error) {
    installLog().error("did not start", [&] { return Log::Fields{{"tool", tool}, {"args", args}, {"errno", error}}; });
}

// The one slot of work for the process's exit. Never destroyed, so the exit
// handler can still lock it while static objects go away.
struct ExitSlot {
    std::mutex lock;
    std::function<void()> work;
    std::once_flag registered;
};

ExitSlot& exitSlot() {
    static ExitSlot* slot = new ExitSlot;
    return *slot;
}

// Takes the work out of the slot and runs it, so it runs at most once
// whichever way the process ends.
void runExitWork() {
    std::function<void()> work;
    {
        std::lock_guard guard(exitSlot().lock);
        work = std::exchange(exitSlot().work, nullptr);
    }
    if (work) work();
}

// The process's other executables, with the caller and pid 0 skipped, each
// tested by `wanted`.
template <class Wanted>
std::vector<pid_t> otherProcesses(Wanted wanted) {
    std::vector<pid_t> found;
    auto pids = Platform::ProcessTable::processIDs();
    if (!pids) return found;
    pid_t own = ::getpid();
    for (pid_t pid : *pids) {
        if (pid < 1 || pid == own) continue;
        auto path = Platform::ProcessTable::executablePath(pid);
        if (path && wanted(*path)) found.push_back(pid);
    }
    return found;
}

} // namespace

const Log::LogWriter& installLog() {
    static const Log::LogWriter writer = Log::log.scope("install");
    return writer;
}

Spawned spawn(const std::string& tool, const std::vector<std::string>& args, const Attributes& attributes,
              std::optional<std::chrono::milliseconds> limit) {
    Platform::SpawnOptions options;
    options.attributes = attributes;
    options.limit = limit;
    auto outcome = Platform::runProgram(tool, args, std::nullopt, Platform::SimulatedHost::root(), options);
    if (const auto* failure = std::get_if<Platform::LaunchFailure>(&outcome)) return NotStarted{failure->error};
    const auto& exit = std::get<Platform::ProgramExit>(outcome);
    return Ran{exit.signal != 0 ? -1 : exit.status, Platform::UTF8::repaired(exit.out), exit.timedOut};
}

ToolResult run(const std::string& tool, const std::vector<std::string>& args) {
    Spawned spawned = spawn(tool, args);
    if (const auto* notStarted = std::get_if<NotStarted>(&spawned)) {
        logNotStarted(tool, args, notStarted->error);
        return {-1, ""};
    }
    const auto& ran = std::get<Ran>(spawned);
    return {ran.status, ran.output};
}

int32_t runApart(const std::string& tool, const std::vector<std::string>& args,
                 const std::optional<Platform::Environment>& environment) {
    auto started = Platform::startProgram(tool, args, environment, Platform::SimulatedHost::root());
    if (const auto* failure = std::get_if<Platform::LaunchFailure>(&started)) {
        logNotStarted(tool, args, failure->error);
        return -1;
    }
    int status = 0;
    while (::waitpid(std::get<pid_t>(started), &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ToolResult tool(const std::string& path, const std::vector<std::string>& args) {
    Platform::SpawnOptions options;
    options.mergeOutputs = true;
    auto outcome = Platform::runProgram(path, args, std::nullopt, Platform::SimulatedHost::root(), options);
    if (std::holds_alternative<Platform::LaunchFailure>(outcome)) return {127, path + " did not start"};
    const auto& exit = std::get<Platform::ProgramExit>(outcome);
    return {exit.status, Platform::UTF8::repaired(exit.out)};
}

int32_t open(const std::string& app, const std::vector<std::string>& arguments, bool background) {
    std::vector<std::string> args{"-n"};
    if (background) args.insert(args.end(), {"-g", "-j"});
    args.push_back(app);
    if (!arguments.empty()) {
        args.push_back("--args");
        args.insert(args.end(), arguments.begin(), arguments.end());
    }
    const std::string openTool = "/usr/bin/open";
    Spawned spawned = spawn(openTool, args);
    if (const auto* notStarted = std::get_if<NotStarted>(&spawned)) {
        logNotStarted(openTool, args, notStarted->error);
        return -1;
    }
    return std::get<Ran>(spawned).status;
}

std::vector<pid_t> appProcesses(const std::string& app) {
    auto executable = Platform::bundleExecutable(Platform::SimulatedHost::hostPath(app));
    if (!executable) return {};
    std::error_code error;
    auto resolved = std::filesystem::canonical(*executable, error);
    if (error) return {};
    std::string path = Platform::SimulatedHost::macPath(resolved);
    return otherProcesses([&](const std::string& running) { return running == path; });
}

bool isRunning(const std::string& app) { return !appProcesses(app).empty(); }

std::vector<pid_t> processes(const std::string& folder) {
    std::string prefix = Paths::standardized(folder);
    if (prefix != "/") prefix += "/";
    return otherProcesses([&](const std::string& running) { return running.starts_with(prefix); });
}

void quit() {
    installLog().info("quitting", [] { return Log::Fields{{"pid", static_cast<int64_t>(::getpid())}}; });
    Platform::QuitRequests::send(::getpid());
    Platform::globalQueue().asyncAfter(std::chrono::seconds(10), [] {
        installLog().warn("nothing answered the quit: exiting");
        exitNow(0);
    });
}

void exitNow(int status) {
    // Never unlocked: whoever comes second waits for the first to end it.
    static std::mutex* const ending = new std::mutex;
    ending->lock();
    runExitWork();
    Log::flushLog();
    std::fflush(nullptr);
    std::_Exit(status);
}

void atExit(std::function<void()> work) {
    ExitSlot& slot = exitSlot();
    {
        std::lock_guard guard(slot.lock);
        slot.work = std::move(work);
    }
    std::call_once(slot.registered, [] { std::atexit(runExitWork); });
}

} // namespace AppInstallation
