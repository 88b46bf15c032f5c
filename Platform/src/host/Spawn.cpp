#include "Platform/Spawn.hpp"
#include "Platform/SimulatedHost.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Platform {

namespace {

LaunchFailure failure(int error) { return {error, std::strerror(error)}; }

// Closes on scope exit whatever descriptors are still open.
struct Descriptors {
    std::array<int, 4> fds{-1, -1, -1, -1};
    ~Descriptors() {
        for (int& fd : fds) shut(fd);
    }
    static void shut(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// The file actions and attributes of one spawn, with what every child gets:
// standard input from /dev/null, no blocked signals and SIGPIPE at its
// default, whatever this thread (a run loop's, say) has blocked or ignored.
// `flags` adds spawn flags to those. error() is the first setup failure.
class SpawnActions {
public:
    explicit SpawnActions(short flags = 0) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
        sigset_t none, pipe;
        sigemptyset(&none);
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        check(posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
        check(posix_spawnattr_setsigmask(&attributes_, &none));
        check(posix_spawnattr_setsigdefault(&attributes_, &pipe));
        check(posix_spawnattr_setflags(&attributes_,
                                       static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | flags)));
    }
    ~SpawnActions() {
        posix_spawnattr_destroy(&attributes_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;

    void dup2(int fd, int onto) { check(posix_spawn_file_actions_adddup2(&actions_, fd, onto)); }
    void closeFrom(int lowest) { check(posix_spawn_file_actions_addclosefrom_np(&actions_, lowest)); }
    // The caller's say on the attributes; false refuses the start.
    void let(const SpawnOptions& options) {
        if (error_ == 0 && options.attributes && !options.attributes(attributes_)) error_ = EPERM;
    }
    int error() const { return error_; }

    posix_spawn_file_actions_t* actions() { return &actions_; }
    posix_spawnattr_t* attributes() { return &attributes_; }

private:
    void check(int error) {
        if (error_ == 0) error_ = error;
    }
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    int error_ = 0;
};

std::vector<std::string> environmentStrings(const Environment& environment) {
    std::vector<std::string> strings;
    strings.reserve(environment.size());
    for (const auto& [name, value] : environment) strings.push_back(name + "=" + value);
    return strings;
}

// The caller's environment with LUMRA_SIM_ROOT set to `root`.
std::vector<std::string> inheritedWithRoot(const std::filesystem::path& root) {
    std::vector<std::string> strings;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::strncmp(*entry, "LUMRA_SIM_ROOT=", 15) != 0) strings.emplace_back(*entry);
    strings.push_back("LUMRA_SIM_ROOT=" + root.string());
    return strings;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (auto& text : strings) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// What a program is started with: the host program for a macOS path, its
// arguments, and the environment, where a macOS tool always sees the root of
// the machine it runs on. Built in place: the pointer arrays point into the
// strings.
class Launch {
public:
    Launch(std::string_view path, const std::vector<std::string>& arguments,
           const std::optional<Environment>& environment, const std::filesystem::path& root)
        : program_(SimulatedHost::hostPath(path, root)), argv_{std::string(path)} {
        bool simulated = program_ != std::filesystem::path(path);
        if (simulated) SimulatedHost::installStandIn(path, root);

        argv_.insert(argv_.end(), arguments.begin(), arguments.end());
        if (environment) {
            Environment given = *environment;
            if (simulated) given["LUMRA_SIM_ROOT"] = root.string();
            env_ = environmentStrings(given);
        } else if (simulated) {
            env_ = inheritedWithRoot(root);
        }
        ownEnvironment_ = environment || simulated;
        argvPointers_ = pointers(argv_);
        envPointers_ = pointers(env_);
    }
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

    // posix_spawn's result: 0, or the error number.
    int spawn(pid_t& pid, SpawnActions& actions) {
        return ::posix_spawn(&pid, program_.c_str(), actions.actions(), actions.attributes(), argvPointers_.data(),
                             ownEnvironment_ ? envPointers_.data() : environ);
    }

private:
    std::filesystem::path program_;
    std::vector<std::string> argv_;
    std::vector<std::string> env_;
    bool ownEnvironment_ = false;
    std::vector<char*> argvPointers_;
    std::vector<char*> envPointers_;
};

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// Reads both pipes until each reports end of file, whichever has data first;
// false when the deadline came first.
bool drain(int outFd, int errFd, std::string& out, std::string& err, Deadline deadline) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open = 2;
    std::array<char, 65536> buffer;
    while (open > 0) {
        int wait = -1;
        if (deadline) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            wait = static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX));
        }
        if (::poll(fds, 2, wait) < 0) {
            if (errno == EINTR) continue;
            return true; // the caller closes the pipes; the child then ends on SIGPIPE or at its exit
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t count = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (count > 0) {
                sinks[i]->append(buffer.data(), static_cast<size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                fds[i].fd = -1; // poll ignores negative descriptors
                --open;
            }
        }
    }
    return true;
}

int exitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

// Waits for the child; past the deadline its group is killed first. False
// when the kernel reaped it already (the caller ignores SIGCHLD).
bool reap(pid_t pid, int& waitStatus, Deadline deadline, bool& timedOut) {
    while (deadline && !timedOut) {
        pid_t done = ::waitpid(pid, &waitStatus, WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= *deadline) {
            ::kill(-pid, SIGKILL);
            timedOut = true;
        } else {
            // Its output has ended, so it is on its way out, or it has let go of its pipes and hangs.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    while (::waitpid(pid, &waitStatus, 0) < 0)
        if (errno != EINTR) return false;
    return true;
}

} // namespace

ProgramRun runProgram(std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Environment>& environment, const std::filesystem::path& root,
                      const SpawnOptions& options) {
    Launch launch(path, arguments, environment, root);

    // Descriptors: out read, out write, err read, err write. O_CLOEXEC keeps
    // them (and those of other threads spawning at the same time) out of
    // every child; dup2 onto 1 and 2 clears the flag for this child only.
    Descriptors pipes;
    if (::pipe2(&pipes.fds[0], O_CLOEXEC) != 0 || ::pipe2(&pipes.fds[2], O_CLOEXEC) != 0) return failure(errno);

    // A run with a limit leads a process group of its own, to be killed whole.
    SpawnActions actions(options.limit ? POSIX_SPAWN_SETPGROUP : 0);
    actions.dup2(pipes.fds[1], STDOUT_FILENO);
    actions.dup2(pipes.fds[options.mergeOutputs ? 1 : 3], STDERR_FILENO);
    // Descriptors opened without O_CLOEXEC (by a library, say) stay out too.
    actions.closeFrom(STDERR_FILENO + 1);
    actions.let(options);
    if (actions.error() != 0) return failure(actions.error());

    pid_t pid = 0;
    int spawned = launch.spawn(pid, actions);
    Descriptors::shut(pipes.fds[1]);
    Descriptors::shut(pipes.fds[3]);
    if (spawned != 0) return failure(spawned);

    ProgramExit exit;
    Deadline deadline;
    if (options.limit) deadline = std::chrono::steady_clock::now() + *options.limit;
    if (!drain(pipes.fds[0], pipes.fds[2], exit.out, exit.err, deadline)) {
        ::kill(-pid, SIGKILL);
        exit.timedOut = true;
    }
    Descriptors::shut(pipes.fds[0]);
    Descriptors::shut(pipes.fds[2]);

    int waitStatus = 0;
    // Failing only when the process ignores SIGCHLD, so the kernel reaped the
    // child and took its status along.
    if (!reap(pid, waitStatus, deadline, exit.timedOut)) return failure(errno);
    exit.status = exitStatus(waitStatus);
    if (WIFSIGNALED(waitStatus)) exit.signal = WTERMSIG(waitStatus);
    return exit;
}

ProgramRun runProgram(std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Environment>& environment) {
    return runProgram(path, arguments, environment, SimulatedHost::root());
}

ProgramRun runProgram(std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Environment>& environment, const std::filesystem::path& root) {
    return runProgram(path, arguments, environment, root, SpawnOptions{});
}

std::variant<pid_t, LaunchFailure> startProgram(std::string_view path, const std::vector<std::string>& arguments,
                                                const std::optional<Environment>& environment) {
    return startProgram(path, arguments, environment, SimulatedHost::root());
}

std::variant<pid_t, LaunchFailure> startProgram(std::string_view path, const std::vector<std::string>& arguments,
                                                const std::optional<Environment>& environment,
                                                const std::filesystem::path& root) {
    return startProgram(path, arguments, environment, root, SpawnOptions{});
}

std::variant<pid_t, LaunchFailure> startProgram(std::string_view path, const std::vector<std::string>& arguments,
                                                const std::optional<Environment>& environment,
                                                const std::filesystem::path& root, const SpawnOptions& options) {
    Launch launch(path, arguments, environment, root);
    // Process group 0: a group of the child's own, led by it.
    SpawnActions actions(POSIX_SPAWN_SETPGROUP);
    if (options.output >= 0) {
        actions.dup2(options.output, STDOUT_FILENO);
        actions.dup2(options.output, STDERR_FILENO);
    }
    actions.closeFrom(STDERR_FILENO + 1);
    actions.let(options);
    if (actions.error() != 0) return failure(actions.error());

    pid_t pid = 0;
    if (int spawned = launch.spawn(pid, actions); spawned != 0) return failure(spawned);
    return pid;
}

Environment currentEnvironment() {
    Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view variable(*entry);
        size_t equals = variable.find('=');
        if (equals == std::string_view::npos) continue;
        environment.emplace(std::string(variable.substr(0, equals)), std::string(variable.substr(equals + 1)));
    }
    return environment;
}

} // namespace Platform
