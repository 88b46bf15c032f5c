// Copies of the real Lumra.app on a fresh simulated Mac, moved, dragged,
// deleted, reinstalled and upgraded as a person does, while the app and its
// agent really run: each copy's processes notice, hand their work over and
// leave, and nothing of theirs outlives the test.

#include <Platform/Launchd.hpp>
#include <Platform/PropertyList.hpp>
#include <Platform/QuitRequests.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/AppCopies.hpp>
#include <TestSupport/ProcessGuard.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fcntl.h>
#include <regex>
#include <sstream>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;
using TestSupport::eventually;
using TestSupport::Finished;

const std::string label = "app.lumra.service.lumrad";
// Long enough for a copy to notice a change (3 looks 2 s apart at the
// machine's rate) and for launchd to start a job again.
constexpr auto patience = 30s;

size_t count(const std::string& text, const std::string& what) {
    size_t found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++found;
    return found;
}

bool present(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// A fresh machine whose time runs 20 times faster. Booting the jobs out is
// how it shuts down; any app or job process still running after that fails
// the test.
struct Machine : TestSupport::SimMachine {
    Machine() : SimMachine(LUMRA_SIM_EXE) {
        Platform::SimulatedHost::initialize(root);
        TestSupport::writeFile(root / "clock.json", R"({"rate": 20})");
    }
    ~Machine() { Platform::Launchd::stopAll(root); }

    // A copy of the built app at `at` (a host path).
    fs::path install(const fs::path& at) const {
        TestSupport::copyBundle(LUMRA_APP, at);
        return at;
    }
    // The path the Mac knows a host path by.
    std::string macPath(const fs::path& path) const {
        std::string text = path.string();
        return text.starts_with(root.string() + "/") ? text.substr(root.string().size()) : text;
    }

    Finished lumra(const fs::path& app, const std::vector<std::string>& arguments) const {
        return TestSupport::runProcess(app / "Contents/MacOS/lumra", arguments, environment(), 60s);
    }

    // Opens the app as a person does; answers the new process.
    pid_t open(const fs::path& app) const {
        auto opened = TestSupport::runProcess(root / "usr/bin/open", {macPath(app)}, environment());
        EXPECT_EQ(opened.status, 0) << opened.err;
        return lastLaunch().value("pid", 0);
    }
    // What the open stand-in last started, and how.
    nlohmann::json lastLaunch() const {
        auto launches = TestSupport::lines(root / "open/launches.jsonl");
        return launches.empty() ? nlohmann::json::object() : nlohmann::json::parse(launches.back());
    }
    // A link to the app's command line tool, as a person puts on their PATH.
    fs::path linkTo(const fs::path& app) const {
        fs::path link = home / ".local/bin/lumra";
        fs::create_directories(link.parent_path());
        fs::create_symlink(app / "Contents/MacOS/lumra", link);
        return link;
    }
    // The app processes running now, from any copy.
    std::vector<TestSupport::ProcessGuard::Running> apps() const {
        auto running = guard.running();
        std::erase_if(running,
                      [](const auto& process) { return !process.executable.ends_with("/Contents/MacOS/lumra-app"); });
        return running;
    }
    // The one app process, when exactly one runs, from inside `app`.
    std::optional<pid_t> appFrom(const fs::path& app) const {
        auto running = apps();
        if (running.size() != 1 || running[0].executable != (fs::canonical(app) / "Contents/MacOS/lumra-app").string())
            return std::nullopt;
        return running[0].pid;
    }
    // Asks every app process to quit, as the person does, and waits until
    // they all have.
    void quitApps() const {
        EXPECT_TRUE(eventually(
            [&] {
                auto running = apps();
                for (const auto& process : running) Platform::QuitRequests::send(process.pid);
                return running.empty();
            },
            patience));
    }

    // The agent's process, when launchd runs it from inside `app`.
    std::optional<pid_t> agentFrom(const fs::path& app) const {
        for (const auto& job : Platform::Launchd::list(root))
            if (job.label == label && job.pid && !job.programArguments.empty() &&
                job.programArguments[0] == (fs::canonical(app) / "Contents/MacOS/lumrad").string())
                return job.pid;
        return std::nullopt;
    }
    // Opens the app at `app` and turns the service on from it; answers the
    // app's process and the agent's, once both run.
    std::pair<pid_t, pid_t> running(const fs::path& app) const {
        pid_t opened = open(app);
        auto on = lumra(app, {"background", "on"});
        EXPECT_EQ(on.status, 0) << on.err;
        return {opened, agentFrom(app).value_or(0)};
    }
    // Asks the service answering for the copy at `app` to hold a claim,
    // which the next service should go on holding.
    void hold(const fs::path& app) const {
        auto held = lumra(app, {"hold", "--for", "2h", "--owner", "scenario"});
        EXPECT_EQ(held.status, 0) << held.err;
    }
    // Whether the service answering for the copy at `app` holds that claim.
    bool holds(const fs::path& app) const { return lumra(app, {"status"}).out.find("scenario") != std::string::npos; }
    std::string jobs() const { return sim({"launchd", "list"}).out; }
    std::string registrations() const { return sim({"background", "list"}).out; }
    // Launch Services holds records, and all of them lie inside `app`.
    bool onlyRecordsIn(const std::string& app) const {
        bool any = false;
        std::istringstream list(sim({"ls", "list"}).out);
        for (std::string line; std::getline(list, line);) {
            if (line.find('\t') == std::string::npos) continue;
            std::string path = line.substr(line.rfind('\t') + 1);
            if (path != app && !path.starts_with(app + "/")) return false;
            any = true;
        }
        return any;
    }

    std::string appLog() const { return TestSupport::contents(root / "open/Lumra.log"); }
    std::string serviceLog() const { return TestSupport::contents(home / "Library/Logs/lumra/service.log"); }

    fs::path everyone = root / "Applications/Lumra.app";
    TestSupport::ProcessGuard guard{{root, home.path()}};
};

TEST(Copies, MovedFromDownloadsIntoApplicationsTurningTheServiceOn) {
    Machine machine;
    auto download = machine.install(machine.home / "Downloads/Lumra.app");
    pid_t first = machine.open(download);
    EXPECT_TRUE(eventually([&] { return !machine.onlyRecordsIn("/Applications/Lumra.app"); }));

    auto moved = machine.lumra(download, {"app", "move", "--for-everyone", "--turn-on"});
    EXPECT_EQ(moved.status, 0) << moved.err;
    EXPECT_EQ(moved.out, "Lumra is now in /Applications/Lumra.app\n");
    EXPECT_EQ(moved.err, "");
    // A whole copy, nothing half-made beside it, opened to turn the service on.
    fs::path installed = machine.everyone;
    EXPECT_EQ(TestSupport::entries(machine.root / "Applications"), std::vector<std::string>{"Lumra.app"});
    auto launch = machine.lastLaunch();
    EXPECT_EQ(launch["arguments"], nlohmann::json::array({"--app-installation-turn-on", label + ".plist"}));
    EXPECT_EQ(launch["new"], true);
    EXPECT_EQ(launch["background"], false);
    EXPECT_TRUE(eventually([&] { return machine.agentFrom(installed).has_value(); }, patience)) << machine.jobs();
    EXPECT_THAT(machine.registrations(), HasSubstr("\t1 enabled\t/Applications/Lumra.app\n"));
    EXPECT_TRUE(eventually([&] { return machine.onlyRecordsIn("/Applications/Lumra.app"); }, patience))
        << machine.sim({"ls", "list"}).out;
    auto records = machine.lumra(installed, {"app", "records"});
    EXPECT_EQ(records.status, 0) << records.err;
    EXPECT_THAT(records.out, HasSubstr("app.lumra.service\t/Applications/Lumra.app\n"));
    EXPECT_THAT(records.out, Not(HasSubstr(download.string())));
    // The app moved itself: its old process ended, the new one runs. The
    // download was no installed copy, so it stays where it is.
    EXPECT_TRUE(TestSupport::ends(first));
    EXPECT_TRUE(machine.appFrom(installed).has_value());
    EXPECT_TRUE(present(download / "Contents/MacOS/lumra-app"));
    EXPECT_FALSE(present(machine.home / ".Trash"));
    machine.quitApps();
}

TEST(Copies, MovedFromOwnApplicationsHandsTheServiceToTheNewCopy) {
    Machine machine;
    auto mine = machine.install(machine.home / "Applications/Lumra.app");
    auto on = machine.lumra(mine, {"background", "on"});
    ASSERT_EQ(on.status, 0) << on.err;
    pid_t old = machine.agentFrom(mine).value_or(0);
    ASSERT_NE(old, 0);
    machine.hold(mine);

    // Asked to keep the service on, the move stops it here with lumrad's
    // own hand-back.
    auto moved = machine.lumra(mine, {"app", "move", "--for-everyone", "--turn-on"});
    EXPECT_EQ(moved.status, 0) << moved.err;
    fs::path installed = machine.everyone;
    EXPECT_TRUE(TestSupport::ends(old));
    EXPECT_THAT(machine.serviceLog(), HasSubstr("lumrad handed back"));
    EXPECT_TRUE(eventually([&] { return machine.agentFrom(installed).has_value(); }, patience)) << machine.jobs();
    EXPECT_THAT(machine.registrations(), HasSubstr("\t1 enabled\t/Applications/Lumra.app\n"));
    // The claim went with the service.
    EXPECT_TRUE(eventually([&] { return machine.holds(installed); }, patience));
    EXPECT_FALSE(present(mine));
    EXPECT_TRUE(present(machine.home / ".Trash/Lumra.app/Contents/MacOS/lumra-app"));
    machine.quitApps();
}

TEST(Copies, DraggedWhileRunningReopensFromTheNewPlace) {
    Machine machine;
    auto installed = machine.install(machine.everyone);
    pid_t app = 0, old = 0;
    std::tie(app, old) = machine.running(installed);
    ASSERT_NE(old, 0);
    fs::path link = machine.linkTo(installed);

    fs::path mine = machine.home / "Applications/Lumra.app";
    fs::create_directories(mine.parent_path());
    fs::rename(installed, mine);

    // The agent asked the copy in its new place to take the job over, and
    // launchd runs it from there; the app reopened from there too.
    EXPECT_TRUE(eventually([&] { return machine.agentFrom(mine).has_value(); }, patience)) << machine.jobs();
    EXPECT_TRUE(TestSupport::ends(old));
    EXPECT_THAT(machine.registrations(), HasSubstr("\t1 enabled\t" + mine.string() + "\n"));
    EXPECT_TRUE(eventually([&] { return machine.appFrom(mine).has_value(); }, patience));
    EXPECT_TRUE(TestSupport::hasEnded(app));
    EXPECT_EQ(machine.lastLaunch().value("path", ""), mine.string());
    // The stale copy was told, and registered the job for itself.
    EXPECT_THAT(machine.serviceLog(), HasSubstr("asking the app's current copy to take this job"));
    EXPECT_TRUE(
        eventually([&] { return count(machine.serviceLog(), "registered for this copy; exiting") == 1; }, patience));
    // The app's link follows it; a move is no deletion.
    std::error_code unread;
    EXPECT_TRUE(eventually([&] { return fs::read_symlink(link, unread) == mine / "Contents/MacOS/lumra"; }, patience));
    EXPECT_FALSE(present(machine.home / ".Trash"));
    EXPECT_FALSE(present(machine.home / "Library/Application Support/AppInstallations"));
    machine.quitApps();
}

// The app deleted while it and its agent run, by moving it to the Trash or
// removing it, then installed again at the same place.
void deleteThenReinstall(bool toTrash) {
    SCOPED_TRACE(toTrash ? "moved to the Trash" : "removed");
    Machine machine;
    auto installed = machine.install(machine.everyone);
    pid_t app = 0, agent = 0;
    std::tie(app, agent) = machine.running(installed);
    ASSERT_NE(agent, 0);
    fs::path library = machine.home / "Library";
    const std::vector<fs::path> state{"Application Support/app.lumra.service", "Caches/app.lumra.service",
                                      "Preferences/app.lumra.service.plist"};
    TestSupport::writeFile(library / state[0] / "support-file", "kept by the app");
    TestSupport::writeFile(library / state[1] / "cache-file", "cached");
    TestSupport::writeFile(library / state[2],
                           Platform::encodePropertyList(Platform::PropertyDictionary{{"shown", true}},
                                                        Platform::PropertyListFormat::binary));
    fs::path link = machine.linkTo(installed), elsewhere = machine.home / ".local/bin/other";
    fs::create_symlink(machine.home / "Downloads", elsewhere);

    fs::path trash = machine.home / ".Trash";
    fs::create_directories(trash);
    toTrash ? fs::rename(installed, trash / "Lumra.app") : void(fs::remove_all(installed));

    EXPECT_TRUE(TestSupport::ends(agent));
    EXPECT_TRUE(eventually([&] { return TestSupport::hasEnded(app); }, patience));
    EXPECT_EQ(machine.jobs(), "no jobs loaded\n");
    fs::path tombstone = library / "Application Support/AppInstallations/app.lumra.service.deleted";
    EXPECT_TRUE(eventually([&] { return present(tombstone); }, patience));
    EXPECT_TRUE(
        std::regex_match(TestSupport::contents(tombstone), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\s*)")));
    // The app's state went to the Trash, its link is gone, the other stays.
    auto trashed = [&](const std::string& file) {
        for (const auto& entry : fs::directory_iterator(trash))
            if (present(entry.path() / file)) return true;
        return false;
    };
    EXPECT_TRUE(eventually([&] { return !present(link); }, patience));
    for (const char* file : {"support-file", "cache-file", "service.log" /* the service's own folders */})
        EXPECT_TRUE(trashed(file)) << file;
    for (const fs::path& part : state) EXPECT_FALSE(present(library / part)) << part;
    EXPECT_TRUE(present(trash / "app.lumra.service.plist"));
    EXPECT_EQ(present(trash / "Lumra.app"), toTrash);
    EXPECT_TRUE(present(elsewhere));
    // The registry still holds the deleted copy's record: the tombstone tells
    // the next copy not to revive it.
    EXPECT_THAT(machine.registrations(), HasSubstr("\t/Applications/Lumra.app\n"));

    machine.install(installed);
    machine.open(installed);
    EXPECT_TRUE(eventually([&] { return machine.registrations() == "no registrations\n"; }, patience))
        << machine.registrations();
    EXPECT_TRUE(eventually([&] { return count(machine.appLog(), "tombstone applied") == 1; }, patience));
    EXPECT_FALSE(present(tombstone));
    machine.quitApps();

    // A second launch finds nothing left to apply.
    machine.open(installed);
    EXPECT_TRUE(eventually([&] { return count(machine.appLog(), "watching the image") == 3; }, patience));
    machine.quitApps();
    EXPECT_EQ(count(machine.appLog(), "tombstone applied"), 1u);
    EXPECT_EQ(machine.registrations(), "no registrations\n");
    EXPECT_EQ(machine.jobs(), "no jobs loaded\n");
}

TEST(Copies, DeletedIsForgottenAndAReinstallClearsItsRecordOnce) {
    deleteThenReinstall(true);
    deleteThenReinstall(false);
}

TEST(Copies, UpgradedInPlaceRestartsOnlyOnceTheNewCopyIsWhole) {
    Machine machine;
    auto installed = machine.install(machine.everyone);
    pid_t app = 0, agent = 0;
    std::tie(app, agent) = machine.running(installed);
    ASSERT_NE(agent, 0);
    machine.hold(installed);

    // A newer release, one file short, swapped in for the running copy in
    // one rename; the old copy is then removed.
    auto newer = machine.install(machine.home / "Downloads/Lumra.app");
    TestSupport::makeRelease(machine, newer, "99.0");
    fs::path missing = "Contents/MacOS/lumra";
    fs::remove(newer / missing);
    ASSERT_EQ(::renameat2(AT_FDCWD, newer.c_str(), AT_FDCWD, installed.c_str(), RENAME_EXCHANGE), 0);
    fs::remove_all(newer);

    EXPECT_TRUE(eventually(
        [&] {
            return count(machine.appLog(), "a new image, not whole yet") >= 2 &&
                   count(machine.serviceLog(), "a new image, not whole yet") >= 2;
        },
        patience));
    EXPECT_FALSE(TestSupport::hasEnded(app));
    EXPECT_EQ(machine.agentFrom(installed), agent);

    fs::copy_file(fs::path(LUMRA_APP) / missing, installed / missing);
    EXPECT_TRUE(
        eventually([&] { return TestSupport::hasEnded(app) && machine.appFrom(installed).has_value(); }, patience))
        << machine.appLog();
    EXPECT_TRUE(TestSupport::ends(agent));
    EXPECT_TRUE(eventually([&] { return machine.agentFrom(installed).has_value(); }, patience)) << machine.jobs();
    EXPECT_THAT(machine.appLog(), HasSubstr("a new image is in place: running it"));
    // The agent handed over: the new copy registered the job afresh, and the
    // claim went on with the new service.
    EXPECT_TRUE(
        eventually([&] { return count(machine.serviceLog(), "registered for this copy; exiting") == 1; }, patience));
    EXPECT_TRUE(eventually([&] { return machine.holds(installed); }, patience));
    EXPECT_FALSE(present(machine.home / ".Trash"));
    machine.quitApps();
}

} // namespace
