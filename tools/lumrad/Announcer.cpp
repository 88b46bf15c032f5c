#include "Announcer.hpp"

#include <LumraKit/Log.hpp>
#include <LumraKit/Run.hpp>

#include <Platform/SimulatedHost.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Lumrad {

namespace {

// Messages named one by one in a merged notification; the rest are counted.
constexpr size_t notifiedMessages = 3;
// Announcements kept for one waiting run; the rest are counted.
constexpr size_t keptWaiting = 20;
// How much of one hook run's output reaches the log, and the longest line.
constexpr size_t loggedOutput = 16384;
constexpr size_t longestLine = 1024;

std::string counted(size_t more) { return "(" + std::to_string(more) + " more)"; }

// The first `shown` of `total` texts (of which `texts` were kept) as one,
// the others counted.
std::string merged(const std::vector<std::string>& texts, size_t total, size_t shown, std::string_view between) {
    shown = std::min(shown, texts.size());
    std::string text;
    for (size_t at = 0; at < shown; ++at) {
        if (at > 0) text += between;
        text += texts[at];
    }
    if (total > shown) text += std::string(between) + counted(total - shown);
    return text;
}

} // namespace

Announcer::Announcer(std::optional<std::filesystem::path> notifier, Starter start, std::function<Time()> clock)
    : notifier_(std::move(notifier)), start_(std::move(start)), clock_(std::move(clock)) {}

Announcer::~Announcer() { closeOutput(); }

std::variant<pid_t, Platform::LaunchFailure>
Announcer::startProgram(std::string_view path, const std::vector<std::string>& arguments,
                        const std::optional<Platform::Environment>& environment, int output) {
    Platform::SpawnOptions options;
    options.output = output;
    return Platform::startProgram(path, arguments, environment, Platform::SimulatedHost::root(), options);
}

Platform::Environment hookEnvironment(const Platform::Environment& service, const std::string& message,
                                      const std::string& reason) {
    Platform::Environment environment;
    for (const auto& [name, value] : service)
        if (name == "PATH" || name == "HOME" || name == "USER" || name == "LANG" || name.starts_with("LUMRA_"))
            environment[name] = value;
    environment["LUMRA_MESSAGE"] = message;
    environment["LUMRA_REASON"] = reason;
    return environment;
}

void Announcer::announce(const std::string& message, const std::string& reason, const std::string& hook) {
    auto add = [&](std::optional<Pending>& waiting) {
        if (!waiting) waiting = Pending{};
        if (waiting->messages.size() < keptWaiting) {
            waiting->messages.push_back(message);
            waiting->reasons.push_back(reason);
        }
        ++waiting->total;
        waiting->hook = hook; // the person's latest choice
    };
    if (notifier_)
        add(notifierWaiting_);
    else
        LumraKit::log("announcement (no notifier outside the app bundle): " + message);
    if (!hook.empty()) add(hookWaiting_);
    startWaiting();
}

std::string_view Announcer::describe(Kind kind) { return kind == Kind::notifier ? "the notifier" : "the notify hook"; }

void Announcer::startWaiting() {
    if (notifierWaiting_ && !notifierRunning_) {
        const auto& messages = notifierWaiting_->messages;
        std::string text = merged(messages, notifierWaiting_->total, notifiedMessages, " ");
        notifierWaiting_.reset();
        notifierRunning_ = start(Kind::notifier, notifier_->string(), {text}, std::nullopt, -1);
    }
    if (hookWaiting_ && !hookRunning_) {
        Pending waiting = std::move(*hookWaiting_);
        hookWaiting_.reset();
        std::string message = merged(waiting.messages, waiting.total, keptWaiting, "\n");
        std::string reasons = merged(waiting.reasons, waiting.total, keptWaiting, " ");
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) {
            LumraKit::log(std::string("cannot start the notify hook: no pipe for its output: ") + std::strerror(errno));
            return;
        }
        hookRunning_ = start(Kind::hook, "/bin/sh", {"-c", "--", waiting.hook},
                             hookEnvironment(Platform::currentEnvironment(), message, reasons), pipe[1]);
        ::close(pipe[1]);
        if (hookRunning_) {
            ::fcntl(pipe[0], F_SETFL, ::fcntl(pipe[0], F_GETFL) | O_NONBLOCK);
            output_ = pipe[0];
            outputLogged_ = 0;
        } else {
            ::close(pipe[0]);
        }
    }
}

std::optional<Announcer::Running> Announcer::start(Kind kind, std::string_view path,
                                                   const std::vector<std::string>& arguments,
                                                   const std::optional<Platform::Environment>& environment,
                                                   int output) {
    auto started = start_(path, arguments, environment, output);
    if (auto* failure = std::get_if<Platform::LaunchFailure>(&started)) {
        LumraKit::log("cannot start " + std::string(describe(kind)) + " " + std::string(path) + ": " +
                      failure->description + " (errno " + std::to_string(failure->error) + ")");
        return std::nullopt;
    }
    auto limit = kind == Kind::hook ? hookTimeLimit : notifierTimeLimit;
    return Running{std::get<pid_t>(started), clock_() + limit, false};
}

bool Announcer::collect(Kind kind, Running& running) {
    int status = 0;
    pid_t done = ::waitpid(running.pid, &status, WNOHANG);
    if (done == 0 || (done < 0 && errno == EINTR)) {
        if (!running.killed && clock_() >= running.deadline) {
            auto limit = kind == Kind::hook ? hookTimeLimit : notifierTimeLimit;
            LumraKit::log(std::string(describe(kind)) + " ran past " +
                          LumraKit::durationText(std::chrono::duration_cast<std::chrono::milliseconds>(limit)) +
                          " and was killed");
            ::kill(-running.pid, SIGKILL);
            running.killed = true;
        }
        return false;
    }
    // Anything else (ECHILD above all) means there is nothing left to wait for.
    if (kind == Kind::hook) {
        // What it wrote before it ended, ahead of how it ended; a child it
        // left behind may hold the pipe open, but its words are not the hook's.
        readOutput();
        if (!partialLine_.empty()) logOutput(std::exchange(partialLine_, {}));
        closeOutput();
    }
    // The notifier logs its own outcome; a failing hook has no other voice.
    if (done > 0 && kind == Kind::hook && !running.killed) {
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            LumraKit::log("the notify hook exited with status " + std::to_string(WEXITSTATUS(status)));
        else if (WIFSIGNALED(status))
            LumraKit::log("the notify hook was ended by signal " + std::to_string(WTERMSIG(status)));
    }
    return true;
}

size_t Announcer::reap() {
    if (notifierRunning_ && collect(Kind::notifier, *notifierRunning_)) notifierRunning_.reset();
    if (hookRunning_ && collect(Kind::hook, *hookRunning_)) hookRunning_.reset();
    startWaiting();
    return (notifierRunning_ ? 1u : 0u) + (hookRunning_ ? 1u : 0u);
}

std::optional<Announcer::Time> Announcer::nextDeadline() const {
    std::optional<Time> next;
    for (const auto* running : {&notifierRunning_, &hookRunning_})
        if (*running && !(*running)->killed && (!next || (*running)->deadline < *next)) next = (*running)->deadline;
    return next;
}

void Announcer::readOutput() {
    if (output_ < 0) return;
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            // The end of the output, with the hook still to be collected: stop watching.
            if (count == 0) {
                if (!partialLine_.empty()) logOutput(std::exchange(partialLine_, {}));
                closeOutput();
            }
            return;
        }
        for (ssize_t at = 0; at < count; ++at) {
            if (buffer[at] == '\n') {
                logOutput(std::exchange(partialLine_, {}));
            } else if (partialLine_.size() < longestLine) {
                partialLine_.push_back(buffer[at]);
            }
        }
    }
}

void Announcer::logOutput(std::string_view line) {
    if (outputLogged_ > loggedOutput) return;
    outputLogged_ += line.size() + 1;
    if (outputLogged_ > loggedOutput)
        LumraKit::log("notify hook: (further output not logged)");
    else
        LumraKit::log("notify hook: " + std::string(line));
}

void Announcer::closeOutput() {
    if (output_ >= 0) ::close(output_);
    output_ = -1;
    partialLine_.clear();
}

std::optional<std::filesystem::path> notifierPath(const std::optional<std::filesystem::path>& given,
                                                  const std::optional<Platform::Bundle>& bundle) {
    if (given) return given;
    if (bundle) return bundle->path / "Contents/Helpers/lumra-notifier.app/Contents/MacOS/lumra-notifier";
    return std::nullopt;
}

} // namespace Lumrad
