// Settling the jobs at launch against a fake registry and launchd, the
// tombstone files and defaults on a temporary home and machine, and finding
// the launchd job a process runs as.

#include <AppInstallations/Settlement.hpp>
#include <Log/Settings.hpp>
#include <Platform/ISODate.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/UserDefaults.hpp>
#include <TestSupport/AsRoot.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/SimulationRoot.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <mutex>
#include <sstream>

namespace {

using namespace AppInstallation;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace BS = Platform::BackgroundServices;

[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

Platform::Date at(const char* iso) { return *Tombstone::parse(iso); }

// The install log's lines while the object lives: message, then the fields
// named, as "level msg key=value …".
class LogLines {
public:
    LogLines() : redirect_(folder_ / "err") { Log::setLogFormat("json"); }
    std::vector<std::string> read(const std::set<std::string>& messages) {
        redirect_.restore();
        std::vector<std::string> found;
        for (const auto& line : TestSupport::lines(folder_ / "err")) {
            auto event = nlohmann::json::parse(line, nullptr, false);
            if (!event.is_object() || !messages.contains(event.value("msg", ""))) continue;
            std::string shown = event["level"].get<std::string>() + " " + event["msg"].get<std::string>();
            const nlohmann::json fields = event.value("fields", nlohmann::json::object());
            for (const auto& [key, value] : fields.items())
                shown += " " + key + "=" + (value.is_string() ? value.get<std::string>() : value.dump());
            found.push_back(shown);
        }
        return found;
    }

private:
    TestSupport::TempDir folder_;
    TestSupport::RedirectedStandardError redirect_;
};

// How a job stands: its registry status and where launchd runs it from
// ("here": this copy, "elsewhere": another one, "": launchd lacks it).
struct Standing {
    int32_t status = BS::notRegistered;
    std::string image = "";
    bool running = false;
};

std::string plist(const std::string& entries) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + entries + "</dict></plist>";
}

// A registry and launchd for one bundle, jobs by switch value: registering
// enables a job that launchd then runs from this copy; unregistering drops
// it. Every call is kept in order, with the tombstone's.
class FakeMachine final : public BS::Registry {
public:
    TestSupport::TempDir folder;
    TestSupport::VirtualTime time;
    std::string bundle = (folder / "Test.app").string();
    std::map<std::string, Standing> jobs;
    std::map<std::string, BS::Failure> refusals;
    std::vector<std::string> calls;

    FakeMachine() {
        for (const auto& [file, entries] :
             {std::pair{"Info.plist", "CFBundleIdentifier</key><string>app.test.settle"},
              {"Library/LaunchAgents/agent.plist", "Label</key><string>app.test.agent"},
              {"Library/LaunchDaemons/daemon.plist", "Label</key><string>app.test.daemon"}})
            TestSupport::writeFile(fs::path(bundle) / "Contents" / file,
                                   plist(std::string("<key>") + entries + "</string>"));
    }
    std::shared_ptr<JobSystem> system() {
        auto made = std::make_shared<JobSystem>();
        made->registry = [this]() -> BS::Registry& { return *this; };
        made->clock = &time;
        made->sleeper = &time;
        made->run = [this](const std::string&, const std::vector<std::string>& args) { return print(args.back()); };
        made->bundle = [this] { return std::optional<std::string>(bundle); };
        made->home = [] { return Home{Home::Installed{Scope::everyone}}; };
        made->userIsAdmin = [] { return true; };
        made->uid = [] { return 501u; };
        made->homeFolder = [this] { return (folder / "home").string(); };
        return made;
    }
    SettleSystem settling(std::optional<Platform::Date> pending) {
        return {system(), [pending](const std::string&) { return pending; },
                [this](const std::string& id, Platform::Date date) {
                    calls.push_back("applied " + id + " " + Platform::ISODate::format(date));
                }};
    }

    int32_t status(const BS::Handle& handle) override {
        std::lock_guard guard(lock_);
        return jobs[keyOf(handle)].status;
    }
    std::optional<BS::Failure> registerService(const BS::Handle& handle) override {
        std::lock_guard guard(lock_);
        calls.push_back("register " + keyOf(handle));
        if (refusals.contains(keyOf(handle))) return refusals.at(keyOf(handle));
        jobs[keyOf(handle)] = {BS::enabled, "here", true};
        return std::nullopt;
    }
    std::optional<BS::Failure> unregisterService(const BS::Handle& handle) override {
        std::lock_guard guard(lock_);
        calls.push_back("unregister " + keyOf(handle));
        jobs.erase(keyOf(handle));
        return std::nullopt;
    }
    void openSystemSettingsLoginItems() override {}

private:
    static std::string keyOf(const BS::Handle& handle) {
        return handle.kind == BS::Handle::Kind::loginItem ? "login-item" : handle.plist;
    }
    // launchctl print gui/501/app.test.<name>: 113 for a job launchd lacks.
    ToolResult print(const std::string& target) {
        std::lock_guard guard(lock_);
        const Standing& job = jobs[target.substr(target.rfind('.') + 1) + ".plist"];
        if (job.image.empty()) return {113, ""};
        std::string image = job.image == "here" ? bundle : "/Applications/Old.app";
        return {0, std::string("\tstate = ") + (job.running ? "running" : "not running") + "\n\t\"Executable\" => \"" +
                       image + "/Contents/MacOS/test\"\n"};
    }
    std::mutex lock_;
};

const std::set<std::string> settleMessages{"its old copy moved away: registering afresh here",
                                           "turning on, as asked before the move",
                                           "a deleted install's record: cleared, not revived",
                                           "on, but not answering from this copy: registering afresh",
                                           "could not turn on",
                                           "named a job this copy does not declare; ignored"};

TEST(Settle, DecidesJobByJob) {
    const Standing off{}, awaiting{BS::requiresApproval}, runningHere{BS::enabled, "here", true},
        silentHere{BS::enabled, "here", false}, elsewhere{BS::enabled, "elsewhere", false},
        leftLaunchd{BS::enabled, "", false};
    const std::string on = "--app-installation-turn-on", stale = "--app-installation-stale";
    const auto deleted = at("2026-11-30T08:00:00Z");
    const std::string applied = "applied app.test.settle 2026-11-30T08:00:00Z";
    const BS::Failure badSignature{BS::invalidSignature, "bad signature"};
    struct Case {
        std::string name;
        std::vector<std::string> arguments;
        std::map<std::string, Standing> jobs;
        std::optional<Platform::Date> pending;
        std::vector<std::string> lines;
        std::vector<std::string> calls;
        std::map<std::string, BS::Failure> refusals = {};
    };
    // clang-format off
    const Case cases[] = {
        {"stale beats turn-on, and registers a running job afresh", {on, "agent.plist", stale, "agent.plist"},
         {{"agent.plist", runningHere}}, std::nullopt,
         {"info its old copy moved away: registering afresh here job=the agent"},
         {"unregister agent.plist", "register agent.plist"}},
        {"turn-on registers a job that is off", {on, "agent.plist"}, {{"agent.plist", off}}, std::nullopt,
         {"info turning on, as asked before the move job=the agent"}, {"register agent.plist"}},
        {"turn-on leaves a running job as it is", {on, "agent.plist"}, {{"agent.plist", runningHere}}, std::nullopt,
         {"info turning on, as asked before the move job=the agent"}, {}},
        {"turn-on of the login item", {on, "login-item"}, {}, std::nullopt,
         {"info turning on, as asked before the move job=the login item"}, {"register login-item"}},
        {"a deleted install's record awaiting approval is cleared", {}, {{"agent.plist", awaiting}}, deleted,
         {"info a deleted install's record: cleared, not revived deleted=2026-11-30T08:00:00Z job=the agent"},
         {"unregister agent.plist", applied}},
        {"a deleted install's record for another copy is cleared", {}, {{"daemon.plist", elsewhere}}, deleted,
         {"info a deleted install's record: cleared, not revived deleted=2026-11-30T08:00:00Z job=daemon.plist"},
         {"unregister daemon.plist", applied}},
        {"a deleted install's record launchd no longer holds is cleared", {}, {{"agent.plist", leftLaunchd}},
         deleted, {"info a deleted install's record: cleared, not revived deleted=2026-11-30T08:00:00Z job=the agent"},
         {"unregister agent.plist", applied}},
        {"this copy's own silent job survives a tombstone", {}, {{"agent.plist", silentHere}}, deleted,
         {"info on, but not answering from this copy: registering afresh job=the agent"},
         {"unregister agent.plist", "register agent.plist", applied}},
        {"a silent job is registered afresh", {}, {{"agent.plist", silentHere}}, std::nullopt,
         {"info on, but not answering from this copy: registering afresh job=the agent"},
         {"unregister agent.plist", "register agent.plist"}},
        {"a running job is left alone, the tombstone still applied", {}, {{"agent.plist", runningHere}}, deleted,
         {}, {applied}},
        {"a job elsewhere without a tombstone is registered here", {}, {{"agent.plist", elsewhere}}, std::nullopt,
         {"info on, but not answering from this copy: registering afresh job=the agent"},
         {"unregister agent.plist", "register agent.plist"}},
        {"nothing to do", {"--other", "x"}, {{"agent.plist", off}, {"daemon.plist", off}}, std::nullopt, {}, {}},
        {"a switch in last place is ignored", {on}, {{"agent.plist", off}}, std::nullopt, {}, {}},
        {"a job nobody declares is warned about once", {on, "x.plist", stale, "x.plist", on, "x.plist"}, {},
         std::nullopt, {"warn named a job this copy does not declare; ignored job=x.plist"}, {}},
        {"a failed install is warned about and the next job still settled",
         {on, "agent.plist", on, "daemon.plist"}, {}, std::nullopt,
         {"info turning on, as asked before the move job=the agent",
          "warn could not turn on err=macOS refused the registration: bad signature (SMAppService needs the bundle "
          "signed by a team, never ad hoc) job=the agent",
          "info turning on, as asked before the move job=daemon.plist"},
         {"register agent.plist", "register daemon.plist"}, {{"agent.plist", badSignature}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        FakeMachine machine;
        machine.jobs = c.jobs;
        machine.refusals = c.refusals;
        // The daemon goes undescribed: it is named by its file.
        std::vector<Job> own{Job(Job::Kind::agent("agent.plist"), "the agent", {}, {}, machine.system())};
        LogLines log;
        settle(machine.bundle, own, c.arguments, machine.settling(c.pending));
        EXPECT_EQ(log.read(settleMessages), c.lines) << c.name;
        EXPECT_EQ(machine.calls, c.calls) << c.name;
    }
}

TEST(TombstoneText, FormatsAndParsesWholeSecondsInUTC) {
    const Platform::Date moment{std::chrono::seconds(1796851243)}; // 2026-12-09T21:20:43Z
    EXPECT_EQ(Platform::ISODate::format(moment), "2026-12-09T21:20:43Z");
    EXPECT_EQ(Platform::ISODate::format(moment + 999ms), "2026-12-09T21:20:43Z");
    EXPECT_EQ(Platform::ISODate::format(Platform::Date{}), "1970-01-01T00:00:00Z");
    const std::pair<std::string, std::optional<Platform::Date>> cases[] = {
        {" \n2026-12-09T21:20:43Z\r\n", moment},
        {"2026-12-09T22:50:43+01:30", moment},
        {"2026-12-09T16:20:43-05:00", moment},
        {"1969-12-31T23:59:59Z", Platform::Date{-1s}},
        {"2026-02-29T00:00:00Z", std::nullopt},
        {"2026-12-09T24:00:00Z", std::nullopt},
        {"2026-12-09T21:20:43.250Z", std::nullopt},
        {"2026-12-09 21:20:43Z", std::nullopt},
        {"2026-12-09T21:20:43", std::nullopt},
        {"2026-12-09T21:20:43+0100", std::nullopt},
        {"2026-12-09T21:20:43Z x", std::nullopt},
        {"9999-12-31T23:59:59Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Tombstone::parse(text), expected) << text;
}

// A temporary home; tombstones of the machine's system folder are told
// apart by identifier.
struct TombstoneHome {
    TestSupport::TempDir home;
    TestSupport::ScopedEnvironment environment{{"HOME", home.path().c_str()}};
    static fs::path file(const std::string& id, bool system) {
        return Platform::SimulatedHost::hostPath(Tombstone::folder(system) + "/" + id + ".deleted");
    }
};

TEST(Tombstone, PendingIsTheLatestNotYetApplied) {
    struct Case {
        std::string name;
        std::optional<std::string> user, system;
        std::optional<std::string> applied;
        std::optional<std::string> expected;
    };
    const std::string older = "2026-01-01T00:00:00Z", newer = "2026-06-01T00:00:00Z";
    const Case cases[] = {
        {"none", {}, {}, {}, {}},
        {"the user's", older, {}, {}, older},
        {"the system's", {}, newer, {}, newer},
        {"the system's is later", older, newer, {}, newer},
        {"the user's is later", newer + "\n", older, {}, newer},
        {"applied already", older, newer, newer, {}},
        {"applied an older one", newer, {}, older, newer},
        {"an unparsable one counts as absent", "yesterday", older, {}, older},
        {"both unparsable", "", "2026-01-01", {}, {}},
    };
    int number = 0;
    for (const auto& c : cases) {
        TombstoneHome place;
        std::string id = "app.test.pending" + std::to_string(++number);
        if (c.user) TestSupport::writeFile(place.file(id, false), *c.user);
        if (c.system) TestSupport::writeFile(place.file(id, true), *c.system);
        if (c.applied) {
            ASSERT_TRUE(Platform::UserDefaults::write(id, "AppInstallations.tombstoneApplied", at(c.applied->c_str())));
        }
        std::optional<Platform::Date> expected;
        if (c.expected) expected = at(c.expected->c_str());
        EXPECT_EQ(Tombstone::pending(id), expected) << c.name;
    }
}

TEST(Tombstone, AppliedRemembersTheDateAndRemovesOnlyWhatItApplied) {
    TombstoneHome place;
    const std::string id = "app.test.applied";
    TestSupport::writeFile(place.file(id, false), "2026-03-01T00:00:00Z");
    TestSupport::writeFile(place.file(id, true), "2026-02-01T00:00:00Z");
    auto read = Tombstone::pending(id);
    ASSERT_EQ(read, at("2026-03-01T00:00:00Z"));
    {
        LogLines log;
        Tombstone::applied(id, *read);
        EXPECT_EQ(log.read({"tombstone applied"}),
                  std::vector<std::string>{"info tombstone applied deleted=2026-03-01T00:00:00Z"});
    }
    EXPECT_FALSE(fs::exists(place.file(id, false)));
    EXPECT_TRUE(fs::exists(place.file(id, true))) << "the system's tombstone is never removed here";
    auto stored = Platform::UserDefaults::read(id, "AppInstallations.tombstoneApplied");
    ASSERT_TRUE(stored && stored->as<Platform::Date>());
    EXPECT_EQ(*stored->as<Platform::Date>(), *read);
    EXPECT_EQ(Tombstone::pending(id), std::nullopt);

    // Deleted again after this copy read its tombstone: the newer one stays.
    TestSupport::writeFile(place.file(id, false), "2026-04-01T00:00:00Z");
    auto pending = Tombstone::pending(id);
    TestSupport::writeFile(place.file(id, false), "2026-05-01T00:00:00Z");
    Tombstone::applied(id, *pending);
    EXPECT_EQ(TestSupport::contents(place.file(id, false)), "2026-05-01T00:00:00Z");
    EXPECT_EQ(Tombstone::pending(id), at("2026-05-01T00:00:00Z"));
}

TEST(Tombstone, WriteAsThePersonAndAsRoot) {
    TombstoneHome place;
    EXPECT_EQ(Tombstone::folder(true), "/Library/Application Support/AppInstallations");
    EXPECT_EQ(Tombstone::folder(false), place.home.path().string() + "/Library/Application Support/AppInstallations");
    auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    {
        LogLines log;
        Tombstone::write("app.test.written");
        EXPECT_EQ(log.read({"tombstone written"}),
                  std::vector<std::string>{"info tombstone written path=" + Tombstone::folder(false) +
                                           "/app.test.written.deleted"});
    }
    auto written = Tombstone::parse(TestSupport::contents(place.file("app.test.written", false)));
    ASSERT_TRUE(written);
    EXPECT_GE(*written, before);
    EXPECT_LE(*written, std::chrono::system_clock::now());
    EXPECT_FALSE(fs::exists(place.file("app.test.written", true)));

    auto root =
        TestSupport::runAsRoot(Platform::SimulatedHost::root(), {SETTLE_PROBE_EXE, "tombstone", "app.test.root"},
                               {{"HOME", place.home.path().string()}});
    ASSERT_EQ(root.status, 0) << root.err;
    EXPECT_TRUE(Tombstone::parse(TestSupport::contents(place.file("app.test.root", true))));
    EXPECT_FALSE(fs::exists(place.file("app.test.root", false)));
}

TEST(Tombstone, WhatCannotBeWrittenOrNamedIsAWarning) {
    TombstoneHome place;
    TestSupport::writeFile(place.home / "Library/Application Support/AppInstallations", "a file, not a folder");
    TestSupport::writeFile(place.home / "Library/Application Support/x.deleted", "2026-01-01T00:00:00Z");
    LogLines log;
    Tombstone::write("app.test.blocked");
    for (const std::string id : {"", "..", "../x", "a/b"}) {
        Tombstone::write(id);
        EXPECT_EQ(Tombstone::pending(id), std::nullopt) << id;
        Tombstone::applied(id, at("2026-01-01T00:00:00Z"));
    }
    auto lines = log.read({"could not write the tombstone", "tombstone written", "tombstone applied",
                           "a bundle identifier that cannot name a file: tombstone skipped"});
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "warn could not write the tombstone err=File exists path=" + Tombstone::folder(false) +
                            "/app.test.blocked.deleted");
    EXPECT_EQ(lines[6], "warn a bundle identifier that cannot name a file: tombstone skipped identifier=..");
    EXPECT_TRUE(fs::exists(place.home / "Library/Application Support/x.deleted"));
}

TEST(RunApart, ItsOwnGroupAndTheEnvironmentGiven) {
    // Status 7 only for a shell leading its own group, with just X set.
    const std::string check =
        R"sh([ "$(cut -d' ' -f5 /proc/$$/stat)" = $$ ] && [ "$X" = y ] && [ -z "$HOME" ] && exit 7)sh";
    EXPECT_EQ(runApart("/bin/sh", {"-c", check}, Platform::Environment{{"X", "y"}}), 7);
    EXPECT_EQ(runApart("/bin/sh", {"-c", "kill -9 $$"}), -1);
    LogLines log;
    EXPECT_EQ(runApart("/nowhere/tool", {"a"}), -1);
    EXPECT_EQ(log.read({"did not start"}),
              std::vector<std::string>{"error did not start args=[\"a\"] errno=2 tool=/nowhere/tool"});
}

TEST(OwnJob, TheDefinitionLabelledAsTheService) {
    TestSupport::TempDir folder;
    std::string bundle = (folder / "Test.app").string();
    auto define = [&](const std::string& file, const std::string& entries) {
        TestSupport::writeFile(fs::path(bundle) / "Contents/Library" / file, plist(entries));
    };
    define("LaunchAgents/b.plist", "<key>Label</key><string>shared</string>");
    define("LaunchAgents/a.plist", "<key>Label</key><string>app.one</string>");
    define("LaunchAgents/c.plist", "<key>Label</key><integer>7</integer>");
    define("LaunchDaemons/a.plist", "<key>Label</key><string>shared</string>");
    define("LaunchDaemons/d.plist", "<key>Label</key><string>app.daemon</string>");
    const std::pair<std::string, std::optional<OwnJob>> cases[] = {
        {"app.one", OwnJob{"app.one", "a.plist"}},
        {"shared", OwnJob{"shared", "b.plist"}},
        {"app.daemon", OwnJob{"app.daemon", "d.plist"}},
        {"7", std::nullopt},
        {"0", std::nullopt},
        {"", std::nullopt},
        {"app.none", std::nullopt},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(ownJob(bundle, name), expected) << name;
    }
    EXPECT_EQ(ownJob(std::nullopt, "app.one"), std::nullopt);
    // This test program runs outside any bundle.
    TestSupport::ScopedEnvironment service{{"XPC_SERVICE_NAME", "app.one"}};
    EXPECT_EQ(ownJobLabel(), std::nullopt);
}

} // namespace
