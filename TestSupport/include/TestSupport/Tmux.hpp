#pragma once

#include <TestSupport/TempDir.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace TestSupport {

// A real terminal for a full-screen program: a private tmux server (its own
// socket in a temporary folder, no configuration read) with one session of
// a fixed size running one command. Tests type into it and read the screen
// back as the person would see it. The pane stays after the command ends,
// so its exit status and last screen can be read; destroying the object
// ends the server and everything still running in it.
class Tmux {
public:
    struct Options {
        int columns = 80;
        int lines = 24;
        // Given to the command on top of this process's environment; LANG
        // defaults to C.UTF-8 and TERM to xterm-256color.
        std::map<std::string, std::string> environment;
    };

    Tmux(const std::vector<std::string>& command, const Options& options);
    ~Tmux();
    Tmux(const Tmux&) = delete;
    Tmux& operator=(const Tmux&) = delete;

    // Keys by tmux's names ("Tab", "BTab", "Up", "Enter", "Space", "Escape",
    // "C-c", "q"), each sent as the terminal would send it.
    void sendKeys(const std::vector<std::string>& keys) const;
    // Text typed as it is, no key names looked up.
    void type(std::string_view text) const;
    // Bytes written to the program's terminal untouched, such as "\x1b[I",
    // what a terminal sends when it gains focus.
    void sendBytes(std::string_view bytes) const;

    struct Capture {
        bool escapes = false; // keep colours and attributes as escape sequences
        bool history = false; // include the lines scrolled off the top
    };
    // The pane's text, one line per row, trailing blanks dropped.
    std::string capture(Capture how) const;
    std::string capture() const { return capture(Capture{}); }

    // Whether the screen comes to satisfy `predicate` (or to contain
    // `text`) before `limit`, polled in short steps.
    bool waitFor(const std::function<bool(const std::string& screen)>& predicate,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    bool waitFor(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // The command's exit status once it has ended within `limit` (-1 when a
    // signal ended it); nothing while it still runs.
    std::optional<int> exitStatus(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // A tmux format about the pane, such as "#{alternate_on}".
    std::string query(const std::string& format) const;
    pid_t pid() const { return commandPid_; }

private:
    std::string tmux(const std::vector<std::string>& arguments) const;

    std::filesystem::path executable_;
    TempDir folder_;
    std::string socket_;
    std::map<std::string, std::string> clientEnvironment_;
    std::string pane_;
    pid_t serverPid_ = 0;
    pid_t commandPid_ = 0;
};

} // namespace TestSupport
