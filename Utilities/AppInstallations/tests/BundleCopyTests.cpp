// Copying a bundle into place: a whole copy or nothing at the destination.

#include <AppInstallations/BundleCopy.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestSupport::modeOf;

namespace fs = std::filesystem;
using AppInstallation::copyBundle;

// A small bundle with the kinds of things bundles hold.
void makeBundle(const fs::path& app) {
    TestSupport::writeFile(app / "Contents/Info.plist", "<plist/>");
    TestSupport::writeFile(app / "Contents/MacOS/tool", "#!/bin/sh\n");
    fs::permissions(app / "Contents/MacOS/tool", fs::perms(0755));
    fs::create_directories(app / "Contents/Private");
    fs::permissions(app / "Contents/Private", fs::perms(0700));
    fs::create_directory_symlink("../MacOS", app / "Contents/Private/Tools");
    fs::create_symlink("missing", app / "Contents/dangling");
    fs::permissions(app, fs::perms(0750));
}

// A scratch folder with a small bundle and an Applications folder beside it.
struct BundleCopy : testing::Test {
    BundleCopy() {
        makeBundle(app);
        fs::create_directory(folder);
    }
    TestSupport::TempDir scratch;
    fs::path app = scratch / "Lumra.app", folder = scratch / "Applications";
};

TEST_F(BundleCopy, AWholeCopyWithLinksAndModes) {
    EXPECT_EQ(copyBundle(app, folder / "Lumra.app"), std::nullopt);
    fs::path copy = folder / "Lumra.app";
    EXPECT_EQ(TestSupport::entries(folder), std::vector<std::string>{"Lumra.app"});
    EXPECT_EQ(TestSupport::contents(copy / "Contents/Info.plist"), "<plist/>");
    for (const char* part : {"", "Contents/MacOS/tool", "Contents/Private", "Contents/MacOS"})
        EXPECT_EQ(modeOf(copy / part), modeOf(app / part)) << part;
    EXPECT_EQ(fs::read_symlink(copy / "Contents/Private/Tools"), "../MacOS");
    EXPECT_EQ(fs::read_symlink(copy / "Contents/dangling"), "missing");
}

// A part that cannot be copied leaves nothing either: see lumra app move's
// refusals.
TEST_F(BundleCopy, AFailedCopyLeavesNothing) {
    fs::create_symlink("elsewhere", folder / "Lumra.app"); // a link to nothing already there
    EXPECT_EQ(copyBundle(app, folder / "Lumra.app"), "File exists");
    EXPECT_EQ(TestSupport::entries(folder), std::vector<std::string>{"Lumra.app"});
    EXPECT_EQ(fs::read_symlink(folder / "Lumra.app"), "elsewhere");
}

TEST_F(BundleCopy, HiddenCopiesOfKilledMovesGo) {
    for (const char* name : {".Lumra.app.k1LLed", ".Lumra.app.busy12", ".Lumra.app.longer1", ".Other.app.k1LLed"})
        TestSupport::writeFile(folder / name / "Contents/Info.plist", "<plist/>");
    // A move still copying holds its folder's lock.
    int busy = ::open((folder / ".Lumra.app.busy12").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);

    EXPECT_EQ(copyBundle(app, folder / "Lumra.app"), std::nullopt);
    EXPECT_EQ(TestSupport::entries(folder),
              (std::vector<std::string>{".Lumra.app.busy12", ".Lumra.app.longer1", ".Other.app.k1LLed", "Lumra.app"}));
    ::close(busy);
}

} // namespace
