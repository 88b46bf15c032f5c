// idle-app: a program that does nothing but stay up until SIGTERM or SIGINT,
// copied into test bundles so that an application with a chosen bundle
// identifier runs on the simulated machine (a target for Apple Events).

#include <csignal>

int main() {
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    // Blocked, the signals wait for sigwait instead of ending the process
    // by default, so both end it the same quiet way.
    if (sigprocmask(SIG_BLOCK, &ending, nullptr) != 0) return 1;
    int received = 0;
    while (sigwait(&ending, &received) != 0) {
    }
    return 0;
}
