#include "FullScreen.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace Ink::detail {

namespace {

constexpr char enterSequence[] = "\x1B[?1049h\x1B[?25l\x1B[?1004h";
constexpr char leaveSequence[] = "\x1B[?1004l\x1B[?25h\x1B[?1049l";
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Read by signal handlers: plain data and lock-free atomics only.
std::atomic<bool> active{false};
int inputDescriptor = -1;
int outputDescriptor = -1;
bool haveModes = false;
termios savedModes{};
// The main loop's watch makes the terminal non-blocking, for the shell
// that reads it next too, since they share it: given back with the modes.
int savedFlags = -1;
struct sigaction previous[NSIG];
bool installed = false;
std::atomic<int> resizeDescriptor{-1};
struct sigaction previousResize;

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void writeAll(int descriptor, const char* bytes, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(descriptor, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
}

void onEndingSignal(int number, siginfo_t* info, void* context) {
    int savedErrno = errno;
    leaveFullScreen();
    const struct sigaction& before = previous[number];
    if ((before.sa_flags & SA_SIGINFO) != 0 && before.sa_sigaction != nullptr) {
        // The program handles the signal itself (to quit in order, say):
        // it goes on to do so, on a terminal already given back.
        before.sa_sigaction(number, info, context);
    } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN && before.sa_handler != nullptr) {
        before.sa_handler(number);
    } else {
        // Ends the program as the signal would have.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(number, &fallback, nullptr);
        sigset_t unblock;
        sigemptyset(&unblock);
        sigaddset(&unblock, number);
        ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
        ::raise(number);
    }
    errno = savedErrno;
}

void onResizeSignal(int) {
    int savedErrno = errno;
    int descriptor = resizeDescriptor.load();
    char byte = 1;
    if (descriptor >= 0) {
        [[maybe_unused]] ssize_t written = ::write(descriptor, &byte, 1);
    }
    errno = savedErrno;
}

void installHandlers() {
    static bool atExitRegistered = false;
    if (!atExitRegistered) {
        std::atexit(leaveFullScreen);
        atExitRegistered = true;
    }
    if (installed) return;
    for (int number : endingSignals) {
        struct sigaction mine {};
        mine.sa_sigaction = onEndingSignal;
        mine.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&mine.sa_mask);
        ::sigaction(number, nullptr, &previous[number]);
        // An ignored signal ends nothing: the terminal stays ours.
        if ((previous[number].sa_flags & SA_SIGINFO) == 0 && previous[number].sa_handler == SIG_IGN) continue;
        ::sigaction(number, &mine, nullptr);
    }
    installed = true;
}

void removeHandlers() {
    if (!installed) return;
    for (int number : endingSignals) ::sigaction(number, &previous[number], nullptr);
    installed = false;
}

} // namespace

void enterFullScreen(int input, int output) {
    inputDescriptor = input;
    outputDescriptor = output;
    haveModes = ::tcgetattr(input, &savedModes) == 0;
    savedFlags = ::fcntl(input, F_GETFL);
    installHandlers();
    active.store(true);
    if (haveModes) {
        termios raw = savedModes;
        // Keys arrive byte by byte, unechoed; Ctrl-C is a key, not a signal.
        ::cfmakeraw(&raw);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(input, TCSANOW, &raw);
    }
    writeAll(output, enterSequence, sizeof enterSequence - 1);
}

void leaveFullScreen() {
    if (!active.exchange(false)) return;
    writeAll(outputDescriptor, leaveSequence, sizeof leaveSequence - 1);
    if (haveModes) ::tcsetattr(inputDescriptor, TCSANOW, &savedModes);
    if (savedFlags >= 0) ::fcntl(inputDescriptor, F_SETFL, savedFlags);
}

void closeFullScreen() {
    leaveFullScreen();
    removeHandlers();
}

bool fullScreen() { return active.load(); }

void startResizeSignals(int descriptor) {
    resizeDescriptor.store(descriptor);
    struct sigaction mine {};
    mine.sa_handler = onResizeSignal;
    mine.sa_flags = SA_RESTART;
    sigemptyset(&mine.sa_mask);
    ::sigaction(SIGWINCH, &mine, &previousResize);
}

void stopResizeSignals() {
    ::sigaction(SIGWINCH, &previousResize, nullptr);
    resizeDescriptor.store(-1);
}

} // namespace Ink::detail
