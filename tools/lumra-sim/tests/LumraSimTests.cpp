// The real lumra-sim executable against a temporary simulation root.

#include <Platform/Accounts.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <fstream>

namespace {

class LumraSim : public testing::Test {
protected:
    TestSupport::Finished sim(const std::vector<std::string>& arguments) {
        return TestSupport::runProcess(LUMRA_SIM_EXE, arguments,
                                       {{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root().string()}});
    }
    std::filesystem::path root() const { return scratch / "machine"; }

    TestSupport::TempDir home;
    TestSupport::TempDir scratch;
};

TEST_F(LumraSim, InitLaysOutAFreshMachineAndKeepsWhatIsThere) {
    auto first = sim({"init"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, root().string() + "\n");
    for (const char* folder :
         {"Applications", "Library", "System", "Volumes", "usr/bin", "bin", "etc/sudoers.d", "dev", "notifications"})
        EXPECT_TRUE(std::filesystem::is_directory(root() / folder)) << folder;

    std::ofstream(root() / "clock.json") << R"({"rate":10})";
    EXPECT_EQ(sim({"init"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(root() / "clock.json"));
    EXPECT_FALSE(std::filesystem::exists(home / ".local/share/lumra-sim"));
}

TEST_F(LumraSim, PathMapsSystemLocationsIntoTheRootOnly) {
    EXPECT_EQ(sim({"path", "/usr/bin/pmset"}).out, (root() / "usr/bin/pmset").string() + "\n");
    EXPECT_EQ(sim({"path", "/Applications/Lumra.app"}).out, (root() / "Applications/Lumra.app").string() + "\n");
    EXPECT_EQ(sim({"path", "/home/alice/Library"}).out, "/home/alice/Library\n");
}

// A fresh machine has the build's stand-in tools at their macOS paths, and a
// machine laid out before the tools existed gets them on the next init.
TEST_F(LumraSim, InitLinksTheStandInTools) {
    EXPECT_EQ(sim({"init"}).status, 0);
    for (const char* tool : {"usr/bin/pmset", "usr/bin/sudo"}) {
        EXPECT_TRUE(std::filesystem::is_symlink(root() / tool)) << tool;
        EXPECT_EQ(std::filesystem::read_symlink(root() / tool).filename(), std::filesystem::path(tool).filename());
        EXPECT_TRUE(std::filesystem::exists(root() / tool)) << tool;
    }
    std::filesystem::remove(root() / "usr/bin/pmset");
    EXPECT_EQ(sim({"init"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(root() / "usr/bin/pmset"));
}

TEST_F(LumraSim, PowerShowsAFreshLaptop) {
    auto power = sim({"power"});
    EXPECT_EQ(power.status, 0);
    EXPECT_EQ(power.out, "sleep disabled: off\n"
                         "power source: 100/100, AC Power, not charging\n"
                         "low power mode: off\n"
                         "thermal state: nominal\n"
                         "display: awake\n"
                         "assertions: none\n");
}

TEST_F(LumraSim, SettersChangeWhatPowerShows) {
    for (auto arguments :
         {std::vector<std::string>{"battery", "57", "battery"}, std::vector<std::string>{"heat", "serious"},
          std::vector<std::string>{"lowpower", "on"}, std::vector<std::string>{"display", "asleep"},
          std::vector<std::string>{"disablesleep", "on"}})
        EXPECT_EQ(sim(arguments).status, 0) << arguments[0];
    EXPECT_EQ(sim({"power"}).out, "sleep disabled: on\n"
                                  "power source: 57/100, Battery Power, not charging\n"
                                  "low power mode: on\n"
                                  "thermal state: serious\n"
                                  "display: asleep\n"
                                  "assertions: none\n");

    EXPECT_EQ(sim({"battery", "80", "charging"}).status, 0);
    EXPECT_NE(sim({"power"}).out.find("power source: 80/100, AC Power, charging\n"), std::string::npos);
    EXPECT_EQ(sim({"battery", "none"}).status, 0);
    EXPECT_NE(sim({"power"}).out.find("power source: none\n"), std::string::npos);
}

TEST_F(LumraSim, PowerListsLiveAssertions) {
    TestSupport::writeFile(
        root() / "power/assertions.json",
        R"({"next":8,"assertions":[{"id":7,"type":"PreventUserIdleDisplaySleep","name":"lumra","level":255}]})");
    EXPECT_NE(sim({"power"}).out.find("assertions: 1\n  7 PreventUserIdleDisplaySleep \"lumra\" level 255 pid 0\n"),
              std::string::npos);
}

TEST_F(LumraSim, AnythingElseIsAUsageError) {
    for (auto arguments :
         {std::vector<std::string>{}, std::vector<std::string>{"path"}, std::vector<std::string>{"reset"},
          std::vector<std::string>{"power", "now"}, std::vector<std::string>{"battery", "101", "ac"},
          std::vector<std::string>{"battery", "-1", "ac"}, std::vector<std::string>{"battery", "50"},
          std::vector<std::string>{"battery", "50", "solar"}, std::vector<std::string>{"heat", "hot"},
          std::vector<std::string>{"lowpower", "1"}, std::vector<std::string>{"display", "off"},
          std::vector<std::string>{"disablesleep", "1"}}) {
        auto finished = sim(arguments);
        EXPECT_EQ(finished.status, 64);
        EXPECT_EQ(finished.err.rfind("usage: lumra-sim", 0), 0u) << finished.err;
    }
    EXPECT_EQ(sim({"--help"}).status, 0);
}

// The accounts: listed, the person in and out of the admin group, who is
// at the screen, the password sudo checks.
TEST_F(LumraSim, AccountCommands) {
    const std::string person = Platform::Accounts::person().name;
    const std::string uid = std::to_string(Platform::Accounts::person().uid);
    auto listed = sim({"user"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "root uid=0 groups=wheel(0),staff(20),admin(80) home=/var/root\n" + person + " uid=" + uid +
                              " groups=staff(20),admin(80) home=/Users/" + person + "\nconsole: " + person + "\n");

    const std::tuple<std::vector<std::string>, int, std::string> rows[] = {
        {{"user", "admin", "off"}, 0, person + " uid=" + uid + " groups=staff(20) home=/Users/" + person},
        {{"user", "admin", "on", person}, 0, person + " uid=" + uid + " groups=staff(20),admin(80)"},
        {{"user", "password", "pass word"}, 0, "password=set"},
        {{"console", "none"}, 0, "console: none"},
        {{"console", "root"}, 0, "console: root"},
        {{"console", "nobody-here"}, 1, "console: root"},
        {{"user", "admin", "on", "nobody-here"}, 1, "console: root"},
    };
    for (const auto& [arguments, status, shown] : rows) {
        auto changed = sim(arguments);
        EXPECT_EQ(changed.status, status) << arguments[0] << " " << arguments[1];
        if (status != 0) {
            EXPECT_EQ(changed.err, "lumra-sim: no user named nobody-here (or the accounts cannot be written)\n");
        }
        EXPECT_NE(sim({"user"}).out.find(shown), std::string::npos) << shown;
    }
    EXPECT_TRUE(Platform::Accounts::checkPassword(person, "pass word", root()));
    EXPECT_EQ(sim({"user", "admin", "maybe"}).status, 64);
    EXPECT_EQ(sim({"--version"}).out, "lumra-sim " LUMRA_VERSION "\n");
}

} // namespace
