// The watch's decisions on each tick and at start, with the process's fate
// and the other parts of the installation layer faked.

#include <TestSupport/LogLines.hpp>
#include "WatchBench.hpp"

#include <Platform/Accounts.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <regex>
#include <thread>

namespace {

using namespace AppInstallation;
using namespace AppInstallationTests;
using TestSupport::LogLines;
using TestSupport::logged;
using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::ElementsAreArray;

// This program runs on a simulated machine of its own, never the person's.
[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

const FileLook missing{0, ENOENT};

// The text with "~" as the test's home, "<uid>" and "<name>" as the
// person's.
std::string expand(const std::string& text, const WatchBench& bench) {
    auto person = Platform::Accounts::person();
    std::string out = std::regex_replace(text, std::regex("~"), bench.home);
    out = std::regex_replace(out, std::regex("<uid>"), std::to_string(person.uid));
    return std::regex_replace(out, std::regex("<name>"), person.name);
}

void asJob(WatchBench& bench, const std::string& label = "app.test.agent", const std::string& plist = "agent.plist") {
    bench.watched.job = label;
    bench.watched.jobPlist = plist;
}

TEST(ImageWatchTick, Decisions) {
    struct Case {
        std::string name;
        std::function<void(WatchBench&)> set;
        int ticks;
        std::vector<std::string> calls;
        std::vector<std::string> logs;
        int gone = 0;
    };
    auto forget = " --app-installation-forget /Applications/Test.app";
    // clang-format off
    const Case cases[] = {
        {"missing fewer ticks than allowed, then back",
         [](WatchBench& b) { b.watched.goneAfter = 3; b.looks = {missing, missing, {7, 0}}; }, 3, {},
         {R"("msg":"executable missing" {"path":"/Applications/Test.app/Contents/MacOS/test","tick":2,"of":3})"}, 0},
        {"missing, still allowed",
         [](WatchBench& b) { b.watched.goneAfter = 3; b.looks = {missing}; }, 2, {}, {}, 2},
        {"a folder on the way replaced by a file counts as missing",
         [](WatchBench& b) { b.watched.goneAfter = 2; b.looks = {{0, ENOTDIR}}; }, 1, {}, {}, 1},
        {"moved, as a job: hands over to the moved copy",
         [](WatchBench& b) { asJob(b); b.looks = {missing}; makeBundle(b.home + "/Applications/Test.app", "app.test"); }, 1,
         {"beforeLeaving", "leave app.test.agent ~/Applications/Test.app agent.plist"},
         {R"("msg":"the app moved: leaving, nothing forgotten" {"from":"/Applications/Test.app","to":"~/Applications/Test.app"})"}, 1},
        {"moved, as the app: reopens the moved copy",
         [](WatchBench& b) { b.looks = {missing}; makeBundle(b.home + "/Applications/Test.app", "app.test"); }, 1,
         {"beforeLeaving", "leave - ~/Applications/Test.app -"}, {}, 1},
        {"deleted, as a job: forgets at once, then leaves once",
         [](WatchBench& b) { asJob(b); b.looks = {missing}; }, 2,
         {"beforeLeaving", "tombstone app.test", "leave app.test.agent - -"},
         {R"("msg":"the app was deleted: cleaning up and leaving" {"path":"/Applications/Test.app"})"}, 1},
        {"deleted, as a root daemon: the person's side through the trashed copy",
         [](WatchBench& b) {
             asJob(b, "app.test.daemon", "daemon.plist");
             b.uid = 0;
             b.looks = {missing};
             b.ownExecutable = makeBundle(b.home + "/.Trash/Test.app", "app.test").string();
         }, 1,
         {"beforeLeaving", "tombstone app.test",
          std::string("run /bin/launchctl asuser <uid> /usr/bin/sudo -H -u <name> ~/.Trash/Test.app/Contents/MacOS/test") + forget,
          "leave app.test.daemon - -"},
         {R"("msg":"the deleted copy ran for the person" {"person":"<name>","status":0})"}, 1},
        {"deleted, as the app: forgets as it exits",
         [](WatchBench& b) { b.looks = {missing}; }, 1, {"beforeLeaving", "atExit", "leave - - -"}, {}, 1},
        {"deleted from a volume that is still there",
         [](WatchBench& b) {
             b.watched.bundle = "/Volumes/Disk/Test.app";
             b.watched.path = "/Volumes/Disk/Test.app/Contents/MacOS/test";
             fs::create_directories(Platform::SimulatedHost::hostPath("/Volumes/Disk"));
             b.looks = {missing};
         }, 1, {"beforeLeaving", "atExit", "leave - - -"}, {}, 1},
        {"the volume went away: leaves, forgets nothing",
         [](WatchBench& b) {
             b.watched.bundle = "/Volumes/Gone/Test.app";
             b.watched.path = "/Volumes/Gone/Test.app/Contents/MacOS/test";
             b.looks = {missing};
         }, 1, {"beforeLeaving", "leave - - -"},
         {R"("msg":"the app's volume is gone: leaving, nothing forgotten" {"path":"/Volumes/Gone/Test.app","volume":"/Volumes/Gone"})"}, 1},
        {"unreadable: warned once, nothing done",
         [](WatchBench& b) { b.looks = {{0, EACCES}}; }, 3, {},
         {R"("msg":"the image cannot be read: nothing done" {"path":"/Applications/Test.app/Contents/MacOS/test","err":"Permission denied"})"}, 0},
        {"a whole new image, as an agent: handed over, then exit",
         [](WatchBench& b) { asJob(b); b.looks = {{8, 0}}; }, 1,
         {"beforeLeaving", "handOver gui/501/app.test.agent agent.plist /Applications/Test.app", "exit 0"},
         {R"("msg":"a new image is in place: running it" {"path":"/Applications/Test.app/Contents/MacOS/test"})"}},
        {"a whole new image, as a root daemon",
         [](WatchBench& b) { asJob(b, "app.test.daemon", "daemon.plist"); b.uid = 0; b.looks = {{8, 0}}; }, 1,
         {"beforeLeaving", "handOver system/app.test.daemon daemon.plist /Applications/Test.app", "exit 0"}, {}},
        {"a whole new image, as the app: reopens, and tries again on the next tick if that failed",
         [](WatchBench& b) { b.looks = {{8, 0}}; }, 2,
         {"beforeLeaving", "reopen an upgrade landed", "beforeLeaving", "reopen an upgrade landed"}, {}},
        {"a new image not whole yet: nothing, checked again",
         [](WatchBench& b) { b.looks = {{8, 0}}; b.whole = false; }, 2, {},
         {R"("msg":"a new image, not whole yet" {"path":"/Applications/Test.app/Contents/MacOS/test"})"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        WatchBench bench;
        c.set(bench);
        auto watch = bench.watch();
        LogLines log;
        for (int i = 0; i < c.ticks; ++i) watch->tick();
        std::string lines = log.text();

        std::vector<std::string> calls;
        for (const auto& call : c.calls) calls.push_back(expand(call, bench));
        EXPECT_THAT(bench.recorded(), ElementsAreArray(calls)) << c.name;
        for (const auto& line : c.logs) EXPECT_THAT(lines, logged(expand(line, bench))) << c.name;
        EXPECT_EQ(watch->gone(), c.gone) << c.name;
        if (c.name.starts_with("unreadable")) {
            EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
        }
        if (c.name.starts_with("a new image not whole")) {
            EXPECT_EQ(bench.wholeChecks, 2);
        }
    }
}

TEST(ImageWatchTick, TheDeletedAppForgetsAsItExits) {
    WatchBench bench;
    bench.looks = {missing};
    fs::create_directories(bench.home + "/Library/Caches/app.test");
    auto watch = bench.watch();
    watch->tick();
    EXPECT_TRUE(fs::exists(bench.home + "/Library/Caches/app.test"));
    ASSERT_TRUE(bench.exitWork);
    bench.exitWork();
    EXPECT_THAT(bench.recorded(), ElementsAre("beforeLeaving", "atExit", "leave - - -", "tombstone app.test"));
    EXPECT_FALSE(fs::exists(bench.home + "/Library/Caches/app.test"));
    EXPECT_TRUE(fs::exists(bench.home + "/.Trash/app.test"));
}

// --- start

TEST(ImageWatchStart, TheForgetSwitchActsOnlyOnADeletedCopy) {
    struct Case {
        std::string value;
        std::string why; // empty: forgotten
    };
    const Case cases[] = {
        {"Old.app", "not the path of an app"},
        {"/Applications/notes.txt", "not the path of an app"},
        {"/Applications/.app", "not the path of an app"},
        {"/Applications/Test.app", "this copy"},
        {"/Applications/../Applications/Test.app/", "this copy"},
        {"/Applications/Other.app", "something is still there"},
        {"/Applications/Old.app", ""},
    };
    for (const auto& c : cases) {
        WatchBench bench;
        makeBundle("/Applications/Other.app", "app.test");
        fs::create_directories(bench.home + "/Library/Caches/app.test");
        LogLines log;
        auto watch =
            ImageWatch::start(bench.watched, bench.system(), {}, 1h, {"-x", "--app-installation-forget", c.value});
        std::string lines = log.text();
        EXPECT_EQ(watch, nullptr) << c.value;
        if (c.why.empty()) {
            EXPECT_THAT(bench.recorded(), ElementsAre("claimRecords", "tombstone app.test", "exit 0")) << c.value;
            EXPECT_THAT(lines, logged(R"("msg":"forgetting the deleted app for this person" )"
                                      R"({"was":"/Applications/Old.app","copy":"/Applications/Test.app"})"));
            EXPECT_FALSE(fs::exists(bench.home + "/Library/Caches/app.test"));
        } else {
            EXPECT_THAT(bench.recorded(), ElementsAre("claimRecords", "exit 0")) << c.value;
            EXPECT_THAT(lines, logged(R"("msg":"the forget switch names no deleted copy: ignored" {"was":")" + c.value +
                                      R"(","copy":"/Applications/Test.app","why":")" + c.why + "\"}"))
                << c.value;
            EXPECT_TRUE(fs::exists(bench.home + "/Library/Caches/app.test")) << c.value;
        }
    }
}

TEST(ImageWatchStart, AJobIgnoresTheSwitches) {
    WatchBench bench;
    asJob(bench);
    LogLines log;
    auto watch = ImageWatch::start(
        bench.watched, bench.system(), {}, 1h,
        {"--app-installation-forget", "/Applications/Old.app", "--app-installation-stale", "agent.plist"});
    EXPECT_NE(watch, nullptr);
    EXPECT_THAT(bench.recorded(), ElementsAre("claimRecords"));
    EXPECT_THAT(log.text(), logged(R"("msg":"watching the image" )"
                                   R"({"path":"/Applications/Test.app/Contents/MacOS/test","as":"app.test.agent"})"));
}

TEST(ImageWatchStart, AStaleLaunchSettlesThenExits) {
    WatchBench bench;
    LogLines log;
    auto watch = ImageWatch::start(bench.watched, bench.system(), {}, 1h, {"--app-installation-stale", "agent.plist"});
    EXPECT_EQ(watch, nullptr);
    EXPECT_THAT(
        bench.recorded(),
        ElementsAre("claimRecords", "settle /Applications/Test.app --app-installation-stale agent.plist", "exit 0"));
    EXPECT_THAT(log.text(), logged(R"("msg":"registered for this copy; exiting" {"path":"/Applications/Test.app"})"));
}

TEST(ImageWatchStart, AnInstalledAppRepointsItsLinksAndSettlesInTheBackground) {
    WatchBench bench;
    makeBundle("/Applications/Test.app", "app.test");
    fs::create_directories(bench.home + "/bin");
    std::string tool = bench.home + "/bin/test";
    fs::create_symlink(bench.home + "/Downloads/Test.app/Contents/MacOS/test", tool);
    bench.watched.links = {{tool, "Contents/MacOS/test"}};

    auto watch = ImageWatch::start(bench.watched, bench.system(), {}, 1h, {"-x"});
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(fs::read_symlink(tool), Platform::SimulatedHost::hostPath("/Applications/Test.app/Contents/MacOS/test"));
    for (int i = 0; i < 100 && bench.recorded().size() < 2; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_THAT(bench.recorded(), ElementsAre("claimRecords", "settle /Applications/Test.app -x"));
}

// --- the timer

TEST(ImageWatchBegin, TicksUntilTheWatchGoes) {
    WatchBench bench;
    bench.watched.goneAfter = 1000;
    bench.looks = {missing};
    auto watch = bench.watch();
    watch->begin(10ms);
    for (int i = 0; i < 100 && watch->gone() < 3; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_GE(watch->gone(), 3);
    watch.reset();
    int looked = [&] {
        std::lock_guard guard(bench.lock);
        return bench.imageLooks;
    }();
    std::this_thread::sleep_for(50ms);
    std::lock_guard guard(bench.lock);
    EXPECT_LE(bench.imageLooks, looked + 1); // a tick under way may finish
}

} // namespace
