// Moving items to the Trash of the simulated Mac.

#include <Platform/ProcessTable.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>
#include <Platform/Trash.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace Platform;

TEST(TrashName, NumbersGoBeforeTheExtension) {
    const std::tuple<std::string, int, std::string> cases[] = {
        {"Lumra.app", 1, "Lumra.app"}, {"Lumra.app", 2, "Lumra 2.app"}, {"Lumra.app", 10, "Lumra 10.app"},
        {"notes", 3, "notes 3"},       {"a.tar.gz", 2, "a.tar 2.gz"},   {".hidden", 2, ".hidden 2"},
    };
    for (const auto& [name, n, expected] : cases) EXPECT_EQ(Trash::trashName(name, n), expected);
}

class TrashTest : public testing::Test {
protected:
    std::string moved(const std::string& macPath) {
        auto result = Trash::moveToTrash(macPath);
        if (const auto* failure = std::get_if<Trash::Failure>(&result)) return "failed: " + failure->text;
        return std::get<std::string>(result);
    }
    TestSupport::TempDir home;
    TestSupport::ScopedEnvironment environment{{"HOME", home.path().c_str()}};
};

TEST_F(TrashTest, ItemsGetFreeNamesInTheirTrash) {
    std::string downloads = (home / "Downloads").string();
    std::string trash = (home / ".Trash").string();
    for (int i = 1; i <= 3; ++i) {
        TestSupport::writeFile(home / "Downloads/Lumra.app/Contents/Info.plist", std::to_string(i));
        fs::create_symlink("Info.plist", home / "Downloads/Lumra.app/Contents/link");
        EXPECT_EQ(moved(downloads + "/Lumra.app"), trash + "/" + Trash::trashName("Lumra.app", i));
    }
    EXPECT_EQ(TestSupport::contents(home / ".Trash/Lumra 3.app/Contents/Info.plist"), "3");
    EXPECT_TRUE(fs::is_symlink(home / ".Trash/Lumra 2.app/Contents/link"));
    EXPECT_FALSE(fs::exists(home / "Downloads/Lumra.app"));
    EXPECT_EQ(moved(downloads + "/Nothing.app"), "failed: No such file or directory");

    // An item on a volume goes to that volume's Trash, in the user's folder.
    TestSupport::writeFile(SimulatedHost::hostPath("/Volumes/Disk/Lumra.app/Contents/Info.plist"), "v");
    std::string uid = std::to_string(::getuid() == 0 ? 501 : ::getuid());
    EXPECT_EQ(moved("/Volumes/Disk/Lumra.app"), "/Volumes/Disk/.Trashes/" + uid + "/Lumra.app");
    EXPECT_TRUE(
        fs::exists(SimulatedHost::hostPath("/Volumes/Disk/.Trashes/" + uid + "/Lumra.app/Contents/Info.plist")));
}

// From the simulation root to a home on another file system the item is
// copied, links kept, then removed. Only where /dev/shm is another one.
TEST_F(TrashTest, AcrossFileSystemsTheItemIsCopiedThenRemoved) {
    struct statfs shm {
    }, tmp{};
    if (::statfs("/dev/shm", &shm) != 0 || ::statfs(home.path().c_str(), &tmp) != 0 || shm.f_type == tmp.f_type)
        GTEST_SKIP() << "no second file system";
    fs::path item = fs::path("/dev/shm") / ("trash-test-" + std::to_string(::getpid()));
    TestSupport::writeFile(item / "Contents/Info.plist", "x");
    fs::create_symlink("Info.plist", item / "Contents/link");
    EXPECT_EQ(moved(item.string()), (home / ".Trash" / item.filename()).string());
    EXPECT_FALSE(fs::exists(item));
    EXPECT_TRUE(fs::is_symlink(home / ".Trash" / item.filename() / "Contents/link"));
}

TEST(ExecutablePath, TheMacOSViewOfRunningPrograms) {
    auto own = ProcessTable::executablePath(::getpid());
    ASSERT_TRUE(own);
    EXPECT_EQ(*own, fs::canonical("/proc/self/exe").string());
    auto pids = ProcessTable::processIDs();
    ASSERT_TRUE(pids);
    EXPECT_NE(std::find(pids->begin(), pids->end(), ::getpid()), pids->end());
    EXPECT_EQ(ProcessTable::executablePath(0), std::nullopt);
}

// A program run from the simulation root is seen in the macOS view, also
// through a link to the root; once its file is deleted it reads as unreadable.
TEST(ExecutablePath, ProgramsUnderTheRootAndDeletedOnes) {
    TestSupport::TempDir folder;
    fs::path root = folder / "machine";
    fs::create_directories(root / "Applications/Sleep.app/Contents/MacOS");
    fs::path program = root / "Applications/Sleep.app/Contents/MacOS/Sleep";
    fs::copy_file("/bin/sleep", program);
    fs::create_directory_symlink(root, folder / "link");
    auto started = startProgram(program.string(), {"5"}, std::nullopt, root);
    ASSERT_TRUE(std::holds_alternative<pid_t>(started));
    pid_t pid = std::get<pid_t>(started);
    auto path = ProcessTable::executablePath(pid);
    ASSERT_TRUE(path);
    EXPECT_EQ(SimulatedHost::macPath(*path, folder / "link"), "/Applications/Sleep.app/Contents/MacOS/Sleep");
    fs::remove(program);
    EXPECT_EQ(ProcessTable::executablePath(pid), std::nullopt);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace
