// The app window's own parts off the screen: the first-run memory, the lid
// grant read from the sudoers drop-in, the status kept only when it
// changed, and log lines sent to a file.

#include "FirstRun.hpp"
#include "LidGrant.hpp"
#include "LogFile.hpp"
#include "ServiceStatus.hpp"

#include <Log/Output.hpp>
#include <Log/Writer.hpp>
#include <Platform/UserDefaults.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

using LumraApp::LidGrant;
using LumraApp::ServiceStatus;
using PermissionGrants::Standing;
using TestSupport::modeOf;
using TestSupport::contents;
using TestSupport::writeFile;

const std::string aliceRule =
    "alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n";

class FirstRun : public testing::Test {
protected:
    TestSupport::TempDir home;
    TestSupport::ScopedEnvironment environment{{"HOME", home.path().c_str()}};
    const std::string domain = "app.lumra.test";
};

TEST_F(FirstRun, OnlyATrueKeyCountsAsOnboarded) {
    EXPECT_FALSE(LumraApp::FirstRun::onboarded(domain)); // a fresh home
    const std::string key(LumraApp::FirstRun::onboardedKey);
    EXPECT_EQ(key, "LumraApp.onboarded");
    struct Case {
        Platform::PropertyValue stored;
        bool onboarded;
    };
    for (const auto& [stored, onboarded] : std::vector<Case>{
             {Platform::PropertyValue(true), true},
             {Platform::PropertyValue(false), false},
             {Platform::PropertyValue("true"), false},
             {Platform::PropertyValue(1), false},
         }) {
        ASSERT_TRUE(Platform::UserDefaults::write(domain, key, stored));
        EXPECT_EQ(LumraApp::FirstRun::onboarded(domain), onboarded);
    }
}

TEST_F(FirstRun, IsRememberedInTheAppsDefaultsAcrossReads) {
    ASSERT_TRUE(LumraApp::FirstRun::rememberOnboarded(domain));
    EXPECT_TRUE(LumraApp::FirstRun::onboarded(domain));
    EXPECT_TRUE(std::filesystem::exists(home / "Library/Preferences/app.lumra.test.plist"));
    // Other keys of the domain are kept, and another domain knows nothing.
    ASSERT_TRUE(Platform::UserDefaults::write(domain, "other", Platform::PropertyValue(7)));
    EXPECT_TRUE(LumraApp::FirstRun::onboarded(domain));
    EXPECT_FALSE(LumraApp::FirstRun::onboarded("app.lumra.other"));
    // A damaged file reads as a first run again; nothing crashes.
    writeFile(home / "Library/Preferences/app.lumra.test.plist", "not a property list");
    EXPECT_FALSE(LumraApp::FirstRun::onboarded(domain));
    EXPECT_FALSE(LumraApp::FirstRun::rememberOnboarded("../escape"));
}

class LidGrantTest : public testing::Test {
protected:
    TestSupport::TempDir dir;
    std::filesystem::path dropIn = dir / "etc/sudoers.d/lumra";
};

TEST_F(LidGrantTest, StandsGoodOnlyWithTheExactRuleForThePerson) {
    const std::string different =
        "The sudoers grant in place does not fit: sudoers reads the drop-in as a different grant than intended.";
    struct Case {
        std::optional<std::string> dropIn;
        Standing standing;
    };
    for (const auto& [text, standing] : std::vector<Case>{
             {std::nullopt, Standing::askable("Show Command")},
             {aliceRule, Standing::good()},
             {"bob ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n",
              Standing::askable("Show Command", different)},
             {"alice ALL=(root) NOPASSWD: ALL\n", Standing::askable("Show Command", different)},
             {"", Standing::askable("Show Command", different)},
             {"alice is allowed everything\n",
              Standing::askable("Show Command",
                                "The sudoers grant in place does not fit: sudoers cannot parse the drop-in.")},
             {std::string(70 * 1024, 'a'), Standing::askable("Show Command")},
         }) {
        std::filesystem::remove(dropIn);
        if (text) writeFile(dropIn, *text);
        LidGrant lid(dropIn, "alice");
        EXPECT_EQ(lid.standing(), standing) << text.value_or("(none)").substr(0, 80);
        EXPECT_EQ(lid.grant([] {}).standing(), standing);
    }
}

TEST_F(LidGrantTest, TheGrantSaysWhatItIsAndItsActionShowsTheCommand) {
    LidGrant lid(dropIn, "alice");
    int shown = 0;
    auto grant = lid.grant([&] { ++shown; });
    EXPECT_EQ(grant.title, "Sleep with the lid closed");
    EXPECT_EQ(grant.why, "Lets lumrad keep this Mac awake with its lid closed. An admin allows it once, in a terminal.");
    EXPECT_FALSE(grant.required);
    EXPECT_EQ(LidGrant::command, "sudo lumra grant");
    const auto& custom = std::get<PermissionGrants::PermissionGrant::Kind::Custom>(grant.kind.value);
    custom.act();
    EXPECT_EQ(shown, 1);
}

TEST_F(LidGrantTest, ARecheckNoticesTheDropInInstalledElsewhereAndTellsObservers) {
    LidGrant lid(dropIn, "alice");
    auto grant = lid.grant([] {});
    int heard = 0;
    PermissionGrants::withObservationTracking([&] { (void)grant.standing(); }, [&] { ++heard; });
    EXPECT_FALSE(lid.recheck()); // nothing changed: nobody is told
    EXPECT_EQ(heard, 0);
    writeFile(dropIn, aliceRule); // `sudo lumra grant` in another terminal
    EXPECT_TRUE(lid.recheck());
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(grant.standing(), Standing::good()); // copies share the reading
    EXPECT_FALSE(lid.recheck());
    std::filesystem::remove(dropIn);
    EXPECT_TRUE(lid.recheck());
    EXPECT_EQ(lid.standing(), Standing::askable("Show Command"));
    EXPECT_EQ(heard, 1); // a tracking fires once
}

TEST(ServiceStatusTest, KeepsTheTextAndSaysChangedOnlyWhenItDiffers) {
    std::vector<std::string> answers{"State: idle\n", "State: idle\n", "State: holding\n",
                                     "lumra: the service is not running (start lumrad)\n",
                                     "lumra: the service is not running (start lumrad)\n"};
    size_t asked = 0;
    ServiceStatus status([&] { return answers.at(asked++); });
    EXPECT_EQ(status.text(), std::nullopt);
    std::vector<bool> changed;
    for (size_t i = 0; i < answers.size(); ++i) changed.push_back(status.refresh());
    EXPECT_EQ(changed, (std::vector<bool>{true, false, true, true, false}));
    EXPECT_EQ(status.text(), "lumra: the service is not running (start lumrad)\n");
}

TEST(ServiceStatusTest, AsksTheWayLumraDoesAndSaysWhenTheServiceIsNotRunning) {
    TestSupport::TempDir home;
    // A child process: the paths are fixed at their first use.
    EXPECT_EXIT(
        {
            ::setenv("HOME", home.path().c_str(), 1);
            ::setenv("LUMRA_SIM_ROOT", (home / "machine").c_str(), 1);
            std::string text = ServiceStatus::askTheService();
            std::exit(text == "lumra: the service is not running (start lumrad)\n" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(WindowLogFile, LogLinesGoToThePrivateFileNotTheTerminal) {
    TestSupport::TempDir home;
    // A test is a bare build: the development folder.
    auto file = home / "Library/Logs/lumra-dev/app.log";
    EXPECT_EXIT(
        {
            ::setenv("HOME", home.path().c_str(), 1);
            ::setenv("LUMRA_SIM_ROOT", (home / "machine").c_str(), 1);
            if (LumraApp::windowLogFile() != file) std::exit(2);
            if (!LumraApp::sendLogLinesTo(file)) std::exit(3);
            Log::log.scope("install").warn("app started", [] { return Log::Fields{{"pid", int64_t{42}}}; });
            std::fputs("stray\n", stderr);
            Log::flushLog();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^$");
    std::string text = contents(file);
    EXPECT_NE(text.find("\"msg\":\"app started\""), std::string::npos) << text;
    EXPECT_NE(text.find("stray\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1B'), std::string::npos) << "no colour in a file";
    EXPECT_EQ(modeOf(file.parent_path()), 0700u);
    EXPECT_EQ(modeOf(file), 0600u);
}

TEST(WindowLogFile, AFileThatCannotBeOpenedLeavesStandardErrorAlone) {
    TestSupport::TempDir dir;
    writeFile(dir / "not-a-folder", "");
    EXPECT_EXIT(
        {
            bool moved = LumraApp::sendLogLinesTo(dir / "not-a-folder/app.log");
            std::fputs("still here\n", stderr);
            std::exit(moved ? 1 : 0);
        },
        testing::ExitedWithCode(0), "still here");
}

} // namespace
