#include <Platform/Accounts.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace SimulatedHost = Platform::SimulatedHost;
using TestSupport::contents;
using TestSupport::TempDir;
using TestSupport::writeFile;

const std::string simRoot = "/tmp/sim-root";

// --- hostPath

TEST(SimulatedHostPath, SystemLocationsLiveUnderTheRoot) {
    for (const char* mac :
         {"/Applications", "/Applications/Lumra.app", "/Applications/Lumra.app/Contents/MacOS/lumra-notifier",
          "/Library", "/Library/LaunchDaemons/app.lumra.service.plist", "/System", "/System/Library/CoreServices",
          "/Volumes", "/Volumes/Lumra/Lumra.app", "/usr/bin/pmset", "/usr/bin/sudo", "/bin/launchctl", "/etc/sudoers.d",
          "/etc/sudoers.d/lumra", "/dev/console",
          "/etc/sudoers", "/usr/sbin/chown", "/var/root", "/var/root/.local"})
        EXPECT_EQ(SimulatedHost::hostPath(mac, simRoot).string(), simRoot + mac) << mac;
}

// Only whole components count: a name that merely begins like a system
// location, the tool folder itself and other system files stay where they are.
TEST(SimulatedHostPath, EverythingElseIsUnchanged) {
    for (const char* mac : {"/ApplicationsX",
                            "/Applications.app",
                            "/LibraryX/a",
                            "/SystemX",
                            "/VolumesX/a",
                            "/usr/bin",
                            "/usr/bin/",
                            "/usr/binx/pmset",
                            "/usr/local/bin/pmset",
                            "/bin/ls",
                            "/bin/launchctlX",
                            "/etc/passwd",
                            "/etc/sudoersX",
                            "/etc/sudoers.dX/lumra",
                            "/usr/sbin",
                            "/var/rootX",
                            "/var/log",
                            "/dev/null",
                            "/dev/consoleX",
                            "/home/person/Library/Preferences",
                            "/Users/person/Applications",
                            "/",
                            "",
                            "Applications",
                            "Applications/Lumra.app"})
        EXPECT_EQ(SimulatedHost::hostPath(mac, simRoot).string(), mac) << mac;
}

// --- macPath

TEST(SimulatedHostMacPath, PathsUnderTheRootLoseIt) {
    EXPECT_EQ(SimulatedHost::macPath(simRoot + "/Applications/Lumra.app", simRoot), "/Applications/Lumra.app");
    EXPECT_EQ(SimulatedHost::macPath(simRoot + "/Volumes/Lumra/Lumra.app/Contents", simRoot),
              "/Volumes/Lumra/Lumra.app/Contents");
    EXPECT_EQ(SimulatedHost::macPath(simRoot, simRoot), "/");
    EXPECT_EQ(SimulatedHost::macPath(simRoot + "/", simRoot), "/");
}

TEST(SimulatedHostMacPath, DiscoveredPathsAreNormalisedFirst) {
    EXPECT_EQ(SimulatedHost::macPath(simRoot + "/Applications/../Library/./x", simRoot), "/Library/x");
    EXPECT_EQ(SimulatedHost::macPath(simRoot + "//Applications", simRoot), "/Applications");
}

TEST(SimulatedHostMacPath, PathsOutsideTheRootAreUnchanged) {
    for (std::string host : {simRoot + "-other/Applications", simRoot + "other", std::string("/tmp"),
                             std::string("/home/person/build/Lumra.app"), std::string("/Applications")})
        EXPECT_EQ(SimulatedHost::macPath(host, simRoot), host) << host;
}

TEST(SimulatedHostMacPath, UndoesHostPath) {
    for (const char* mac : {"/Applications/Lumra.app", "/usr/bin/pmset", "/bin/launchctl", "/dev/console",
                            "/etc/sudoers.d/lumra", "/Volumes/Lumra"})
        EXPECT_EQ(SimulatedHost::macPath(SimulatedHost::hostPath(mac, simRoot), simRoot), mac) << mac;
}

// A root given with a trailing slash names the same folder.
TEST(SimulatedHostMacPath, RootWithTrailingSlashIsTheSameRoot) {
    EXPECT_EQ(SimulatedHost::macPath(simRoot + "/Applications/Lumra.app", simRoot + "/"), "/Applications/Lumra.app");
}

// --- initialize

const std::vector<std::string> systemFolders{"Applications", "Library",       "System", "Volumes",       "usr/bin",
                                             "bin",          "etc/sudoers.d", "dev",    "notifications", "power"};

TEST(SimulatedHostInitialize, LaysOutTheSystemFolders) {
    TempDir folder;
    SimulatedHost::initialize(folder / "machine");
    for (const auto& name : systemFolders)
        EXPECT_TRUE(std::filesystem::is_directory(folder / "machine" / name)) << name;
}

TEST(SimulatedHostInitialize, AgainChangesNothingAndKeepsExistingFiles) {
    TempDir folder;
    const auto root = folder.path();
    writeFile(root / "Applications/Lumra.app/Contents/Info.plist", "plist");
    writeFile(root / "clock.json", "{\"rate\":1000}");
    writeFile(root / "notifications/app.lumra.service/settings.json", "{\"authorizationStatus\":2}");

    SimulatedHost::initialize(root);
    SimulatedHost::initialize(root);

    EXPECT_EQ(contents(root / "Applications/Lumra.app/Contents/Info.plist"), "plist");
    EXPECT_EQ(contents(root / "clock.json"), "{\"rate\":1000}");
    EXPECT_EQ(contents(root / "notifications/app.lumra.service/settings.json"), "{\"authorizationStatus\":2}");
    for (const auto& name : systemFolders) EXPECT_TRUE(std::filesystem::is_directory(root / name)) << name;
}

// --- installStandIn

class StandIns : public testing::Test {
protected:
    StandIns() {
        writeFile(folder / "standins/pmset", "#!/bin/sh\n");
        std::filesystem::permissions(folder / "standins/pmset", std::filesystem::perms::owner_all);
    }
    std::filesystem::path root() const { return folder / "machine"; }
    std::filesystem::path standIns() const { return folder / "standins"; }
    TempDir folder;
};

TEST_F(StandIns, AMissingToolBecomesALinkToItsStandIn) {
    EXPECT_TRUE(SimulatedHost::installStandIn("/usr/bin/pmset", root(), standIns()));
    EXPECT_EQ(std::filesystem::read_symlink(root() / "usr/bin/pmset"), standIns() / "pmset");
    EXPECT_TRUE(SimulatedHost::installStandIn("/usr/bin/pmset", root(), standIns()));
}

TEST_F(StandIns, WhatIsAlreadyThereIsKeptAndADanglingLinkReplaced) {
    writeFile(root() / "usr/bin/pmset", "a test's own pmset");
    EXPECT_TRUE(SimulatedHost::installStandIn("/usr/bin/pmset", root(), standIns()));
    EXPECT_EQ(contents(root() / "usr/bin/pmset"), "a test's own pmset");

    std::filesystem::remove(root() / "usr/bin/pmset");
    std::filesystem::create_symlink(folder / "old-build/pmset", root() / "usr/bin/pmset");
    EXPECT_TRUE(SimulatedHost::installStandIn("/usr/bin/pmset", root(), standIns()));
    EXPECT_EQ(std::filesystem::read_symlink(root() / "usr/bin/pmset"), standIns() / "pmset");
}

TEST_F(StandIns, NothingIsInstalledWithoutAStandInOrOutsideTheMachine) {
    EXPECT_FALSE(SimulatedHost::installStandIn("/usr/bin/mdfind", root(), standIns()));
    EXPECT_FALSE(std::filesystem::exists(root() / "usr/bin/mdfind"));
    EXPECT_FALSE(std::filesystem::is_symlink(root() / "usr/bin/mdfind"));
    EXPECT_FALSE(SimulatedHost::installStandIn("/opt/tools/pmset", root(), standIns()));
    EXPECT_FALSE(std::filesystem::exists(root() / "opt"));
    for (const char* inside : {"/Applications/X.app/Contents/MacOS/pmset", "/Volumes/Disk/pmset", "/Library/pmset"}) {
        EXPECT_FALSE(SimulatedHost::installStandIn(inside, root(), standIns())) << inside;
        EXPECT_FALSE(std::filesystem::is_symlink(SimulatedHost::hostPath(inside, root()))) << inside;
    }
}

// --- userName

// A process nobody started as someone else runs as the person, whatever
// its environment says.
TEST(SimulatedHostUser, ThePersonRunsUnlessSudoSaysOtherwise) {
    ::setenv("LUMRA_SIM_USER", "root", 1);
    EXPECT_EQ(SimulatedHost::userName(), Platform::Accounts::person().name);
    EXPECT_FALSE(SimulatedHost::runsAsRoot());
    ::unsetenv("LUMRA_SIM_USER");
}

// --- readTimeRate

TEST(SimulatedHostTimeRate, MissingClockFileRunsInRealTime) {
    TempDir folder;
    EXPECT_EQ(SimulatedHost::readTimeRate(folder.path()), 1.0);
}

TEST(SimulatedHostTimeRate, PositiveRateIsTaken) {
    TempDir folder;
    for (auto [text, rate] : std::vector<std::pair<const char*, double>>{
             {"{\"rate\":1000}", 1000}, {"{\"rate\": 2.5}\n", 2.5}, {"{\"rate\":0.5}", 0.5}, {"{\"rate\":1}", 1}}) {
        writeFile(folder / "clock.json", text);
        EXPECT_EQ(SimulatedHost::readTimeRate(folder.path()), rate) << text;
    }
}

TEST(SimulatedHostTimeRate, AnythingButAPositiveNumberRunsInRealTime) {
    TempDir folder;
    for (const char* text : {"{\"rate\":0}", "{\"rate\":-5}", "{\"rate\":-0.001}", "{\"rate\":\"1000\"}",
                             "{\"rate\":true}", "{\"rate\":null}", "{\"rate\":[1000]}", "{\"rate\":1e999}", "{}",
                             "[1000]", "1000", "{\"rate\":1000", "", "not json"}) {
        writeFile(folder / "clock.json", text);
        EXPECT_EQ(SimulatedHost::readTimeRate(folder.path()), 1.0) << text;
    }
}

} // namespace
