// The simulated launchd running real jobs on a temporary machine, driven
// through the library and the /bin/launchctl stand-in: detached processes
// with launchd's environment, KeepAlive restarts, kickstart, bootout's
// SIGKILL after the grace period, daemons as root, and who may do what.

#include <Platform/Accounts.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Launchd.hpp>
#include <Platform/ProcessTable.hpp>
#include <Platform/PropertyList.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/AsRoot.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/LaunchdJobs.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace Platform;
using namespace TestSupport;

// Prints its pid and label, then becomes a long sleep (ignoring SIGTERM
// and with a child of its own when "stubborn"), or exits with the status
// given after "exit", leaving a child behind.
constexpr const char* jobScript = "#!/bin/sh\n"
                                  "echo \"run $$ $XPC_SERVICE_NAME\"\n"
                                  "case \"$1\" in\n"
                                  "  stubborn) trap '' TERM; sleep 1000 & echo \"child $!\" ;;\n"
                                  "  exit) sleep 1000 & echo \"child $!\"; exit \"$2\" ;;\n"
                                  "esac\n"
                                  "exec sleep 1000\n";

// The pid of the first child a job's log reports.
pid_t childIn(const fs::path& log) {
    for (const auto& line : TestSupport::lines(log))
        if (line.starts_with("child ")) return std::stoi(line.substr(6));
    ADD_FAILURE() << "no child in " << log;
    return -1;
}

class LaunchdScenario : public testing::Test {
protected:
    void SetUp() override {
        Platform::SimulatedHost::initialize(root.path());
        // Throttles of 10 s take 50 ms, exit grace periods of 5 s 25 ms.
        TestSupport::writeFile(root / "clock.json", R"({"rate": 200})");
        TestSupport::writeFile(script, jobScript);
        fs::permissions(script, fs::perms::owner_all);
    }

    Finished launchctl(const std::vector<std::string>& arguments) {
        return TestSupport::runProcess(root / "bin/launchctl", arguments, environment);
    }
    Finished asRoot(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "/bin/launchctl");
        return TestSupport::runAsRoot(root.path(), arguments, environment);
    }
    Finished sim(const std::vector<std::string>& arguments) {
        return TestSupport::runProcess(LUMRA_SIM_EXE, arguments, environment);
    }

    // A definition at the macOS path `macPath` on the machine.
    std::string define(const std::string& macPath, const PropertyDictionary& keys) {
        TestSupport::writeFile(Platform::SimulatedHost::hostPath(macPath, root.path()),
                               Platform::encodePropertyList(keys, Platform::PropertyListFormat::binary));
        return macPath;
    }

    std::optional<Launchd::Job> job(const std::string& domain, const std::string& label) {
        return Launchd::find(domain, label, root.path());
    }
    // The job once `done` holds for it (within 5 s).
    Launchd::Job awaitJob(const std::string& domain, const std::string& label,
                          const std::function<bool(const Launchd::Job&)>& done) {
        std::optional<Launchd::Job> found;
        bool reached = eventually([&] { return (found = job(domain, label)) && done(*found); });
        EXPECT_TRUE(reached) << "the job " << domain << "/" << label << " never got there";
        return found.value_or(Launchd::Job{});
    }
    // launchctl ends with `status` and says `error`.
    void refuses(const std::vector<std::string>& arguments, int status, const std::string& error) {
        Finished run = launchctl(arguments);
        EXPECT_EQ(run.status, status) << arguments.at(0);
        EXPECT_EQ(run.err, error) << arguments.at(0);
    }
    pid_t supervisorOf(const std::string& domain, const std::string& label) {
        auto record = nlohmann::json::parse(
            TestSupport::contents(root / "launchd/jobs" / domain / (label + ".json")));
        return record["supervisor"]["pid"].get<pid_t>();
    }

    TestSupport::TempDir root;
    TestSupport::TempDir home;
    TestSupport::LaunchdJobs jobs{root.path()};
    TestSupport::ScopedEnvironment variables{{"HOME", home.path().c_str()}};
    fs::path script = home / "job.sh";
    uint32_t uid = Platform::Accounts::person().uid;
    std::string domain = Launchd::guiDomain(uid);
    std::map<std::string, std::string> environment{
        {"LUMRA_SIM_ROOT", root.path().string()}, {"HOME", home.path().string()}, {"LUMRA_TEST_LEAK", "1"}};
};

std::set<std::string> descriptorsOf(pid_t pid) {
    std::set<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry("/proc/" + std::to_string(pid) + "/fd", error), end; !error && entry != end;
         entry.increment(error))
        names.insert(entry->path().filename().string() + " " + fs::read_symlink(entry->path(), error).string());
    return names;
}

void expectIn(const std::string& text, const std::vector<std::string>& parts) {
    for (const auto& part : parts) EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
}

// Waits until the job's script has become its sleep, the loader's own
// descriptors closed: from then on it has only what it was given.
void settle(pid_t pid) {
    eventually([pid] {
        return Platform::ProcessTable::name(pid) == "sleep" && !environmentOf(pid).empty() &&
               descriptorsOf(pid).size() <= 3;
    });
}

TEST_F(LaunchdScenario, AnAgentRunsDetachedComesBackAndGoesWithBootout) {
    const std::string app = "/Applications/Job.app", target = domain + "/app.job.agent";
    fs::path executable = Platform::SimulatedHost::hostPath(app + "/Contents/MacOS/job", root.path());
    fs::create_directories(executable.parent_path());
    fs::copy_file(script, executable);
    std::string plist = define(app + "/Contents/Library/LaunchAgents/app.job.agent.plist",
                               {{"Label", "app.job.agent"}, {"BundleProgram", "Contents/MacOS/job"},
                                {"RunAtLoad", true}, {"KeepAlive", true}});
    // A descriptor of the loader that a job must not inherit.
    int open = ::open("/dev/null", O_RDONLY);
    Finished loaded = launchctl({"bootstrap", domain, plist});
    ::close(open);
    ASSERT_EQ(loaded.status, 0) << loaded.err;

    auto first = awaitJob(domain, "app.job.agent", [](const auto& j) { return j.pid.has_value(); });
    ASSERT_TRUE(first.pid);
    pid_t pid = *first.pid;
    EXPECT_EQ(::getsid(pid), pid);
    std::string log = Launchd::logFile(domain, "app.job.agent", root.path()).string();
    settle(pid);
    EXPECT_EQ(descriptorsOf(pid), (std::set<std::string>{"0 /dev/null", "1 " + log, "2 " + log}));
    std::string variables = environmentOf(pid);
    expectIn(variables, {"XPC_SERVICE_NAME=app.job.agent\n", "HOME=" + home.path().string() + "\n",
                         "PATH=/usr/bin:/bin:/usr/sbin:/sbin\n", "LUMRA_SIM_ROOT=" + root.path().string() + "\n",
                         "USER=" + Platform::Accounts::person().name + "\n"});
    EXPECT_EQ(variables.find("LUMRA_TEST_LEAK"), std::string::npos);

    Finished printed = launchctl({"print", target});
    EXPECT_TRUE(printed.out.starts_with(target + " = {\n")) << printed.out;
    expectIn(printed.out, {"\tstate = running\n\tpid = " + std::to_string(pid) + "\n",
                           "\t\t\"Executable\" => \"" + app + "/Contents/MacOS/job\"\n", "\tpath = " + plist + "\n",
                           "\truns = 1\n"});

    // KeepAlive: a killed job comes back under a new pid.
    ::kill(pid, SIGKILL);
    auto second = awaitJob(domain, "app.job.agent", [&](const auto& j) { return j.pid && *j.pid != pid; });
    EXPECT_EQ(second.runs, 2u);
    EXPECT_EQ(second.lastExitStatus, 128 + SIGKILL);

    Finished kicked = launchctl({"kickstart", "-k", target});
    EXPECT_EQ(kicked.status, 0) << kicked.err;
    auto third = job(domain, "app.job.agent");
    ASSERT_TRUE(third && third->pid);
    EXPECT_TRUE(TestSupport::hasEnded(*second.pid));
    EXPECT_EQ(third->runs, 3u);
    EXPECT_EQ(sim({"launchd", "list"}).out,
              domain + "\tapp.job.agent\t" + std::to_string(*third->pid) + "\t137\t" + app +
                  "/Contents/MacOS/job\n");

    pid_t supervisor = supervisorOf(domain, "app.job.agent");
    Finished out = launchctl({"bootout", domain, plist});
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_TRUE(TestSupport::hasEnded(*third->pid));
    EXPECT_TRUE(TestSupport::hasEnded(supervisor));
    EXPECT_FALSE(job(domain, "app.job.agent"));
    refuses({"print", target}, 113,
            "Bad request.\nCould not find service \"app.job.agent\" in domain for user gui: " + std::to_string(uid) + "\n");
    EXPECT_EQ(TestSupport::lines(log).at(0), "run " + std::to_string(pid) + " app.job.agent");
}

TEST_F(LaunchdScenario, ADaemonRunsAsRootAndOnlyRootChangesTheSystemDomain) {
    const std::string denied = " failed: 1: Operation not permitted\n";
    std::string plist = define("/Library/LaunchDaemons/app.job.daemon.plist",
                               {{"Label", "app.job.daemon"},
                                {"ProgramArguments", PropertyArray{script.string(), "stubborn"}},
                                {"RunAtLoad", true}});
    refuses({"bootstrap", "system", plist}, 1, "Bootstrap" + denied);
    EXPECT_FALSE(job("system", "app.job.daemon"));

    Finished loaded = asRoot({"bootstrap", "system", plist});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    auto daemon = job("system", "app.job.daemon");
    ASSERT_TRUE(daemon && daemon->pid);
    EXPECT_EQ(Platform::Credentials::recordedUID(*daemon->pid, root.path()), 0u);
    settle(*daemon->pid);
    expectIn(environmentOf(*daemon->pid), {"USER=root\n", "HOME=" + (root / "var/root").string() + "\n"});
    expectIn(launchctl({"print", "system/app.job.daemon"}).out,
             {"\tstate = running\n\tpid = " + std::to_string(*daemon->pid) + "\n",
              "\"Executable\" => \"" + script.string() + "\""});

    refuses({"kickstart", "-k", "system/app.job.daemon"}, 1, "Kickstart" + denied);
    refuses({"bootout", "system/app.job.daemon"}, 1, "Boot-out" + denied);
    refuses({"bootout", "gui/" + std::to_string(uid + 1) + "/x"}, 1, "Boot-out" + denied);
    refuses({"asuser", std::to_string(uid), "/bin/true"}, 1, "This subcommand requires root privileges: asuser\n");
    EXPECT_EQ(job("system", "app.job.daemon")->pid, daemon->pid);

    Finished asOther = asRoot({"asuser", "502", "/bin/sh", "-c", "cat \"$LUMRA_SIM_ROOT/accounts/processes/$$\""});
    EXPECT_EQ(asOther.status, 0) << asOther.err;
    EXPECT_EQ(nlohmann::json::parse(asOther.out, nullptr, false).value("uid", -1), 502);

    // It ignores SIGTERM, and so does its child: only the SIGKILL after the
    // grace period ends them.
    pid_t child = childIn(Launchd::logFile("system", "app.job.daemon", root.path()));
    Finished out = asRoot({"bootout", "system/app.job.daemon"});
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_TRUE(TestSupport::hasEnded(*daemon->pid));
    EXPECT_TRUE(ends(child));
    EXPECT_FALSE(job("system", "app.job.daemon"));
}

TEST_F(LaunchdScenario, AnEndedJobStaysLoadedAndAStaleRecordIsNotRunning) {
    std::string plist = define("/Library/LaunchAgents/app.job.once.plist",
                               {{"Label", "app.job.once"},
                                {"ProgramArguments", PropertyArray{script.string(), "exit", "3"}},
                                {"RunAtLoad", true}});
    ASSERT_EQ(Launchd::bootstrap(domain, Platform::SimulatedHost::hostPath(plist, root.path()), {}, root.path()),
              std::nullopt);
    auto ended = awaitJob(domain, "app.job.once", [](const auto& j) { return j.lastExitStatus.has_value(); });
    EXPECT_EQ(ended.pid, std::nullopt);
    EXPECT_EQ(ended.lastExitStatus, 3);
    EXPECT_TRUE(ends(childIn(Launchd::logFile(domain, "app.job.once", root.path()))));
    Finished printed = launchctl({"print", domain + "/app.job.once"});
    expectIn(printed.out, {"\tstate = not running\n", "\tlast exit code = 3\n"});
    EXPECT_EQ(printed.out.find("pid = "), std::string::npos) << printed.out;
    EXPECT_EQ(launchctl({"kickstart", domain + "/app.job.once"}).status, 0);
    awaitJob(domain, "app.job.once", [](const auto& j) { return j.runs == 2 && !j.pid && j.lastExitStatus == 3; });

    // A supervisor killed with its job leaves a record of a process that is gone.
    define("/Library/LaunchAgents/app.job.kept.plist",
           {{"Label", "app.job.kept"}, {"ProgramArguments", PropertyArray{script.string()}}, {"KeepAlive", true}});
    // A loader that ignores SIGTERM passes none of that on.
    auto previous = ::signal(SIGTERM, SIG_IGN);
    auto problem = Launchd::bootstrap(domain, root / "Library/LaunchAgents/app.job.kept.plist", {}, root.path());
    ::signal(SIGTERM, previous);
    ASSERT_EQ(problem, std::nullopt);
    auto kept = job(domain, "app.job.kept");
    ASSERT_TRUE(kept && kept->pid);
    settle(*kept->pid);
    std::string status = TestSupport::contents("/proc/" + std::to_string(*kept->pid) + "/status");
    size_t ignored = status.find("\nSigIgn:\t");
    ASSERT_NE(ignored, std::string::npos);
    EXPECT_EQ(std::stoull(status.substr(ignored + 9, 16), nullptr, 16) & (1ull << (SIGTERM - 1)), 0u);
    ::kill(supervisorOf(domain, "app.job.kept"), SIGKILL);
    ::kill(*kept->pid, SIGKILL);
    awaitJob(domain, "app.job.kept", [](const auto& j) { return !j.pid; });
    expectIn(launchctl({"print", domain + "/app.job.kept"}).out, {"\tstate = not running\n"});

    const std::pair<std::vector<std::string>, std::string> misuses[] = {
        {{}, ""}, {{"print"}, ""}, {{"print", "gui/x/app.job.kept"}, "Unrecognized target specifier: gui/x/app.job.kept\n"},
        {{"kickstart", "-x", domain + "/app.job.kept"}, ""}, {{"bootstrap", "gui/0" + std::to_string(uid), plist}, ""},
        {{"asuser", "someone", "/bin/true"}, ""},
    };
    for (const auto& [arguments, first] : misuses) {
        Finished run = launchctl(arguments);
        EXPECT_EQ(run.status, 64);
        EXPECT_TRUE(run.err.starts_with(first + "usage: launchctl print <domain>/<label>\n")) << run.err;
    }
    refuses({"kickstart", "-k", domain + "/app.job.none"}, 113,
            "Could not find service \"app.job.none\" in domain for user gui: " + std::to_string(uid) + "\n");

    // A program that cannot start: loaded, not running, status 78, the reason in its log.
    define("/Library/LaunchAgents/app.job.missing.plist",
           {{"Label", "app.job.missing"}, {"Program", "/nowhere/job"}, {"RunAtLoad", true}});
    ASSERT_EQ(launchctl({"bootstrap", domain, "/Library/LaunchAgents/app.job.missing.plist"}).status, 0);
    auto missing = awaitJob(domain, "app.job.missing", [](const auto& j) { return j.lastExitStatus.has_value(); });
    EXPECT_EQ(missing.lastExitStatus, 78);
    EXPECT_EQ(TestSupport::contents(Launchd::logFile(domain, "app.job.missing", root.path())),
              "launchd: app.job.missing: cannot start /nowhere/job: No such file or directory\n");

    EXPECT_EQ(sim({"launchd", "stop-all"}).out, "3 jobs booted out\n");
    EXPECT_EQ(sim({"launchd", "list"}).out, "no jobs loaded\n");
}

} // namespace
