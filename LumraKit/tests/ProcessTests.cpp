#include <LumraKit/Process.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double seconds(Platform::Date date) { return std::chrono::duration<double>(date.time_since_epoch()).count(); }

TEST(Process, BootTimeIsBeforeThisProcessStarted) {
    auto boot = LumraKit::bootTime();
    EXPECT_LT(boot, std::chrono::system_clock::now());
    EXPECT_EQ(LumraKit::bootTime(), boot);
    auto started = LumraKit::procStartTime(::getpid());
    ASSERT_TRUE(started.has_value());
    EXPECT_GE(*started, seconds(boot));
    EXPECT_LE(*started, seconds(std::chrono::system_clock::now()));
}

TEST(Process, ARunningProcessKeepsItsStartAndAnEndedOneHasNone) {
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
    char* envp[] = {nullptr};
    ASSERT_EQ(::posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, argv, envp), 0);
    auto started = LumraKit::procStartTime(pid);
    ASSERT_TRUE(started.has_value());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(LumraKit::procStartTime(pid), started);
    EXPECT_TRUE(LumraKit::procName(pid).has_value());

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(LumraKit::procStartTime(pid), std::nullopt);
    EXPECT_EQ(LumraKit::procName(pid), std::nullopt);
}

TEST(Process, ThisProcessIsNamedAfterItsExecutable) { EXPECT_EQ(LumraKit::procName(::getpid()), "LumraKit_tests"); }

} // namespace
