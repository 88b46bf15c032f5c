// Finding the moved copy, forgetting a deleted app, re-pointing links and
// checking a new image, on real files in a temporary home and this test
// program's simulated machine.

#include <TestSupport/LogLines.hpp>
#include "WatchBench.hpp"

#include <Platform/Accounts.hpp>
#include <Platform/CodeSigning.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/ProcessTable.hpp>
#include <Platform/UserDefaults.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <regex>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace AppInstallation;
using namespace AppInstallationTests;
using TestSupport::LogLines;
using TestSupport::logged;
using namespace std::chrono_literals;
using Platform::SimulatedHost::hostPath;
using testing::ElementsAre;
using testing::IsEmpty;

// --- movedCopy

TEST(MovedCopy, Candidates) {
    struct Case {
        std::string name;
        std::string copy;       // where a copy is made ("~" the home); empty: none
        std::string identifier; // of that copy
        bool indexed;           // whether the search index knows it
        bool sameFile;          // the old inode is the copy's executable's
        std::string answer;     // empty: none
    };
    // clang-format off
    const Case cases[] = {
        {"by name, just for me", "~/Applications/Test.app", "app.test", false, false, "~/Applications/Test.app"},
        {"by name, another app's", "~/Applications/Test.app", "app.other", false, false, ""},
        {"indexed elsewhere, the same file moved", "~/Desktop/Renamed.app", "app.test", true, true, "~/Desktop/Renamed.app"},
        {"indexed elsewhere, a copy", "~/Desktop/Renamed.app", "app.test", true, false, ""},
        {"indexed, only in the Trash", "~/.Trash/Test.app", "app.test", true, true, ""},
        {"indexed, on a volume's Trash", "/Volumes/Disk/.Trashes/501/Test.app", "app.test", true, true, ""},
        {"indexed, translocated", "/private/var/folders/x/AppTranslocation/1/d/Test.app", "app.test", true, true, ""},
        {"indexed, the old copy itself", "/Applications/Test.app", "app.test", true, true, ""},
        {"nothing anywhere", "", "", false, false, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        WatchBench bench;
        std::string copy = std::regex_replace(c.copy, std::regex("~"), bench.home);
        uint64_t inode = 99;
        if (!copy.empty()) {
            makeBundle(copy, c.identifier);
            if (c.sameFile) inode = inodeOf(copy + "/Contents/MacOS/test");
            if (c.indexed) bench.indexed = {copy};
        }
        auto watch = bench.watch();
        auto found = watch->movedCopy("app.test", "Test.app", "/Applications/Test.app", inode);
        std::string answer = std::regex_replace(c.answer, std::regex("~"), bench.home);
        EXPECT_EQ(found.value_or(""), answer) << c.name;
        if (!copy.empty()) fs::remove_all(hostPath(copy));
    }
}

TEST(MovedCopy, TheApplicationsFoldersComeFirst) {
    WatchBench bench;
    makeBundle("/Applications/Test.app", "app.test");
    makeBundle(bench.home + "/Applications/Test.app", "app.test");
    auto watch = bench.watch();
    EXPECT_EQ(watch->movedCopy("app.test", "Test.app", bench.home + "/Applications/Test.app", 1),
              "/Applications/Test.app");
    EXPECT_EQ(watch->movedCopy("app.test", "Test.app", "/Applications/Test.app", 1),
              bench.home + "/Applications/Test.app");
    fs::remove_all(hostPath("/Applications/Test.app"));
}

// --- forget

struct Leftovers : WatchBench {
    std::string library = home + "/Library/";
    std::string deleted = "/Applications/Test.app";

    Leftovers() {
        for (const char* folder : {"Application Support/app.test", "Caches/app.test", "WebKit/app.test",
                                   "Saved Application State/app.test.savedState", "Application Support/app.other"})
            fs::create_directories(library + folder);
        fs::create_directories(home + "/bin");
        fs::create_directories(home + "/kept/inside");
        fs::create_directories(home + "/kept-empty");
    }
    std::string trashed(const std::string& name) const { return home + "/.Trash/" + name; }
    void link(const std::string& name, const std::string& to) { fs::create_symlink(to, home + "/bin/" + name); }
};

TEST(Forget, AsThePersonTrashesStateKeepsAndPreferencesAndCutsLinksIntoTheBundle) {
    Leftovers bench;
    ASSERT_TRUE(Platform::UserDefaults::write("app.test", "volume", Platform::PropertyValue(int64_t{3})));
    bench.link("into", hostPath("/Applications/Test.app/Contents/MacOS/test").string());
    bench.link("relative",
               hostPath("/Applications/Test.app/Contents/x").lexically_relative(bench.home + "/bin").string());
    bench.link("elsewhere", hostPath("/Applications/Test.app.old/Contents/MacOS/test").string());
    std::vector<Link> links{{bench.home + "/bin/into", "Contents/MacOS/test"},
                            {bench.home + "/bin/relative", "Contents/x"},
                            {bench.home + "/bin/elsewhere", "Contents/MacOS/test"},
                            {bench.home + "/bin/none", "Contents/MacOS/test"}};
    auto watch = bench.watch();
    LogLines log;
    watch->forget("app.test", bench.deleted, {bench.home + "/kept", bench.home + "/absent"}, links);
    std::string lines = log.text();

    EXPECT_THAT(bench.recorded(), ElementsAre("tombstone app.test"));
    for (const char* item : {"app.test", "app.test.savedState", "kept", "app.test.plist"})
        EXPECT_TRUE(fs::exists(bench.trashed(item))) << item;
    EXPECT_FALSE(fs::exists(bench.library + "Caches/app.test"));
    EXPECT_TRUE(fs::exists(bench.library + "Application Support/app.other"));
    EXPECT_THAT(lines, logged(R"("msg":"moved to the Trash" {"path":")" + bench.library +
                              R"(Caches/app.test","now":")" + bench.home + R"(/.Trash/app 2.test"})"));
    EXPECT_THAT(lines, logged(R"("msg":"preferences gone" {"domain":"app.test","keys":["volume"]})"));

    EXPECT_FALSE(fs::exists(fs::symlink_status(bench.home + "/bin/into")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(bench.home + "/bin/relative")));
    EXPECT_TRUE(fs::exists(fs::symlink_status(bench.home + "/bin/elsewhere")));
    EXPECT_THAT(lines, logged(R"("msg":"link removed" {"path":")" + bench.home +
                              R"(/bin/into","was":"/Applications/Test.app/Contents/MacOS/test"})"));
}

TEST(Forget, PreferencesWithoutKeysAreDeletedNotTrashed) {
    Leftovers bench;
    fs::create_directories(bench.library + "Preferences");
    std::ofstream(bench.library + "Preferences/app.test.plist")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>";
    auto watch = bench.watch();
    LogLines log;
    watch->forget("app.test", bench.deleted, {}, {});
    EXPECT_FALSE(fs::exists(bench.library + "Preferences/app.test.plist"));
    EXPECT_FALSE(fs::exists(bench.trashed("app.test.plist")));
    EXPECT_THAT(log.text(), logged(R"("msg":"preferences gone" {"domain":"app.test","keys":[]})"));
}

TEST(Forget, AsRootOnlyRemovesKeeps) {
    Leftovers bench;
    bench.uid = 0;
    bench.link("into", hostPath("/Applications/Test.app/Contents/MacOS/test").string());
    std::ofstream(bench.home + "/kept-file") << "x";
    fs::create_symlink(bench.home + "/kept", bench.home + "/kept-link");
    auto watch = bench.watch();
    LogLines log;
    watch->forget(
        "app.test", bench.deleted,
        {bench.home + "/kept", bench.home + "/kept-empty", bench.home + "/kept-file", bench.home + "/kept-link"},
        {{bench.home + "/bin/into", "Contents/MacOS/test"}});
    std::string lines = log.text();

    EXPECT_THAT(bench.recorded(), ElementsAre("tombstone app.test"));
    EXPECT_TRUE(fs::exists(bench.home + "/kept/inside"));
    EXPECT_THAT(lines, logged(R"("msg":"left in place: not empty" {"path":")" + bench.home + R"(/kept"})"));
    for (const char* gone : {"/kept-empty", "/kept-file", "/kept-link"}) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(bench.home + gone))) << gone;
        EXPECT_THAT(lines, logged(R"("msg":"removed" {"path":")" + bench.home + gone + "\"}"));
    }
    EXPECT_TRUE(fs::exists(bench.library + "Caches/app.test"));
    EXPECT_TRUE(fs::exists(fs::symlink_status(bench.home + "/bin/into")));
    EXPECT_FALSE(fs::exists(bench.home + "/.Trash"));
    EXPECT_THAT(watch->standardState("app.test"), IsEmpty());
}

TEST(Forget, AnIdentifierThatIsNoPlainNameTouchesNoState) {
    for (const std::string id : {"", "..", "../app.test", ".hidden", "a/b"}) {
        Leftovers bench;
        auto watch = bench.watch();
        LogLines log;
        watch->forget(id, bench.deleted, {}, {});
        EXPECT_THAT(log.text(),
                    logged(R"("msg":"not a plain identifier: its tombstone, state and preferences are left" )"
                           R"({"id":")" +
                           id + "\"}"))
            << id;
        EXPECT_THAT(bench.recorded(), IsEmpty()) << id;
        EXPECT_TRUE(fs::exists(bench.library + "Application Support/app.test")) << id;
        EXPECT_FALSE(fs::exists(bench.home + "/.Trash")) << id;
        EXPECT_THAT(watch->standardState(id), IsEmpty()) << id;
    }
}

// --- repoint

TEST(Repoint, LinksIntoAnOlderCopyFollowThisOne) {
    Leftovers bench;
    makeBundle("/Applications/Older.app", "app.test");
    makeBundle("/Applications/Another.app", "app.other");
    std::string here = bench.home + "/Applications/Test.app";
    auto to = [](const std::string& app) { return hostPath(app + "/Contents/MacOS/test").string(); };
    bench.link("older", to("/Applications/Older.app"));
    bench.link("deleted", to("/Applications/Gone.app"));
    bench.link("another", to("/Applications/Another.app"));
    bench.link("current", to(here));
    bench.link("odd", to("/Applications/Older.app") + "-not");
    std::vector<Link> links;
    for (const char* name : {"older", "deleted", "another", "current", "odd", "missing"})
        links.push_back({bench.home + "/bin/" + name, "Contents/MacOS/test"});

    auto watch = bench.watch();
    LogLines log;
    watch->repoint(links, here, "app.test");
    std::string lines = log.text();

    for (const char* name : {"older", "deleted", "current"})
        EXPECT_EQ(fs::read_symlink(bench.home + "/bin/" + name), to(here)) << name;
    EXPECT_EQ(fs::read_symlink(bench.home + "/bin/another"), to("/Applications/Another.app"));
    EXPECT_EQ(fs::read_symlink(bench.home + "/bin/odd"), to("/Applications/Older.app") + "-not");
    EXPECT_THAT(lines, logged(R"("msg":"link re-pointed at this copy" {"path":")" + bench.home +
                              R"(/bin/older","was":"/Applications/Older.app/Contents/MacOS/test","now":")" + here +
                              R"(/Contents/MacOS/test"})"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
}

// --- whole

TEST(Whole, OnlyASignedCompleteBundleThatMeetsTheRequirement) {
    struct Case {
        std::string name;
        std::function<void(const fs::path& app)> change;
        std::optional<std::string> team;
        bool whole;
    };
    const Case cases[] = {
        {"as signed", [](const fs::path&) {}, "AB12CD34EF", true},
        {"another team's requirement", [](const fs::path&) {}, "ZZ99", false},
        {"the image changed", [](const fs::path& app) { std::ofstream(app / "Contents/MacOS/test") << "half"; },
         "AB12CD34EF", false},
        {"a file still missing", [](const fs::path& app) { fs::remove(app / "Contents/Resources/data"); }, "AB12CD34EF",
         false},
        {"unsigned", [](const fs::path& app) { fs::remove_all(app / "Contents/_CodeSignature"); }, "AB12CD34EF", false},
    };
    for (const auto& c : cases) {
        WatchBench bench;
        std::string app = bench.home + "/New.app";
        makeBundle(app, "app.test");
        fs::create_directories(app + "/Contents/Resources");
        std::ofstream(app + "/Contents/Resources/data") << "data";
        Platform::CodeSigning::SigningOptions options;
        options.identity.subject = "Developer ID Application: Test (AB12CD34EF)";
        ASSERT_EQ(Platform::CodeSigning::sign(app, options), std::nullopt);
        c.change(app);
        EXPECT_EQ(ImageWatch::whole(app + "/Contents/MacOS/test", app, {"app.test", c.team, std::nullopt}), c.whole)
            << c.name;
    }
}

// --- forgetForPerson

// A process running the executable at `program` until the object goes.
class Running {
public:
    explicit Running(const fs::path& program) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl(program.c_str(), "test", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200 && Platform::ProcessTable::executablePath(pid_) !=
                                       Platform::SimulatedHost::macPath(fs::canonical(program));
             ++i)
            std::this_thread::sleep_for(5ms);
    }
    ~Running() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_;
};

struct ForPerson : WatchBench {
    std::string trashed = home + "/.Trash/Test.app";
    ForPerson() {
        uid = 0;
        ownExecutable = makeBundle(trashed, "app.test", "/bin/sleep").string();
    }
};

// The trashed copy runs as the person at the console unless a process of
// the person's runs the app already; another root daemon of the app does
// not count, or two daemons would leave the work to each other.
TEST(ForgetForPerson, RunsTheTrashedCopyAsThePersonUnlessTheirProcessDoesIt) {
    enum class Other { none, persons, rootDaemon };
    auto person = Platform::Accounts::person();
    for (Other other : {Other::none, Other::persons, Other::rootDaemon}) {
        ForPerson bench;
        std::optional<Running> app;
        if (other != Other::none) app.emplace(bench.trashed + "/Contents/MacOS/test");
        if (other == Other::rootDaemon) {
            ASSERT_TRUE(Platform::Credentials::recordProcess(app->pid(), 0, Platform::SimulatedHost::root()));
        }
        LogLines log;
        bench.watch()->forgetForPerson("/Applications/Test.app");
        if (other == Other::persons) {
            EXPECT_THAT(bench.recorded(), IsEmpty());
            EXPECT_THAT(log.text(), logged(R"("msg":"a process of the app forgets the person's side" {"pid":)" +
                                           std::to_string(app->pid()) + "}"));
            continue;
        }
        EXPECT_THAT(bench.recorded(),
                    ElementsAre("run /bin/launchctl asuser " + std::to_string(person.uid) + " /usr/bin/sudo -H -u " +
                                person.name + " " + bench.trashed +
                                "/Contents/MacOS/test --app-installation-forget /Applications/Test.app"));
        EXPECT_THAT(log.text(), logged(R"("msg":"the deleted copy ran for the person" {"person":")" + person.name +
                                       R"(","status":0})"));
    }
}

TEST(ForgetForPerson, ThePersonsSideStaysWithoutACopyOrSomeoneAtTheConsole) {
    for (bool copyGone : {true, false}) {
        ForPerson bench;
        if (copyGone)
            fs::remove_all(bench.trashed);
        else
            ASSERT_TRUE(Platform::Accounts::setConsole(std::nullopt, Platform::SimulatedHost::root()));
        LogLines log;
        bench.watch()->forgetForPerson("/Applications/Test.app");
        EXPECT_THAT(log.text(), logged(std::string(R"("msg":")") +
                                       (copyGone ? "the deleted copy is gone" : "nobody at the console") +
                                       R"(: the person's side stays" {"was":"/Applications/Test.app"})"));
        EXPECT_THAT(bench.recorded(), IsEmpty());
    }
}

} // namespace
