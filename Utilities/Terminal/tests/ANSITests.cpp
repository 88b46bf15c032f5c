#include <Terminal/ANSI.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Terminal::Environment;
using Terminal::Palette;
namespace ANSI = Terminal::ANSI;

TEST(ANSI, FixedSequences) {
    EXPECT_EQ(ANSI::reset, "\x1B[0m");
    EXPECT_EQ(ANSI::bold, "\x1B[1m");
    EXPECT_EQ(ANSI::dim, "\x1B[2m");
    EXPECT_EQ(ANSI::italic, "\x1B[3m");
    EXPECT_EQ(ANSI::underline, "\x1B[4m");
}

TEST(ANSI, ColourSequencesAtTheirBounds) {
    EXPECT_EQ(ANSI::fg(0), "\x1B[38;5;0m");
    EXPECT_EQ(ANSI::fg(255), "\x1B[38;5;255m");
    EXPECT_EQ(ANSI::bg(0), "\x1B[48;5;0m");
    EXPECT_EQ(ANSI::bg(255), "\x1B[48;5;255m");
    EXPECT_EQ(ANSI::rgb(0, 128, 255), "\x1B[38;2;0;128;255m");
}

TEST(ANSIDeathTest, ColourOutsideAByteStopsTheProcess) {
    EXPECT_DEATH(ANSI::fg(256), "fg: 256 is outside 0...255");
    EXPECT_DEATH(ANSI::fg(-1), "fg: -1 is outside 0...255");
    EXPECT_DEATH(ANSI::bg(-1), "bg: -1 is outside 0...255");
    EXPECT_DEATH(ANSI::bg(1000), "bg: 1000 is outside 0...255");
    EXPECT_DEATH(ANSI::rgb(256, 0, 0), "rgb: 256 is outside 0...255");
    EXPECT_DEATH(ANSI::rgb(0, -1, 0), "rgb: -1 is outside 0...255");
    EXPECT_DEATH(ANSI::rgb(0, 0, 300), "rgb: 300 is outside 0...255");
}

struct AskCase {
    Environment environment;
    std::optional<bool> asked;

    friend void PrintTo(const AskCase& row, std::ostream* out) {
        for (const auto& [name, value] : row.environment) *out << name << "='" << value << "' ";
        *out << "-> " << (row.asked ? (*row.asked ? "yes" : "no") : "no answer");
    }
};

class ColorAsked : public testing::TestWithParam<AskCase> {};

TEST_P(ColorAsked, FirstMatchingRuleWins) { EXPECT_EQ(ANSI::colorAsked(GetParam().environment), GetParam().asked); }

INSTANTIATE_TEST_SUITE_P(
    Rules, ColorAsked,
    testing::Values(AskCase{{}, std::nullopt}, AskCase{{{"FORCE_COLOR", "1"}}, true},
                    AskCase{{{"FORCE_COLOR", "1"}, {"NO_COLOR", "1"}}, true},
                    AskCase{{{"FORCE_COLOR", "yes please"}, {"TERM", "dumb"}}, true},
                    AskCase{{{"FORCE_COLOR", "0"}}, false}, AskCase{{{"FORCE_COLOR", "false"}}, false},
                    // Only the exact words turn it off.
                    AskCase{{{"FORCE_COLOR", "FALSE"}}, true}, AskCase{{{"FORCE_COLOR", "00"}}, true},
                    AskCase{{{"FORCE_COLOR", ""}, {"NO_COLOR", ""}}, std::nullopt},
                    AskCase{{{"FORCE_COLOR", ""}, {"NO_COLOR", "1"}}, false}, AskCase{{{"NO_COLOR", "0"}}, false},
                    AskCase{{{"NO_COLOR", "1"}, {"TERM", "xterm-256color"}}, false}, AskCase{{{"TERM", "dumb"}}, false},
                    AskCase{{{"TERM", "Dumb"}}, std::nullopt}, AskCase{{{"TERM", "xterm-256color"}}, std::nullopt},
                    AskCase{{{"TERM", ""}}, std::nullopt}));

TEST(ColorAskedProcess, ReadsTheProcessEnvironmentAtEachCall) {
    EXPECT_EXIT(
        {
            unsetenv("FORCE_COLOR");
            unsetenv("TERM");
            setenv("NO_COLOR", "1", 1);
            bool first = ANSI::colorAsked() == std::optional<bool>(false);
            setenv("FORCE_COLOR", "1", 1);
            bool second = ANSI::colorAsked() == std::optional<bool>(true);
            bool copied = ANSI::colorAsked(Terminal::processEnvironment()) == std::optional<bool>(true);
            std::exit(first && second && copied ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(ProcessEnvironment, CopiesEveryVariable) {
    setenv("TERMINAL_TESTS_VALUE", "a=b", 1);
    Environment environment = Terminal::processEnvironment();
    unsetenv("TERMINAL_TESTS_VALUE");
    EXPECT_EQ(environment["TERMINAL_TESTS_VALUE"], "a=b");
}

TEST(Strip, RemovesEverySGRSequenceAndNothingElse) {
    EXPECT_EQ(ANSI::strip("plain"), "plain");
    EXPECT_EQ(ANSI::strip(""), "");
    EXPECT_EQ(ANSI::strip("\x1B[1mbold\x1B[0m and \x1B[38;5;196mred\x1B[m"), "bold and red");
    EXPECT_EQ(ANSI::strip("\x1B[38;2;1;2;3m\x1B[1m"), "");
    // Not SGR: a cursor move, a lone escape, a letter inside the parameters,
    // a sequence cut short at the end.
    EXPECT_EQ(ANSI::strip("\x1B[2J"), "\x1B[2J");
    EXPECT_EQ(ANSI::strip("a\x1B"), "a\x1B");
    EXPECT_EQ(ANSI::strip("\x1B[1;xm"), "\x1B[1;xm");
    EXPECT_EQ(ANSI::strip("\x1B[12"), "\x1B[12");
    // A broken sequence does not hide a good one right after it.
    EXPECT_EQ(ANSI::strip("\x1B[\x1B[1mx"), "\x1B[x");
}

TEST(Palette, DisabledReturnsTheTextUnchanged) {
    Palette off{.enabled = false};
    for (const std::string& styled :
         {off.bold("t"), off.dim("t"), off.head("t"), off.muted("t"), off.cyan("t"), off.ok("t"), off.warn("t"),
          off.bad("t"), off.ref("t"), off.accent("t"), off.green("t"), off.yellow("t"), off.red("t"), off.gray("t"),
          off.paint(ANSI::underline, "t")})
        EXPECT_EQ(styled, "t");
}

TEST(Palette, EnabledWrapsBetweenStartAndReset) {
    Palette on{.enabled = true};
    auto wrap = [](std::string_view start) { return std::string(start) + "t\x1B[0m"; };
    EXPECT_EQ(on.bold("t"), wrap(ANSI::bold));
    EXPECT_EQ(on.head("t"), wrap(ANSI::bold));
    EXPECT_EQ(on.dim("t"), wrap(ANSI::dim));
    EXPECT_EQ(on.muted("t"), wrap(ANSI::dim));
    EXPECT_EQ(on.cyan("t"), wrap(ANSI::fg(6)));
    EXPECT_EQ(on.accent("t"), wrap(ANSI::fg(6)));
    EXPECT_EQ(on.ok("t"), wrap(ANSI::fg(2)));
    EXPECT_EQ(on.green("t"), wrap(ANSI::fg(2)));
    EXPECT_EQ(on.warn("t"), wrap(ANSI::fg(3)));
    EXPECT_EQ(on.yellow("t"), wrap(ANSI::fg(3)));
    EXPECT_EQ(on.bad("t"), wrap(ANSI::fg(1)));
    EXPECT_EQ(on.red("t"), wrap(ANSI::fg(1)));
    EXPECT_EQ(on.ref("t"), wrap(ANSI::fg(8)));
    EXPECT_EQ(on.gray("t"), wrap(ANSI::fg(8)));
    EXPECT_EQ(on.paint(ANSI::rgb(1, 2, 3), "t"), wrap(ANSI::rgb(1, 2, 3)));
    EXPECT_EQ(on.bold(""), "\x1B[1m\x1B[0m");
}

// Runs `body` in a child whose standard output and standard error are the
// given descriptors; the child's exit code is the body's answer (0 or 1).
template <class Body>
int answerWithOutputsOn(int out, int err, Body body) {
    pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        _exit(body() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int openTerminal() {
    int primary = posix_openpt(O_RDWR | O_NOCTTY);
    if (primary < 0 || grantpt(primary) != 0 || unlockpt(primary) != 0) return -1;
    const char* name = ptsname(primary);
    return name ? open(name, O_RDWR | O_NOCTTY) : -1;
}

TEST(PaletteDetected, AnAnswerFromTheEnvironmentIsFinal) {
    int null = open("/dev/null", O_WRONLY);
    ASSERT_GE(null, 0);
    EXPECT_EQ(answerWithOutputsOn(null, null, [] { return Palette::detected({{"FORCE_COLOR", "1"}}).enabled; }), 1);
    close(null);
    int terminal = openTerminal();
    if (terminal < 0) GTEST_SKIP() << "no pseudo-terminal on this machine";
    EXPECT_EQ(answerWithOutputsOn(terminal, terminal,
                                  [] {
                                      return Palette::detected({{"NO_COLOR", "1"}}).enabled;
                                  }),
              0);
    EXPECT_EQ(answerWithOutputsOn(terminal, terminal, [] { return Palette::detected({{"TERM", "dumb"}}).enabled; }), 0);
    close(terminal);
}

TEST(PaletteDetected, WithoutAnAnswerNeedsBothOutputsOnATerminal) {
    int terminal = openTerminal();
    if (terminal < 0) GTEST_SKIP() << "no pseudo-terminal on this machine";
    int null = open("/dev/null", O_WRONLY);
    ASSERT_GE(null, 0);
    auto detect = [] { return Palette::detected(Environment{{"TERM", "xterm"}}).enabled; };
    EXPECT_EQ(answerWithOutputsOn(terminal, terminal, detect), 1);
    EXPECT_EQ(answerWithOutputsOn(terminal, null, detect), 0);
    EXPECT_EQ(answerWithOutputsOn(null, terminal, detect), 0);
    EXPECT_EQ(answerWithOutputsOn(null, null, detect), 0);
    close(null);
    close(terminal);
}

// A fresh process, so that the palette is made here for the first time.
TEST(UiDeathTest, IsDetectedOnceFromTheProcessEnvironment) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("FORCE_COLOR");
            setenv("NO_COLOR", "1", 1);
            const Terminal::Palette& first = Terminal::ui();
            setenv("FORCE_COLOR", "1", 1);
            bool fixed = !Terminal::ui().enabled && &first == &Terminal::ui();
            std::exit(fixed ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            setenv("FORCE_COLOR", "1", 1);
            std::exit(Terminal::ui().enabled ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
