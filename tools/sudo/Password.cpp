#include "Password.hpp"

#include <Platform/Files.hpp>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace Sudo {

namespace {

constexpr int tries = 3;

void say(std::string_view text) { Platform::Files::writeAll(STDERR_FILENO, text); }

// One line from `fd`, a byte at a time; absent at the end of input before
// any byte.
std::optional<std::string> readLine(int fd) {
    std::string line;
    for (;;) {
        char byte = 0;
        ssize_t got = ::read(fd, &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (byte == '\n') return line;
        line += byte;
    }
}

// Echo off on the terminal while the password is typed.
class Silence {
public:
    explicit Silence(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~Silence() {
        if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    Silence(const Silence&) = delete;
    Silence& operator=(const Silence&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

} // namespace

PasswordOutcome askPassword(std::string_view user, bool fromStandardInput,
                            const std::function<bool(std::string_view)>& check) {
    int fd = STDIN_FILENO;
    int terminal = -1;
    if (!fromStandardInput) {
        terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal < 0) {
            say("sudo: a terminal is required to read the password; either use the -S option to read from standard "
                "input or configure an askpass helper\nsudo: a password is required\n");
            return PasswordOutcome::refused;
        }
        fd = terminal;
    }
    PasswordOutcome outcome = PasswordOutcome::refused;
    for (int attempt = 1; attempt <= tries; ++attempt) {
        say("[sudo] password for " + std::string(user) + ": ");
        std::optional<std::string> typed;
        {
            std::optional<Silence> silence;
            if (terminal >= 0) silence.emplace(terminal);
            typed = readLine(fd);
        }
        if (terminal >= 0 || !typed) say("\n");
        if (!typed) {
            say("sudo: no password was provided\nsudo: a password is required\n");
            break;
        }
        if (check(*typed)) {
            outcome = PasswordOutcome::accepted;
            break;
        }
        if (attempt < tries)
            say("Sorry, try again.\n");
        else
            say("sudo: " + std::to_string(tries) + " incorrect password attempts\n");
    }
    if (terminal >= 0) ::close(terminal);
    return outcome;
}

} // namespace Sudo
