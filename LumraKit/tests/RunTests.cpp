#include <LumraKit/Run.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using LumraKit::run;
using LumraKit::RunResult;

RunResult shell(const std::string& script, const std::optional<std::map<std::string, std::string>>& env = {}) {
    return run("/bin/sh", {"-c", script}, env);
}

TEST(Run, ReturnsTheStatusAndBothTexts) {
    EXPECT_EQ(shell("printf 'SleepDisabled 1\\n'; printf 'careful\\n' >&2; exit 4"),
              (RunResult{4, "SleepDisabled 1\n", "careful\n"}));
    EXPECT_EQ(shell(":"), (RunResult{0, "", ""}));
}

TEST(Run, OutputThatIsNotUTF8IsEmptyText) {
    EXPECT_EQ(shell("printf 'caf\\303\\251'; printf 'bad \\377' >&2"), (RunResult{0, "caf\xC3\xA9", ""}));
    EXPECT_EQ(shell("printf 'cut \\342\\202'; printf fine >&2"), (RunResult{0, "", "fine"}));
}

TEST(Run, AProgramThatCannotStartIsStatusMinusOneWithTheReason) {
    EXPECT_EQ(run("/nonexistent/pmset", {"-g"}), (RunResult{-1, "", "launch failed: No such file or directory"}));
    TestSupport::TempDir folder;
    TestSupport::writeFile(folder / "tool", "#!/bin/sh\n");
    ::chmod((folder / "tool").c_str(), 0644);
    EXPECT_EQ(run((folder / "tool").string(), {}), (RunResult{-1, "", "launch failed: Permission denied"}));
}

TEST(Run, AnEnvironmentReplacesTheCallers) {
    ::setenv("LUMRA_RUN_TEST", "inherited", 1);
    EXPECT_EQ(shell("printf %s \"$LUMRA_RUN_TEST\"").out, "inherited");
    EXPECT_EQ(
        shell("printf %s \"${LUMRA_RUN_TEST-unset}/$GIVEN\"", std::map<std::string, std::string>{{"GIVEN", "x"}}).out,
        "unset/x");
    ::unsetenv("LUMRA_RUN_TEST");
}

TEST(Run, ErrorTextIsTrimmedOfEveryKindOfWhiteSpace) {
    EXPECT_EQ((RunResult{1, "", " \t busy\r\n\n"}).errTrimmed(), "busy");
    EXPECT_EQ((RunResult{1, "", "\xC2\xA0\xE2\x80\xA8no space\xE3\x80\x80"}).errTrimmed(), "no space");
    EXPECT_EQ((RunResult{1, "", "two  words"}).errTrimmed(), "two  words");
    EXPECT_EQ((RunResult{1, "", " \n "}).errTrimmed(), "");
}

} // namespace
