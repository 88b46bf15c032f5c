// The kernel interface against the simulated machine's pmset and sudo
// stand-ins and its power manager.

#include "FlagGrant.hpp"

#include <LumraKit/Kernel.hpp>

#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using LumraKit::Kernel;
using LumraKit::LidResult;
using LumraKit::Mode;
using LumraKit::RunResult;
using testing::HasSubstr;
using TestSupport::writeFile;
namespace fs = std::filesystem;

class KernelTest : public testing::Test {
protected:
    void TearDown() override {
        FlagGrant::revoke();
        fs::remove_all(root / "power");
        fs::remove(root / "usr/bin/pmset"); // the next run links the stand-in again
    }

    void replacePmset(const std::string& script) const {
        fs::remove(root / "usr/bin/pmset");
        writeFile(root / "usr/bin/pmset", "#!/bin/sh\n" + script);
        ::chmod((root / "usr/bin/pmset").c_str(), 0755);
    }

    const fs::path& root = Platform::SimulatedHost::root();
    const std::string both = "/usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n";
};

// --- the flag

TEST_F(KernelTest, SleepDisabledReadsTheFlagThroughPmset) {
    EXPECT_FALSE(Kernel::sleepDisabled());
    Platform::Power::setSleepDisabled(true, root);
    EXPECT_TRUE(Kernel::sleepDisabled());
}

TEST_F(KernelTest, SleepDisabledLineDecidesByItsLastWord) {
    EXPECT_TRUE(Kernel::sleepDisabledIn("System-wide power settings:\n SleepDisabled\t\t1\n"));
    EXPECT_FALSE(Kernel::sleepDisabledIn("System-wide power settings:\n SleepDisabled 0\n"));
    EXPECT_FALSE(Kernel::sleepDisabledIn("Currently in use:\n sleep 1\n"));
    EXPECT_FALSE(Kernel::sleepDisabledIn(""));
    EXPECT_FALSE(Kernel::sleepDisabledIn(" SleepDisabled\n"));                     // no value after the name
    EXPECT_FALSE(Kernel::sleepDisabledIn(" SleepDisabled\t\t10\n"));               // "1" only, not a number
    EXPECT_TRUE(Kernel::sleepDisabledIn("\n\n SleepDisabled  1  \t\n"));           // blank lines and trailing blanks
    EXPECT_FALSE(Kernel::sleepDisabledIn(" SleepDisabled 0\n SleepDisabled 1\n")); // the first line counts
    EXPECT_TRUE(Kernel::sleepDisabledIn("xSleepDisabledy 1"));
}

TEST_F(KernelTest, AFailingPmsetReadsAsOffAndIsLogged) {
    replacePmset("printf ' SleepDisabled\\t\\t1\\n'; echo 'pmset: busy' >&2; exit 2\n");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Kernel::sleepDisabled());
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("Z pmset -g failed (2): pmset: busy;"));

    fs::remove(root / "usr/bin/pmset");
    fs::create_directories(root / "usr/bin/pmset"); // present, but nothing that can run
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Kernel::sleepDisabled());
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("pmset -g failed (-1): launch failed: "));
}

// A pmset that never ends is killed at the limit: a failed run, logged.
TEST_F(KernelTest, AHungToolIsKilledAtItsLimitAndCountsAsFailed) {
    replacePmset("echo partial; sleep 30\n");
    testing::internal::CaptureStderr();
    RunResult result = LumraKit::run("/usr/bin/pmset", {"-g"}, std::nullopt, std::chrono::milliseconds(200));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, (RunResult{-1, "partial\n", "timed out after 200 ms"}));
    EXPECT_THAT(log, HasSubstr("Z /usr/bin/pmset -g ran past 200 ms and was killed; the run counts as failed\n"));
    EXPECT_EQ(LumraKit::durationText(LumraKit::toolTimeLimit), "10 s");
    EXPECT_EQ(Kernel::lidResult(result), LidResult::failed("timed out after 200 ms"));
}

TEST_F(KernelTest, WithoutAGrantTheFlipIsGrantMissing) {
    EXPECT_EQ(Kernel::setSleepDisabled(true), LidResult::grantMissing());
    EXPECT_FALSE(Kernel::sleepDisabled());
}

TEST_F(KernelTest, WithTheGrantTheFlagFlipsBothWays) {
    FlagGrant::grant(both);
    EXPECT_EQ(Kernel::setSleepDisabled(true), LidResult::ok());
    EXPECT_TRUE(Kernel::sleepDisabled());
    EXPECT_EQ(Kernel::setSleepDisabled(false), LidResult::ok());
    EXPECT_FALSE(Kernel::sleepDisabled());
}

TEST_F(KernelTest, AGrantForOtherCommandsIsGrantMissing) {
    FlagGrant::grant("/usr/bin/pmset -a disablesleep 0\n");
    EXPECT_EQ(Kernel::setSleepDisabled(true), LidResult::grantMissing());
    EXPECT_FALSE(Kernel::sleepDisabled());
    EXPECT_EQ(Kernel::setSleepDisabled(false), LidResult::ok());
}

TEST_F(KernelTest, PmsetsOwnFailureIsFailedWithItsText) {
    FlagGrant::grant(both);
    replacePmset("echo '  Error: the power settings cannot be written ' >&2\nexit 1\n");
    EXPECT_EQ(Kernel::setSleepDisabled(true), LidResult::failed("Error: the power settings cannot be written"));
}

TEST_F(KernelTest, SudoFailuresAreClassifiedByTheirText) {
    EXPECT_EQ(Kernel::lidResult({0, "", "a password is required"}), LidResult::ok());
    for (const char* refusal : {"sudo: a password is required\n",
                                "Sorry, user alice is NOT ALLOWED to execute '/usr/bin/pmset' as root on mac.\n",
                                "Sorry, user alice May Not Run sudo on mac.\n", "sudo: A Password Is Required"})
        EXPECT_EQ(Kernel::lidResult({1, "", refusal}), LidResult::grantMissing()) << refusal;
    EXPECT_EQ(Kernel::lidResult({1, "", "\n pmset: boom \n"}), LidResult::failed("pmset: boom"));
    EXPECT_EQ(Kernel::lidResult({-1, "", "launch failed: No such file or directory"}),
              LidResult::failed("launch failed: No such file or directory"));
    EXPECT_EQ(Kernel::lidResult({3, "", ""}), LidResult::failed(""));
}

TEST(LidResult, EqualityLooksAtTheTextOfFailuresOnly) {
    EXPECT_EQ(LidResult::failed("a"), LidResult::failed("a"));
    EXPECT_NE(LidResult::failed("a"), LidResult::failed("b"));
    EXPECT_NE(LidResult::failed(""), LidResult::ok());
    EXPECT_NE(LidResult::ok(), LidResult::grantMissing());
    std::ostringstream text;
    text << LidResult::ok() << " " << LidResult::grantMissing() << " " << LidResult::failed("x");
    EXPECT_EQ(text.str(), "ok grantMissing failed(x)");
}

// --- assertions

TEST_F(KernelTest, AssertionsAreMadeAndReleased) {
    uint32_t idle = Kernel::createAssertion(Mode::idle);
    uint32_t display = Kernel::createAssertion(Mode::display);
    EXPECT_NE(idle, 0u);
    EXPECT_NE(display, 0u);
    EXPECT_NE(idle, display);

    auto held = Platform::Power::assertions(root);
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].id, idle);
    EXPECT_EQ(held[0].type, "PreventUserIdleSystemSleep");
    EXPECT_EQ(held[1].id, display);
    EXPECT_EQ(held[1].type, "PreventUserIdleDisplaySleep");
    for (const auto& assertion : held) {
        EXPECT_EQ(assertion.name, "lumra");
        EXPECT_EQ(assertion.level, 255);
        EXPECT_EQ(assertion.pid, ::getpid());
    }

    Kernel::releaseAssertion(idle);
    ASSERT_EQ(Platform::Power::assertions(root).size(), 1u);
    EXPECT_EQ(Platform::Power::assertions(root)[0].id, display);
    Kernel::releaseAssertion(display);
    EXPECT_TRUE(Platform::Power::assertions(root).empty());
}

TEST_F(KernelTest, ARefusedAssertionIsZeroAndLogged) {
    writeFile(root / "power/assertion-error.txt", "kIOReturnNotPrivileged");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Kernel::createAssertion(Mode::display), 0u);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("Z assertion PreventUserIdleDisplaySleep not created: kIOReturnNotPrivileged\n"));
    EXPECT_TRUE(Platform::Power::assertions(root).empty());
}

TEST_F(KernelTest, ReleasingAnUnknownIDIsLogged) {
    testing::internal::CaptureStderr();
    Kernel::releaseAssertion(4242);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("Z assertion 4242 not released: no assertion with ID 4242\n"));
}

TEST(KernelDeathTest, LidIsNotAnAssertion) {
    EXPECT_DEATH(Kernel::createAssertion(Mode::lid), "lid is the pmset flag, not an assertion");
}

} // namespace
