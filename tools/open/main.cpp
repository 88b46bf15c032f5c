// Stand-in for macOS's /usr/bin/open on the simulated machine:
//   open [-n] [-g] [-j] APP [--args ARGUMENTS…]
// Starts the bundle's CFBundleExecutable detached (a session of its own,
// output into open/<name>.log under the simulation root) with the caller's
// environment less XPC_SERVICE_NAME, unless the app already runs and -n was
// not given, in which case it is only activated. Each launch or activation
// is one line of open/launches.jsonl, and the app is registered with Launch
// Services. Exits 0 only once the program has really started.

#include <Platform/Files.hpp>
#include <Platform/LaunchServices.hpp>
#include <Platform/MainBundle.hpp>
#include <Platform/ProcessTable.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>

#include <nlohmann/json.hpp>

#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace Host = Platform::SimulatedHost;

constexpr const char* usage = "Usage: open [-n] [-g] [-j] <application> [--args arguments]\n";

struct Request {
    bool fresh = false, background = false, hidden = false;
    std::string app;
    std::vector<std::string> arguments;
};

std::optional<Request> parse(const std::vector<std::string>& words) {
    Request request;
    size_t i = 0;
    for (; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "-n")
            request.fresh = true;
        else if (word == "-g")
            request.background = true;
        else if (word == "-j")
            request.hidden = true;
        else if (word.starts_with("-"))
            return std::nullopt;
        else
            break;
    }
    if (i == words.size()) return std::nullopt;
    request.app = words[i++];
    if (i < words.size()) {
        if (words[i] != "--args") return std::nullopt;
        request.arguments.assign(words.begin() + static_cast<long>(i) + 1, words.end());
    }
    return request;
}

// The process already running the executable (macOS path), if any.
std::optional<pid_t> runningCopy(const std::string& executable) {
    auto pids = Platform::ProcessTable::processIDs();
    if (!pids) return std::nullopt;
    for (pid_t pid : *pids)
        if (pid != ::getpid() && Platform::ProcessTable::executablePath(pid) == executable) return pid;
    return std::nullopt;
}

void record(const Request& request, const std::string& app, bool fresh, pid_t pid) {
    nlohmann::json line{{"path", app},
                        {"arguments", request.arguments},
                        {"new", fresh},
                        {"background", request.background},
                        {"hidden", request.hidden},
                        {"pid", pid}};
    Platform::Files::append(Host::root() / "open/launches.jsonl", line.dump() + "\n");
}

} // namespace

int main(int argc, char** argv) {
    auto request = parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!request) {
        std::cerr << usage;
        return 1;
    }
    // A relative path is the caller's, as on the Mac.
    std::string app = Platform::Files::absolutePath(request->app);
    while (app.size() > 1 && app.back() == '/') app.pop_back();
    fs::path bundle = Host::hostPath(app);
    std::error_code error;
    if (!fs::exists(bundle, error)) {
        std::cerr << "The file " << app << " does not exist.\n";
        return 1;
    }
    auto executable = Platform::bundleExecutable(bundle);
    if (!executable || ::access(executable->c_str(), X_OK) != 0) {
        std::cerr << "The application cannot be opened because its executable is missing.\n";
        return 1;
    }
    // Opening an app makes it known to Launch Services, as on the Mac.
    Platform::LaunchServices::registerBundle(app, Host::root());
    fs::path resolved = fs::canonical(*executable, error);
    std::string program = Host::macPath(error ? *executable : resolved);

    if (!request->fresh)
        if (auto running = runningCopy(program)) {
            record(*request, app, false, *running);
            return 0;
        }

    fs::path log = Host::root() / "open" / (bundle.stem().string() + ".log");
    Platform::Files::createDirectories(log.parent_path());
    // The caller's standard error stays ours for a failure to report.
    int callerErr = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (output < 0 || ::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0) {
        std::cerr << "open: " << log.string() << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    ::close(output);

    Platform::Environment environment = Platform::currentEnvironment();
    environment.erase("XPC_SERVICE_NAME");
    Platform::SpawnOptions options;
    // A session of its own: the app outlives this tool and its terminal.
    options.attributes = [](posix_spawnattr_t& attributes) {
        short flags = 0;
        posix_spawnattr_getflags(&attributes, &flags);
        flags = static_cast<short>((flags & ~POSIX_SPAWN_SETPGROUP) | POSIX_SPAWN_SETSID);
        return posix_spawnattr_setflags(&attributes, flags) == 0;
    };
    auto started = Platform::startProgram(program, request->arguments, environment, Host::root(), options);
    if (const auto* failure = std::get_if<Platform::LaunchFailure>(&started)) {
        std::string text = "The application " + app + " cannot be opened: " + failure->description + "\n";
        Platform::Files::writeAll(callerErr, text);
        return 1;
    }
    record(*request, app, true, std::get<pid_t>(started));
    return 0;
}
