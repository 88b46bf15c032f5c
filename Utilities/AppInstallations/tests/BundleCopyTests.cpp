// Copying a bundle into place: a whole copy or nothing at the destination.

#include <AppInstallations/BundleCopy.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using AppInstallation::copyBundle;

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

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

TEST(BundleCopy, AWholeCopyWithLinksAndModes) {
    TestSupport::TempDir scratch;
    makeBundle(scratch / "Lumra.app");
    fs::create_directory(scratch / "Applications");

    EXPECT_EQ(copyBundle(scratch / "Lumra.app", scratch / "Applications/Lumra.app"), std::nullopt);
    fs::path copy = scratch / "Applications/Lumra.app";
    EXPECT_EQ(TestSupport::entries(scratch / "Applications"), std::vector<std::string>{"Lumra.app"});
    EXPECT_EQ(TestSupport::contents(copy / "Contents/Info.plist"), "<plist/>");
    for (const char* part : {"", "Contents/MacOS/tool", "Contents/Private", "Contents/MacOS"})
        EXPECT_EQ(modeOf(copy / part), modeOf(scratch / "Lumra.app" / part)) << part;
    EXPECT_EQ(fs::read_symlink(copy / "Contents/Private/Tools"), "../MacOS");
    EXPECT_EQ(fs::read_symlink(copy / "Contents/dangling"), "missing");
}

TEST(BundleCopy, AFailedCopyLeavesNothing) {
    struct Case {
        std::string what;
        std::function<void(const fs::path& scratch)> setUp;
        std::string error;
    } const cases[] = {
        {"a link to nothing already there",
         [](const fs::path& scratch) { fs::create_symlink("elsewhere", scratch / "Applications/Lumra.app"); },
         "File exists"},
        {"a part that is no file, folder or link",
         [](const fs::path& scratch) { ASSERT_EQ(::mkfifo((scratch / "Lumra.app/Contents/pipe").c_str(), 0600), 0); },
         "Invalid argument"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestSupport::TempDir scratch;
        makeBundle(scratch / "Lumra.app");
        fs::create_directory(scratch / "Applications");
        c.setUp(scratch.path());
        auto before = TestSupport::entries(scratch / "Applications");

        EXPECT_EQ(copyBundle(scratch / "Lumra.app", scratch / "Applications/Lumra.app"), c.error);
        EXPECT_EQ(TestSupport::entries(scratch / "Applications"), before);
    }
}

TEST(BundleCopy, HiddenCopiesOfKilledMovesGo) {
    TestSupport::TempDir scratch;
    makeBundle(scratch / "Lumra.app");
    fs::path folder = scratch / "Applications";
    for (const char* name : {".Lumra.app.k1LLed", ".Lumra.app.busy12", ".Lumra.app.longer1", ".Other.app.k1LLed"})
        TestSupport::writeFile(folder / name / "Contents/Info.plist", "<plist/>");
    // A move still copying holds its folder's lock.
    int busy = ::open((folder / ".Lumra.app.busy12").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);

    EXPECT_EQ(copyBundle(scratch / "Lumra.app", folder / "Lumra.app"), std::nullopt);
    EXPECT_EQ(TestSupport::entries(folder),
              (std::vector<std::string>{".Lumra.app.busy12", ".Lumra.app.longer1", ".Other.app.k1LLed", "Lumra.app"}));
    ::close(busy);
}

} // namespace
