// The installation home and the small shared operations, table by table.

#include <AppInstallations/AppInstallation.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/SimulationRoot.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

namespace {

using namespace AppInstallation;

[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

TEST(Home, EveryOriginHasItsPlaceAndWords) {
    TestSupport::ScopedEnvironment home{{"HOME", "/Users/alice"}};
    struct Case {
        std::optional<std::string> bundle;
        Home expected;
        std::string words;
    };
    const Case cases[] = {
        {"/Applications/Lumra.app", {Home::Installed{Scope::everyone}}, "Applications"},
        {"/Applications//Lumra.app/", {Home::Installed{Scope::everyone}}, "Applications"},
        {"/Users/alice/Applications/Lumra.app", {Home::Installed{Scope::me}}, "your own Applications folder"},
        {"/Volumes/Lumra/Lumra.app",
         {Home::Elsewhere{"/Volumes/Lumra/Lumra.app", Home::Origin::diskImage}},
         "the disk image"},
        {"/private/var/folders/x/AppTranslocation/ABC/d/Lumra.app",
         {Home::Elsewhere{"/private/var/folders/x/AppTranslocation/ABC/d/Lumra.app", Home::Origin::translocated}},
         "a copy macOS made of the download"},
        {"/Users/alice/Downloads/Lumra.app",
         {Home::Elsewhere{"/Users/alice/Downloads/Lumra.app", Home::Origin::folder}},
         "~/Downloads"},
        {"/Users/alice/Lumra.app", {Home::Elsewhere{"/Users/alice/Lumra.app", Home::Origin::folder}}, "~"},
        {"/Users/alicia/Lumra.app",
         {Home::Elsewhere{"/Users/alicia/Lumra.app", Home::Origin::folder}},
         "/Users/alicia"},
        {"/Applications/Sub/Lumra.app",
         {Home::Elsewhere{"/Applications/Sub/Lumra.app", Home::Origin::folder}},
         "/Applications/Sub"},
        {std::nullopt, {Home::NoBundle{}}, "a bare build, outside any app"},
    };
    for (const auto& c : cases) {
        Home home = homeOf(c.bundle);
        EXPECT_EQ(home, c.expected) << c.bundle.value_or("none");
        EXPECT_EQ(home.words(), c.words) << c.bundle.value_or("none");
    }
}

TEST(Home, ScopesNameTheirFoldersAndWords) {
    TestSupport::ScopedEnvironment home{{"HOME", "/Users/alice/"}};
    EXPECT_EQ(folder(Scope::everyone), "/Applications");
    EXPECT_EQ(folder(Scope::me), "/Users/alice/Applications");
    EXPECT_EQ(words(Scope::everyone), "For Everyone on This Mac");
    EXPECT_EQ(words(Scope::me), "Just for Me");
}

TEST(AppAround, TheOutermostBundleWins) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/Applications/Main.app/Contents/Library/LoginItems/Inner.app/Contents/MacOS/Inner", "/Applications/Main.app"},
        {"/Applications/Main.app", "/Applications/Main.app"},
        {"/Users/a/build/Lumra.app/Contents/MacOS/lumra", "/Users/a/build/Lumra.app"},
        {"/usr/local/bin/lumra", std::nullopt},
        {"/opt/.app/bin/x", std::nullopt},
        {"relative/X.app/Contents", "relative/X.app"},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(app(path), expected) << path;
}

TEST(AppArguments, InstallationSwitchesGoWithTheirValues) {
    using List = std::vector<std::string>;
    const std::pair<List, List> cases[] = {
        {{"-x", "--app-installation-turn-on", "login-item", "y"}, {"-x", "y"}},
        {{"--app-installation-stale", "/old", "--app-installation-forget", "/gone"}, {}},
        {{"a", "--app-installation-forget"}, {"a"}},
        {{"--app-installation-turn-on", "--app-installation-stale", "z"}, {"z"}},
        {{"-x", "y"}, {"-x", "y"}},
        {{}, {}},
    };
    for (const auto& [arguments, kept] : cases) {
        EXPECT_EQ(appArguments(arguments), kept);
        EXPECT_EQ(isInstallationLaunch(arguments), kept.size() < arguments.size());
    }
}

TEST(PlainIdentifier, OnlyWhatCanNameOneFolder) {
    for (std::string_view plain : {"app.lumra.service", "a-b.C9", "x"}) EXPECT_TRUE(isPlainIdentifier(plain)) << plain;
    for (std::string_view notPlain : {"", ".", "..", ".hidden", "a/b", "../x", "a b", "it's", "a\nb", "é"})
        EXPECT_FALSE(isPlainIdentifier(notPlain)) << notPlain;
}

TEST(SignerName, SubjectSummariesGiveTheCommonName) {
    const std::pair<std::string, std::string> cases[] = {
        {"Developer ID Application: Example Maker (AB12CD34EF)", "Example Maker"},
        {"Apple Development: Jo Doe (Z9)  ", "Jo Doe"},
        {"Example Maker (AB12CD34EF)", "Example Maker"},
        {"Plain Name", "Plain Name"},
        {"Developer ID Application: Maker (lower)", "Maker (lower)"},
        {"A: B: C (X1)", "B: C"},
    };
    for (const auto& [summary, name] : cases) EXPECT_EQ(signerNameOf(summary), name) << summary;
}

// The test program itself is a bare build: no bundle, no copy, no signer,
// and its name from the process.
TEST(Home, ABareBuildHasNoBundle) {
    EXPECT_EQ(bundle(), std::nullopt);
    EXPECT_EQ(home(), Home{Home::NoBundle{}});
    EXPECT_EQ(installedCopy({Scope::everyone, Scope::me}), std::nullopt);
    EXPECT_EQ(signerName(), std::nullopt);
    EXPECT_EQ(displayName(), "AppInstallations_tests");
}

// A program inside a real bundle, signed or not, with and without another
// copy in an Applications folder.
TEST(Identity, FromARealBundle) {
    TestSupport::TempDir home, root;
    std::map<std::string, std::string> environment{{"HOME", home.path().string()},
                                                   {"LUMRA_SIM_ROOT", root.path().string()}};
    auto sim = [&](const std::vector<std::string>& arguments) {
        auto finished = TestSupport::runProcess(LUMRA_SIM_EXE, arguments, environment);
        EXPECT_EQ(finished.status, 0) << finished.err;
    };
    std::string app = (home / "Downloads/Probe.app").string();
    sim({"bundle", "make", app, "--identifier", "test.probe", "--name", "Probe Name", "--program", PROBE_EXE});
    auto identity = [&] {
        return TestSupport::runProcess(home / "Downloads/Probe.app/Contents/MacOS/Probe", {"identity"}, environment)
            .out;
    };
    EXPECT_EQ(identity(), "~/Downloads\nProbe Name\n(unsigned)\n(no copy)\nrunning here only\n");

    sim({"sign", app, "--identity", "Developer ID Application: Example Maker (AB12CD34EF)"});
    sim({"bundle", "make", "/Applications/Probe.app", "--identifier", "test.probe", "--no-program"});
    EXPECT_EQ(identity(), "~/Downloads\nProbe Name\nExample Maker\n/Applications/Probe.app\nrunning here only\n");

    sim({"sign", app, "--adhoc"});
    EXPECT_EQ(identity(), "~/Downloads\nProbe Name\n(unsigned)\n/Applications/Probe.app\nrunning here only\n");
}

} // namespace
