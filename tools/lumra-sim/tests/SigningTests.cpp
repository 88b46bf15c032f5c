// lumra-sim's bundles and signatures, and the build's own signed bundle.

#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

class SimBundles : public testing::Test {
protected:
    TestSupport::Finished sim(const std::vector<std::string>& arguments) {
        return TestSupport::runProcess(LUMRA_SIM_EXE, arguments,
                                       {{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root().string()}});
    }
    fs::path root() const { return scratch / "machine"; }

    TestSupport::TempDir home;
    TestSupport::TempDir scratch;
};

TEST_F(SimBundles, MakeLaysOutABundleWithJobsAndExtensions) {
    auto made = sim({"bundle", "make", "/Applications/Tool.app", "--identifier", "test.tool", "--name", "Tool Name",
                     "--version", "2.1", "--agent", "test.tool.agent.plist", "--daemon", "test.tool.daemon.plist",
                     "--extension", "Widget=test.tool.widget"});
    ASSERT_EQ(made.status, 0) << made.err;
    fs::path app = root() / "Applications/Tool.app";
    EXPECT_EQ(made.out, app.string() + "\n");
    for (const char* file :
         {"Contents/Info.plist", "Contents/MacOS/Tool", "Contents/Library/LaunchAgents/test.tool.agent.plist",
          "Contents/Library/LaunchDaemons/test.tool.daemon.plist", "Contents/PlugIns/Widget.appex/Contents/Info.plist",
          "Contents/PlugIns/Widget.appex/Contents/MacOS/Widget"})
        EXPECT_TRUE(fs::exists(app / file)) << file;
    std::string info = TestSupport::contents(app / "Contents/Info.plist");
    for (const char* text : {"<string>test.tool</string>", "<string>Tool Name</string>", "<string>2.1</string>"})
        EXPECT_NE(info.find(text), std::string::npos) << text;
    EXPECT_NE(TestSupport::contents(app / "Contents/Library/LaunchAgents/test.tool.agent.plist")
                  .find("<string>test.tool.agent</string>"),
              std::string::npos);

    EXPECT_EQ(sim({"sign", "--verify", "/Applications/Tool.app"}).out, "code object is not signed at all\n");
    EXPECT_EQ(sim({"sign", "/Applications/Tool.app", "--adhoc"}).status, 0);
    auto verified = sim({"sign", "--verify", "/Applications/Tool.app"});
    EXPECT_EQ(verified.status, 0);
    EXPECT_EQ(verified.out, "valid\n");
    EXPECT_TRUE(fs::exists(app / "Contents/PlugIns/Widget.appex/Contents/_CodeSignature/signature.json"));
}

TEST_F(SimBundles, UsageErrors) {
    for (auto arguments : {std::vector<std::string>{"bundle", "make", "/Applications/Tool.app"},
                           std::vector<std::string>{"bundle", "make", "Tool", "--identifier", "x"},
                           std::vector<std::string>{"bundle", "make", "T.app", "--identifier", "x", "--agent", "a/b"},
                           std::vector<std::string>{"sign", "T.app"},
                           std::vector<std::string>{"sign", "T.app", "--adhoc", "--identity", "X"}}) {
        auto finished = sim(arguments);
        EXPECT_EQ(finished.status, 64) << arguments.back();
        EXPECT_NE(finished.err.find("lumra-sim sign APP"), std::string::npos);
    }
    auto missing = sim({"sign", (scratch / "None.app").string(), "--adhoc"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "lumra-sim sign: " + (scratch / "None.app").string() +
                               ": not a bundle (no readable Contents/Info.plist)\n");
}

// The build's bundle is signed by the project, lumra-app is its main
// program, and a one-byte change anywhere in a copy names that file.
TEST_F(SimBundles, TheBuildsBundleIsSignedWhole) {
    fs::path copy = scratch / "Lumra.app";
    fs::copy(LUMRA_APP_DIR, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    auto verified = sim({"sign", "--verify", copy.string()});
    ASSERT_EQ(verified.out, "valid\n");
    std::string info = TestSupport::contents(copy / "Contents/Info.plist");
    EXPECT_NE(info.find("<key>CFBundleExecutable</key>\n\t<string>lumra-app</string>"), std::string::npos);
    EXPECT_NE(info.find("<key>CFBundleName</key>\n\t<string>Lumra</string>"), std::string::npos);
    std::string signature = TestSupport::contents(copy / "Contents/_CodeSignature/signature.json");
    EXPECT_NE(signature.find("\"Developer ID Application: Lumra Project (LUMRA00001)\""), std::string::npos);
    EXPECT_NE(signature.find("\"team\": \"LUMRA00001\""), std::string::npos);

    for (const char* file : {"Contents/MacOS/lumra-app", "Contents/Info.plist",
                             "Contents/Helpers/lumra-notifier.app/Contents/MacOS/lumra-notifier"}) {
        fs::path path = copy / file;
        std::string bytes = TestSupport::contents(path);
        std::string changed = bytes;
        changed[changed.size() / 2] ^= 1;
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        TestSupport::writeFile(path, changed);
        EXPECT_EQ(sim({"sign", "--verify", copy.string()}).out, std::string("file modified: ") + file + "\n");
        TestSupport::writeFile(path, bytes);
    }
}

} // namespace
