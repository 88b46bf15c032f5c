#include "Foreground.hpp"

#include <Platform/Files.hpp>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Client {

namespace {

std::atomic<pid_t> foreground{0};

void passOn(int signal) {
    if (pid_t child = foreground.load(); child > 0) ::kill(child, signal);
}

// Installs the handlers for the command's lifetime and restores the old
// ones after.
class Relay {
public:
    Relay() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction relay {};
        relay.sa_handler = passOn;
        ::sigaction(SIGINT, &ignore, &saved_[0]);
        ::sigaction(SIGQUIT, &ignore, &saved_[1]);
        ::sigaction(SIGTERM, &relay, &saved_[2]);
        ::sigaction(SIGHUP, &relay, &saved_[3]);
    }
    ~Relay() {
        ::sigaction(SIGINT, &saved_[0], nullptr);
        ::sigaction(SIGQUIT, &saved_[1], nullptr);
        ::sigaction(SIGTERM, &saved_[2], nullptr);
        ::sigaction(SIGHUP, &saved_[3], nullptr);
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

private:
    struct sigaction saved_[4] {};
};

} // namespace

int runInForeground(const std::vector<std::string>& command) {
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    // The child starts with default dispositions and an open mask, whatever
    // lumra ignores meanwhile.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    Relay relay;
    // A signal to pass on that comes before the child's ID is known waits
    // until it is.
    sigset_t relayed, previous;
    sigemptyset(&relayed);
    sigaddset(&relayed, SIGTERM);
    sigaddset(&relayed, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &relayed, &previous);
    pid_t child = 0;
    int error = ::posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    if (error == 0) foreground.store(child);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (error != 0) {
        Platform::Files::writeAll(STDERR_FILENO, "lumra: " + command[0] + ": " +
                                                     (error == ENOENT ? std::string("command not found")
                                                                      : std::string(std::strerror(error))) +
                                                     "\n");
        return error == ENOENT ? 127 : 126;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    foreground.store(0);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

} // namespace Client
