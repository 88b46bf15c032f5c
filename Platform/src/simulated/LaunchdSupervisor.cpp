#include "Platform/LaunchdSupervisor.hpp"

#include "LaunchdRecords.hpp"
#include "Platform/Accounts.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Credentials.hpp"
#include "Platform/Files.hpp"
#include "Platform/SimulatedHost.hpp"
#include "Platform/Spawn.hpp"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace Platform::Launchd {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Records::Process;

// launchd starts a job again at most this often.
constexpr Duration throttleInterval = 10s;
// launchd's own status for a job whose program cannot be started.
constexpr int cannotStart = 78;

// Tells the waiting caller how the first start went, once.
class Readiness {
public:
    explicit Readiness(int fd) : fd_(fd) {}
    ~Readiness() { tell("launchd: the job's supervisor ended before starting it\n"); }
    Readiness(const Readiness&) = delete;
    Readiness& operator=(const Readiness&) = delete;

    // An empty reason is success.
    void tell(const std::string& reason) {
        if (fd_ < 0) return;
        Files::writeAll(fd_, reason.empty() ? "1" : "0" + reason);
        ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

class Supervisor {
public:
    Supervisor(std::string domain, std::string label, fs::path root, Readiness& readiness)
        : domain_(std::move(domain)), label_(std::move(label)), root_(std::move(root)), readiness_(readiness),
          uid_(domainUID(domain_).value_or(0)) {}

    int run() {
        // Jobs start with every signal at its default, whatever the loader
        // ignored or blocked; only the supervisor itself ignores SIGPIPE (the
        // spawn layer gives the job its default back), so a caller gone
        // before the answer does not end it.
        for (int number = 1; number < NSIG; ++number) ::signal(number, SIG_DFL);
        ::signal(SIGPIPE, SIG_IGN);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (auto problem = detach()) {
            readiness_.tell(*problem);
            return 1;
        }
        // The job inherits the domain's user from its supervisor at once.
        Credentials::assume(uid_, root_);
        if (auto problem = claim()) {
            readiness_.tell(*problem);
            Credentials::release(root_);
            return 1;
        }
        double rate = SimulatedHost::readTimeRate(root_);
        while (true) {
            auto began = std::chrono::steady_clock::now();
            auto started = start();
            readiness_.tell("");
            if (!started) break;
            if (*started && !finish(**started)) break;
            if (!keepAlive_) {
                release();
                break;
            }
            std::this_thread::sleep_until(began + hostDuration(throttleInterval, rate));
        }
        Credentials::release(root_);
        return 0;
    }

private:
    // A session of its own in "/", its output into the job's log.
    std::optional<std::string> detach() {
        ::setsid();
        if (::chdir("/") != 0) return "launchd: cannot change to /: " + std::string(std::strerror(errno)) + "\n";
        fs::path log = Records::logFile(domain_, label_, root_);
        Files::createDirectories(log.parent_path());
        int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (output < 0) return "launchd: " + log.string() + ": " + std::strerror(errno) + "\n";
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        ::close(output);
        return std::nullopt;
    }

    // Becomes the job's one supervisor, unless a living one has it.
    std::optional<std::string> claim() {
        auto me = Records::identify(::getpid());
        if (!me) return "launchd: cannot read its own process\n";
        me_ = *me;
        Files::Lock lock(Records::lockFile(root_));
        auto record = Records::read(domain_, label_, root_);
        if (!record) return "Could not find service \"" + label_ + "\" in domain " + domain_ + "\n";
        if (record->supervisor && Records::isAlive(*record->supervisor))
            return "launchd: " + domain_ + "/" + label_ + " is supervised by process " +
                   std::to_string(record->supervisor->pid) + "\n";
        record->supervisor = me_;
        if (!Records::write(*record, root_)) return "launchd: cannot write the record of " + label_ + "\n";
        return std::nullopt;
    }

    // Starts the program, unless the job was booted out or taken over:
    // absent then. The process started, or nothing when it could not start.
    std::optional<std::optional<pid_t>> start() {
        Files::Lock lock(Records::lockFile(root_));
        auto record = Records::read(domain_, label_, root_);
        if (!record || record->supervisor != me_) return std::nullopt;
        keepAlive_ = record->job.keepAlive;
        const auto& arguments = record->job.programArguments;
        SpawnOptions options;
        options.attributes = [](posix_spawnattr_t& attributes) {
            short flags = 0;
            posix_spawnattr_getflags(&attributes, &flags);
            flags = static_cast<short>((flags & ~POSIX_SPAWN_SETPGROUP) | POSIX_SPAWN_SETSID);
            return posix_spawnattr_setflags(&attributes, flags) == 0;
        };
        auto started = startProgram(arguments.front(), {arguments.begin() + 1, arguments.end()}, std::nullopt, root_,
                                    options);
        std::optional<pid_t> pid;
        if (const auto* failure = std::get_if<LaunchFailure>(&started)) {
            Files::writeAll(STDERR_FILENO, "launchd: " + label_ + ": cannot start " + arguments.front() + ": " +
                                               failure->description + "\n");
            record->process.reset();
            record->job.lastExitStatus = cannotStart;
        } else {
            pid = std::get<pid_t>(started);
            record->process = Records::identify(*pid);
            ++record->job.runs;
            if (uid_ != Accounts::person().uid) Credentials::recordProcess(*pid, uid_, root_);
        }
        Records::write(*record, root_);
        return pid;
    }

    // Waits for the job's process and records how it ended; false when the
    // job is no longer this supervisor's.
    bool finish(pid_t pid) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        int exitStatus = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        // What the job left behind in its process group goes with it, as on
        // the platform (the group keeps its ID from reuse while it has members).
        ::kill(-pid, SIGKILL);
        Files::Lock lock(Records::lockFile(root_));
        auto record = Records::read(domain_, label_, root_);
        if (!record || record->supervisor != me_) return false;
        record->process.reset();
        record->job.lastExitStatus = exitStatus;
        keepAlive_ = record->job.keepAlive;
        Records::write(*record, root_);
        return true;
    }

    // Leaves the job loaded, with no one in charge.
    void release() {
        Files::Lock lock(Records::lockFile(root_));
        auto record = Records::read(domain_, label_, root_);
        if (!record || record->supervisor != me_) return;
        record->supervisor.reset();
        Records::write(*record, root_);
    }

    std::string domain_, label_;
    fs::path root_;
    Readiness& readiness_;
    uint32_t uid_;
    Process me_;
    bool keepAlive_ = false;
};

} // namespace

int superviseJob(const std::string& domain, const std::string& label, const fs::path& root) {
    if (!domainUID(domain) || !Records::validLabel(label)) {
        Files::writeAll(STDERR_FILENO, "launchd: no job " + domain + "/" + label + "\n");
        return 1;
    }
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return 1;
    pid_t child = ::fork();
    if (child < 0) {
        Files::writeAll(STDERR_FILENO, "launchd: cannot fork: " + std::string(std::strerror(errno)) + "\n");
        return 1;
    }
    if (child == 0) {
        ::close(ready[0]);
        int status = 1;
        {
            Readiness readiness(ready[1]);
            status = Supervisor(domain, label, root, readiness).run();
        }
        ::_exit(status);
    }
    ::close(ready[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t got; (got = ::read(ready[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        answer.append(buffer, static_cast<size_t>(got));
    }
    ::close(ready[0]);
    if (answer == "1") return 0;
    Files::writeAll(STDERR_FILENO, answer.empty() ? "launchd: the job's supervisor ended\n" : answer.substr(1));
    return 1;
}

} // namespace Platform::Launchd
