#include "Platform/QuitRequests.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace Platform::QuitRequests {

namespace {

int wakeWrite = -1;

// Only async-signal-safe work here: one byte into the pipe.
void onSignal(int) {
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(wakeWrite, &byte, 1);
    errno = saved;
}

} // namespace

bool send(pid_t pid) { return pid > 0 && ::kill(pid, SIGURG) == 0; }

void receive(Queue& queue, Task handler, bool alsoTermination) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    wakeWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGURG, &action, nullptr);
    if (alsoTermination) {
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }
    // A waiting thread turns each byte into work on the queue; it lives as
    // long as the process.
    std::thread([readFd = fds[0], &queue, handler = std::move(handler)] {
        char byte = 0;
        for (;;) {
            ssize_t count = ::read(readFd, &byte, 1);
            if (count == 1)
                queue.async(handler);
            else if (count == 0 || errno != EINTR)
                return;
        }
    }).detach();
}

} // namespace Platform::QuitRequests
