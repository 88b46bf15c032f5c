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

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnActions() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnActions() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

// The child starts with no blocked signals and SIGPIPE at its default,
// whatever this thread (a run loop's, say) has blocked or ignored.
int cleanSignals(posix_spawnattr_t& attributes) {
    sigset_t none, pipe;
    sigemptyset(&none);
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    int error = posix_spawnattr_setsigmask(&attributes, &none);
    if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &pipe);
    if (error == 0) error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    return error;
}

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

// Reads both pipes until each reports end of file, whichever has data first.
void drain(int outFd, int errFd, std::string& out, std::string& err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open = 2;
    std::array<char, 65536> buffer;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return; // the caller closes the pipes; the child then ends on SIGPIPE or at its exit
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
}

int exitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

} // namespace

ProgramRun runProgram(std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Environment>& environment) {
    return runProgram(path, arguments, environment, SimulatedHost::root());
}

ProgramRun runProgram(std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Environment>& environment, const std::filesystem::path& root) {
    std::filesystem::path program = SimulatedHost::hostPath(path, root);
    bool simulated = program != std::filesystem::path(path);
    if (simulated) SimulatedHost::installStandIn(path, root);

    std::vector<std::string> argv{std::string(path)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envStrings;
    if (environment) {
        Environment given = *environment;
        if (simulated) given["LUMRA_SIM_ROOT"] = root.string();
        envStrings = environmentStrings(given);
    } else if (simulated) {
        envStrings = inheritedWithRoot(root);
    }
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(envStrings);
    char** envp = environment || simulated ? envPointers.data() : environ;

    // Descriptors: out read, out write, err read, err write. O_CLOEXEC keeps
    // them (and those of other threads spawning at the same time) out of
    // every child; dup2 onto 1 and 2 clears the flag for this child only.
    Descriptors pipes;
    if (::pipe2(&pipes.fds[0], O_CLOEXEC) != 0 || ::pipe2(&pipes.fds[2], O_CLOEXEC) != 0) return failure(errno);

    SpawnActions actions;
    int setup = posix_spawn_file_actions_addopen(&actions.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (setup == 0) setup = posix_spawn_file_actions_adddup2(&actions.actions, pipes.fds[1], STDOUT_FILENO);
    if (setup == 0) setup = posix_spawn_file_actions_adddup2(&actions.actions, pipes.fds[3], STDERR_FILENO);
    if (setup == 0) setup = cleanSignals(actions.attributes);
    if (setup != 0) return failure(setup);

    pid_t pid = 0;
    int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions.actions, &actions.attributes, argvPointers.data(), envp);
    Descriptors::shut(pipes.fds[1]);
    Descriptors::shut(pipes.fds[3]);
    if (spawned != 0) return failure(spawned);

    ProgramExit exit;
    drain(pipes.fds[0], pipes.fds[2], exit.out, exit.err);
    Descriptors::shut(pipes.fds[0]);
    Descriptors::shut(pipes.fds[2]);

    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0) {
        // Only when the process ignores SIGCHLD, so the kernel reaped the
        // child and took its status along.
        if (errno != EINTR) return failure(errno);
    }
    exit.status = exitStatus(waitStatus);
    return exit;
}

} // namespace Platform
