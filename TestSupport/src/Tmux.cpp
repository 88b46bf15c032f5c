#include "TestSupport/Tmux.hpp"

#include <TestSupport/Processes.hpp>
#include <TestSupport/Subprocess.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace TestSupport {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

fs::path tmuxExecutable() {
    std::stringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string folder; std::getline(path, folder, ':');) {
        fs::path candidate = fs::path(folder) / "tmux";
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    throw std::runtime_error("tmux is not installed (scripts/setup installs it)");
}

std::string withoutLineBreak(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

} // namespace

Tmux::Tmux(const std::vector<std::string>& command, const Options& options)
    : executable_(tmuxExecutable()), socket_((folder_ / "socket").string()) {
    auto environment = options.environment;
    environment.try_emplace("LANG", "C.UTF-8");
    environment.try_emplace("TERM", "xterm-256color");
    // The client outside any other tmux, in the locale the pane gets, so
    // the server it starts reads and writes UTF-8.
    clientEnvironment_ = {{"TMUX", ""}, {"LANG", environment.at("LANG")}};

    // One command list, so the options hold before the command starts: a
    // command that ends at once still leaves its pane and status behind.
    std::vector<std::string> arguments{"start-server", ";", "set-option", "-g", "remain-on-exit", "on", ";",
                                       "set-option", "-g", "default-terminal", environment.at("TERM"), ";",
                                       "set-option", "-g", "focus-events", "on", ";",
                                       "new-session", "-d", "-P", "-F", "#{pane_id} #{pane_pid} #{pid}",
                                       "-x", std::to_string(options.columns), "-y", std::to_string(options.lines)};
    for (const auto& [name, value] : environment) {
        arguments.push_back("-e");
        arguments.push_back(name + "=" + value);
    }
    arguments.push_back("--");
    arguments.insert(arguments.end(), command.begin(), command.end());
    std::istringstream started(tmux(arguments));
    started >> pane_ >> commandPid_ >> serverPid_;
    if (pane_.empty() || commandPid_ <= 0 || serverPid_ <= 0) throw std::runtime_error("tmux started no pane");
}

Tmux::~Tmux() {
    runProcess(executable_, {"-S", socket_, "kill-server"}, clientEnvironment_, 10s);
    // Closing its terminal ends a well-behaved program; one that survives
    // it is a fault of its own, reported, and ended anyway.
    for (pid_t pid : {commandPid_, serverPid_}) {
        if (eventually([pid] { return hasEnded(pid); })) continue;
        ADD_FAILURE() << "process " << pid << " outlived its terminal";
        ::kill(pid, SIGKILL);
        if (!ends(pid)) ADD_FAILURE() << "process " << pid << " survived SIGKILL";
    }
}

std::string Tmux::tmux(const std::vector<std::string>& arguments) const {
    std::vector<std::string> all{"-S", socket_, "-f", "/dev/null"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    auto done = runProcess(executable_, all, clientEnvironment_, 10s);
    if (done.status != 0) throw std::runtime_error("tmux " + arguments.front() + " failed: " + done.err);
    return done.out;
}

void Tmux::sendKeys(const std::vector<std::string>& keys) const {
    std::vector<std::string> arguments{"send-keys", "-t", pane_};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    tmux(arguments);
}

void Tmux::type(std::string_view text) const { tmux({"send-keys", "-t", pane_, "-l", "--", std::string(text)}); }

void Tmux::sendBytes(std::string_view bytes) const {
    std::vector<std::string> arguments{"send-keys", "-t", pane_, "-H"};
    for (unsigned char byte : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        arguments.emplace_back(hex);
    }
    tmux(arguments);
}

std::string Tmux::capture(Capture how) const {
    std::vector<std::string> arguments{"capture-pane", "-p", "-t", pane_};
    if (how.escapes) arguments.push_back("-e");
    if (how.history) arguments.insert(arguments.end(), {"-S", "-"});
    return tmux(arguments);
}

bool Tmux::waitFor(const std::function<bool(const std::string&)>& predicate, std::chrono::milliseconds limit) const {
    for (auto deadline = std::chrono::steady_clock::now() + limit;; std::this_thread::sleep_for(20ms)) {
        if (predicate(capture())) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

bool Tmux::waitFor(std::string_view text, std::chrono::milliseconds limit) const {
    return waitFor([text](const std::string& screen) { return screen.find(text) != std::string::npos; }, limit);
}

std::optional<int> Tmux::exitStatus(std::chrono::milliseconds limit) const {
    // The pane reads dead when its terminal closes, a moment before the
    // server has collected the status.
    for (auto deadline = std::chrono::steady_clock::now() + limit;; std::this_thread::sleep_for(20ms)) {
        std::istringstream fields(query("#{pane_dead} #{pane_dead_status}#{?pane_dead_signal,signal,}"));
        std::string dead, status;
        fields >> dead >> status;
        if (dead == "1" && status == "signal") return -1;
        if (dead == "1" && !status.empty()) return std::atoi(status.c_str());
        // Now and then the server misses the SIGCHLD of a command that
        // ended while it was busy and leaves it a zombie; another signal
        // makes it collect every child that has ended.
        if (dead == "1") ::kill(serverPid_, SIGCHLD);
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    }
}

std::string Tmux::query(const std::string& format) const {
    return withoutLineBreak(tmux({"display-message", "-p", "-t", pane_, format}));
}

} // namespace TestSupport
