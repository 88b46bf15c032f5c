#include "Platform/Launchd.hpp"

#include "LaunchdRecords.hpp"
#include "Platform/Accounts.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Files.hpp"
#include "Platform/SimulatedHost.hpp"
#include "Platform/Spawn.hpp"
#include "Platform/User.hpp"

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace Platform::Launchd {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Records::Process;
using Records::Record;

// How long a job has to end after SIGTERM before it is killed (simulated).
constexpr Duration exitTimeout = 5s;
// How long a supervisor or a killed process may take to go (real time).
constexpr Duration prompt = 2s;
// The per-job supervisor, a stand-in tool of the machine.
constexpr const char* supervisorTool = "/sbin/launchd";

bool waitGone(const Process& process, Duration limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (Records::isAlive(process)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Signals the process and, when it leads its process group (a job does),
// everything it started there.
void signal(const Process& process, int number) {
    if (!Records::isAlive(process)) return;
    ::kill(::getpgid(process.pid) == process.pid ? -process.pid : process.pid, number);
}

// SIGTERM, then SIGKILL once `grace` has passed.
void end(const Process& process, Duration grace) {
    if (!Records::isAlive(process)) return;
    signal(process, SIGTERM);
    if (waitGone(process, grace)) return;
    signal(process, SIGKILL);
    waitGone(process, prompt);
}

Duration exitGrace(const fs::path& root) { return hostDuration(exitTimeout, SimulatedHost::readTimeRate(root)); }

bool keptFromCaller(const std::string& name) {
    return name.starts_with("LUMRA_SIM_") || name.starts_with("LOG_") || name == "ASAN_OPTIONS" ||
           name == "UBSAN_OPTIONS" || name == "LSAN_OPTIONS" || name == "TSAN_OPTIONS" || name == "MSAN_OPTIONS";
}

// What launchd gives a job of the user `uid`: a fixed PATH, the user's
// home, names and shell, the temporary folder, the simulation's and the
// logging's variables, and the job's label.
Environment jobEnvironment(uint32_t uid, const std::string& label, const fs::path& root) {
    Environment environment;
    for (const auto& [name, value] : currentEnvironment())
        if (keptFromCaller(name)) environment.emplace(name, value);
    auto directory = Accounts::load(root);
    const Accounts::User* account = directory.user(uid);
    std::string name = account ? account->name : std::to_string(uid);
    if (uid == Accounts::person().uid)
        environment["HOME"] = homeDirectory().string();
    else
        environment["HOME"] = account ? SimulatedHost::hostPath(account->home, root).string() : "/var/empty";
    environment["USER"] = environment["LOGNAME"] = name;
    environment["SHELL"] = account && !account->shell.empty() ? account->shell : "/bin/sh";
    environment["PATH"] = "/usr/bin:/bin:/usr/sbin:/sbin";
    const char* temporary = std::getenv("TMPDIR");
    environment["TMPDIR"] = temporary != nullptr && *temporary != '\0' ? temporary : "/tmp/";
    environment["LUMRA_SIM_ROOT"] = root.string();
    environment["XPC_SERVICE_NAME"] = label;
    return environment;
}

// Runs the job's supervisor, which returns once the job's first start is
// recorded; the reason when it could not.
std::optional<std::string> supervise(const Record& record, const fs::path& root) {
    SpawnOptions options;
    options.limit = 20s;
    auto run = runProgram(supervisorTool, {record.job.domain, record.job.label},
                          jobEnvironment(record.uid, record.job.label, root), root, options);
    if (const auto* failure = std::get_if<LaunchFailure>(&run))
        return std::string("cannot start ") + supervisorTool + ": " + failure->description;
    const auto& exit = std::get<ProgramExit>(run);
    if (exit.status == 0) return std::nullopt;
    std::string reason = exit.err;
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    return reason.empty() ? std::string(supervisorTool) + " exited with " + std::to_string(exit.status) : reason;
}

Job withLiveness(const Record& record) {
    Job job = record.job;
    if (record.process && Records::isAlive(*record.process)) job.pid = record.process->pid;
    return job;
}

} // namespace

std::optional<uint32_t> domainUID(std::string_view domain) {
    if (domain == systemDomain) return 0;
    if (!domain.starts_with("gui/")) return std::nullopt;
    std::string_view digits = domain.substr(4);
    uint32_t uid = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), uid);
    if (error != std::errc() || end != digits.data() + digits.size() || std::to_string(uid) != digits)
        return std::nullopt;
    return uid;
}

std::string guiDomain(uint32_t uid) { return "gui/" + std::to_string(uid); }

std::optional<std::string> bootstrap(const std::string& domain, const fs::path& definition,
                                     const std::optional<fs::path>& bundle, const fs::path& root) {
    auto parsed = Records::readDefinition(domain, definition, bundle, root);
    if (const auto* reason = std::get_if<std::string>(&parsed)) return *reason;
    Record record{std::get<Job>(std::move(parsed)), *domainUID(domain), std::nullopt, std::nullopt};
    const Job& job = record.job;
    {
        Files::Lock lock(Records::lockFile(root));
        if (Records::read(domain, job.label, root)) return "service already loaded: " + domain + "/" + job.label;
        if (!Records::write(record, root)) return "cannot write the record of " + domain + "/" + job.label;
    }
    if (!job.runAtLoad && !job.keepAlive) return std::nullopt;
    auto problem = supervise(record, root);
    // A machine that cannot run jobs keeps none loaded.
    if (problem) bootout(domain, job.label, root);
    return problem;
}

bool bootout(const std::string& domain, const std::string& label, const fs::path& root) {
    std::optional<Record> record;
    {
        Files::Lock lock(Records::lockFile(root));
        record = Records::read(domain, label, root);
        if (!record) return false;
        Records::remove(domain, label, root);
    }
    // The job first, so its supervisor sees it go and, finding no record, ends.
    if (record->process) end(*record->process, exitGrace(root));
    if (record->supervisor) end(*record->supervisor, prompt);
    return true;
}

std::optional<Job> find(const std::string& domain, const std::string& label, const fs::path& root) {
    auto record = Records::read(domain, label, root);
    if (!record) return std::nullopt;
    return withLiveness(*record);
}

std::vector<Job> list(const fs::path& root) {
    std::vector<Job> jobs;
    for (const auto& record : Records::all(root)) jobs.push_back(withLiveness(record));
    return jobs;
}

bool kickstart(const std::string& domain, const std::string& label, bool kill, const fs::path& root) {
    std::optional<Record> record;
    std::optional<Process> running, supervisor;
    {
        Files::Lock lock(Records::lockFile(root));
        record = Records::read(domain, label, root);
        if (!record) return false;
        if (record->process && Records::isAlive(*record->process)) {
            if (!kill) return true;
            running = record->process;
        }
        // The old supervisor, finding the job no longer its own, starts nothing more.
        supervisor = record->supervisor;
        record->supervisor.reset();
        if (!Records::write(*record, root)) return false;
    }
    if (running) end(*running, exitGrace(root));
    if (supervisor) end(*supervisor, prompt);
    return !supervise(*record, root);
}

void stopAll(const fs::path& root) {
    for (const auto& record : Records::all(root)) bootout(record.job.domain, record.job.label, root);
}

fs::path logFile(const std::string& domain, const std::string& label, const fs::path& root) {
    return Records::logFile(domain, label, root);
}

} // namespace Platform::Launchd
