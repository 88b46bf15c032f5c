// idle-app: a program that does nothing but stay up until SIGTERM or SIGINT,
// copied into test bundles so that an application with a chosen bundle
// identifier runs on the simulated machine (a target for Apple Events).

#include <csignal>
#include <unistd.h>

namespace {

// Ends at once and quietly: there is nothing to finish.
void end(int) { _exit(0); }

} // namespace

int main() {
    struct sigaction action {};
    action.sa_handler = end;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0) return 1;
    for (;;) pause();
}
