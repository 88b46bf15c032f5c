// The real lumra-sim executable against a temporary simulation root.

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
    for (const char* folder : {"Applications", "Library", "System", "Volumes", "usr/bin", "bin", "etc/sudoers.d", "dev",
                               "notifications"})
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

TEST_F(LumraSim, AnythingElseIsAUsageError) {
    for (auto arguments : {std::vector<std::string>{}, std::vector<std::string>{"path"},
                           std::vector<std::string>{"reset"}}) {
        auto finished = sim(arguments);
        EXPECT_EQ(finished.status, 64);
        EXPECT_EQ(finished.err.rfind("usage: lumra-sim", 0), 0u) << finished.err;
    }
    EXPECT_EQ(sim({"--help"}).status, 0);
}

} // namespace
