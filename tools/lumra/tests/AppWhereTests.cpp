// `lumra app where` from copies of the app placed in every kind of folder.

#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

TEST(AppWhere, EveryKindOfFolderHasItsWords) {
    TestSupport::TempDir home, scratch;
    fs::path root = scratch / "machine";
    fs::path built = fs::canonical(LUMRA_EXE);
    // The bundle's Info.plist and its lumra are all a copy needs to know
    // where it runs from.
    auto place = [&](const fs::path& app) {
        fs::create_directories(app / "Contents/MacOS");
        fs::copy_file(built.parent_path().parent_path() / "Info.plist", app / "Contents/Info.plist");
        fs::copy_file(built, app / "Contents/MacOS/lumra");
        return app / "Contents/MacOS/lumra";
    };
    fs::create_directories(root);
    const std::pair<fs::path, std::string> cases[] = {
        {place(root / "Applications/Lumra.app"), "Applications"},
        {place(home / "Applications/Lumra.app"), "your own Applications folder"},
        {place(root / "Volumes/Lumra 1.0/Lumra.app"), "the disk image"},
        {place(home / "private/AppTranslocation/1A2B/d/Lumra.app"), "a copy macOS made of the download"},
        {place(home / "Downloads/Lumra.app"), "~/Downloads"},
        {place(scratch / "Elsewhere/Lumra.app"), (scratch / "Elsewhere").string()},
        {built, fs::canonical(built.parent_path().parent_path().parent_path().parent_path()).string()},
    };
    std::map<std::string, std::string> environment{{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root.string()}};
    for (const auto& [program, words] : cases) {
        auto finished = TestSupport::runProcess(program, {"app", "where"}, environment);
        EXPECT_EQ(finished.status, 0) << program;
        EXPECT_EQ(finished.out, words + "\n") << program;
    }

    fs::copy_file(built, scratch / "lumra");
    EXPECT_EQ(TestSupport::runProcess(scratch / "lumra", {"app", "where"}, environment).out,
              "a bare build, outside any app\n");
    auto wrong = TestSupport::runProcess(built, {"app", "here"}, environment);
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.err.substr(0, wrong.err.find('\n')), "lumra app: unknown command: here");
}

} // namespace
