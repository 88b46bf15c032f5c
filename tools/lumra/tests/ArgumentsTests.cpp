// The command line: what each command sends, and the usage errors.

#include "Arguments.hpp"
#include "LocalTime.hpp"
#include "Usage.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace ClientTests;
using Client::Invocation;
using Client::Send;
using Client::ShowHelp;
using Client::UsageError;
using LumraKit::Claim;
using LumraKit::Command;
using LumraKit::Mode;
using LumraKit::ModeSet;
using LumraKit::Term;

class Arguments : public LocalTime {
protected:
    LumraKit::Result<Invocation, UsageError> parse(const std::vector<std::string>& arguments) const {
        return Client::parse(arguments, Client::ParseContext{now, [](int32_t pid) -> std::optional<double> {
                                                                 if (pid == 4711) return 1796800000.25;
                                                                 return std::nullopt;
                                                             }});
    }
    Command sent(const std::vector<std::string>& arguments) const {
        auto parsed = parse(arguments);
        EXPECT_TRUE(parsed.ok()) << parsed.error().message;
        const auto* send = std::get_if<Send>(&parsed.value());
        EXPECT_NE(send, nullptr);
        return send ? send->command : Command::handBack();
    }
    Claim held(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), "hold");
        return sent(arguments).claim();
    }
    // The message of the usage error, checking that its usage is `usage`.
    std::string refusal(const std::vector<std::string>& arguments, std::string_view usage) const {
        auto parsed = parse(arguments);
        EXPECT_FALSE(parsed.ok());
        if (parsed.ok()) return "";
        EXPECT_EQ(parsed.error().usage, usage);
        return parsed.error().message;
    }
};

TEST_F(Arguments, HelpOnEveryCommandIsItsUsage) {
    const std::pair<const char*, std::string_view> rows[] = {
        {"status", Client::Usage::status},
        {"hold", Client::Usage::hold},
        {"end", Client::Usage::end},
        {"allow-lid", Client::Usage::allowLid},
        {"deny-lid", Client::Usage::denyLid},
        {"suspend", Client::Usage::suspend},
        {"resume", Client::Usage::resume},
        {"floor", Client::Usage::floor},
        {"notify-hook", Client::Usage::notifyHook},
        {"keep-display", Client::Usage::keepDisplay},
        {"update-check", Client::Usage::updateCheck},
        {"grant", Client::Usage::grant},
    };
    for (const auto& [command, usage] : rows)
        for (const char* help : {"--help", "-h"})
            EXPECT_EQ(parse({command, help}).value(), Invocation{ShowHelp{usage}}) << command << " " << help;
    EXPECT_EQ(parse({"--help"}).value(), Invocation{ShowHelp{Client::Usage::main}});
    EXPECT_EQ(parse({"-h", "status"}).value(), Invocation{ShowHelp{Client::Usage::main}});
    // Help wins over whatever came before it.
    EXPECT_EQ(parse({"hold", "--for", "2h", "--help"}).value(), Invocation{ShowHelp{Client::Usage::hold}});
}

TEST_F(Arguments, UnknownOrMissingCommandsAreUsageErrors) {
    EXPECT_EQ(refusal({}, Client::Usage::main), "lumra: no command given");
    EXPECT_EQ(refusal({"sleep"}, Client::Usage::main), "lumra: unknown command \"sleep\"");
    EXPECT_EQ(refusal({"--json"}, Client::Usage::main), "lumra: unknown option --json");
    EXPECT_EQ(refusal({"Status"}, Client::Usage::main), "lumra: unknown command \"Status\"");
}

TEST_F(Arguments, StatusTakesOnlyJson) {
    EXPECT_EQ(parse({"status"}).value(), (Invocation{Send{Command::status(), false}}));
    EXPECT_EQ(parse({"status", "--json"}).value(), (Invocation{Send{Command::status(), true}}));
    EXPECT_EQ(refusal({"status", "--json=yes"}, Client::Usage::status), "lumra: --json takes no value");
    EXPECT_EQ(refusal({"status", "--verbose"}, Client::Usage::status), "lumra: unknown option --verbose");
    EXPECT_EQ(refusal({"status", "all"}, Client::Usage::status), "lumra: unexpected argument \"all\"");
}

TEST_F(Arguments, HoldDefaultsToIdleAndLidForYouUntilEnded) {
    Claim claim = held({});
    EXPECT_EQ(claim.owner, "you");
    EXPECT_EQ(claim.modes, (ModeSet{Mode::idle, Mode::lid}));
    EXPECT_EQ(claim.term, Term::indefinite());
    EXPECT_EQ(claim.startedAt, now);
    EXPECT_FALSE(claim.forced);
    EXPECT_FALSE(claim.wantsLid);
    EXPECT_EQ(claim.onEnd, "");
    // Each hold is a new claim.
    EXPECT_NE(held({}).id, claim.id);
}

TEST_F(Arguments, HoldModesComeAsAListOrAsFlags) {
    EXPECT_EQ(held({"--modes", "idle,display"}).modes, (ModeSet{Mode::idle, Mode::display}));
    EXPECT_EQ(held({"--modes=lid"}).modes, ModeSet{Mode::lid});
    EXPECT_EQ(held({"--idle", "--display"}).modes, (ModeSet{Mode::idle, Mode::display}));
    EXPECT_EQ(held({"--modes", "idle", "--display", "--idle"}).modes, (ModeSet{Mode::idle, Mode::display}));
    EXPECT_EQ(refusal({"hold", "--modes", "idle,sleep"}, Client::Usage::hold),
              "lumra: --modes: \"sleep\" is not a mode (idle, lid or display)");
    EXPECT_EQ(refusal({"hold", "--modes", "idle,,lid"}, Client::Usage::hold),
              "lumra: --modes: \"\" is not a mode (idle, lid or display)");
    EXPECT_EQ(refusal({"hold", "--modes"}, Client::Usage::hold), "lumra: --modes needs a value");
    EXPECT_EQ(refusal({"hold", "--lid=1"}, Client::Usage::hold), "lumra: --lid takes no value");
}

TEST_F(Arguments, HoldTerms) {
    EXPECT_EQ(held({"--for", "90"}).term, Term::until(now + 90min));
    EXPECT_EQ(held({"--for=1h30m"}).term, Term::until(now + 90min));
    EXPECT_EQ(held({"--until", "14:30"}).term, Term::until(utc("2026-12-09T14:30:00")));
    EXPECT_EQ(held({"--while-pid", "4711"}).term, Term::whilePid(4711, 1796800000.25));

    EXPECT_EQ(refusal({"hold", "--for", "soon"}, Client::Usage::hold),
              "lumra: --for: \"soon\" is not a duration (try 90, 90m, 2h, 1h30m, 45s or 1d)");
    EXPECT_EQ(refusal({"hold", "--until", "2026-12-01T10:00"}, Client::Usage::hold),
              "lumra: --until: \"2026-12-01T10:00\" has already passed");
    EXPECT_EQ(refusal({"hold", "--while-pid", "4712"}, Client::Usage::hold),
              "lumra: --while-pid: no process has ID 4712");
    for (const char* pid : {"0", "-1", "abc", "4711x", "2147483648", ""})
        EXPECT_EQ(refusal({"hold", "--while-pid", pid}, Client::Usage::hold),
                  "lumra: --while-pid: \"" + std::string(pid) + "\" is not a process ID");
}

TEST_F(Arguments, HoldTermsExcludeEachOther) {
    EXPECT_EQ(refusal({"hold", "--for", "1h", "--until", "14:30"}, Client::Usage::hold),
              "lumra: --for and --until cannot be used together");
    EXPECT_EQ(refusal({"hold", "--while-pid", "4711", "--for", "1h"}, Client::Usage::hold),
              "lumra: --while-pid and --for cannot be used together");
    EXPECT_EQ(refusal({"hold", "--until", "14:30", "--while-pid", "4711"}, Client::Usage::hold),
              "lumra: --until and --while-pid cannot be used together");
    EXPECT_EQ(refusal({"hold", "--for", "1h", "--for", "2h"}, Client::Usage::hold), "lumra: --for is given twice");
}

TEST_F(Arguments, HoldOwnerForcedAndOnEnd) {
    Claim claim = held({"--forced", "--owner", "backup", "--on-end", "say bye", "--modes", "idle,lid"});
    EXPECT_TRUE(claim.forced);
    EXPECT_EQ(claim.owner, "backup");
    EXPECT_EQ(claim.onEnd, "say bye");
    // The service, not the client, turns a program's lid into a request.
    EXPECT_EQ(claim.modes, (ModeSet{Mode::idle, Mode::lid}));
    EXPECT_EQ(held({"--owner", " \"nightly\"\n"}).owner, "'nightly'");

    EXPECT_EQ(refusal({"hold", "--owner", " \t"}, Client::Usage::hold), "lumra: --owner needs a name");
    EXPECT_EQ(refusal({"hold", "--owner"}, Client::Usage::hold), "lumra: --owner needs a value");
    EXPECT_EQ(refusal({"hold", "--owner", "a", "--owner", "b"}, Client::Usage::hold),
              "lumra: --owner is given twice");
    EXPECT_EQ(refusal({"hold", "--force"}, Client::Usage::hold), "lumra: unknown option --force");
    EXPECT_EQ(refusal({"hold", "2h"}, Client::Usage::hold), "lumra: unexpected argument \"2h\"");
}

TEST_F(Arguments, SelectorsOfEndAndTheLidAnswers) {
    const std::pair<const char*, Command (*)(std::optional<std::string>)> rows[] = {
        {"end", Command::end}, {"allow-lid", Command::allowLid}, {"deny-lid", Command::denyLid}};
    for (const auto& [name, make] : rows) {
        std::string command = name;
        EXPECT_EQ(sent({command}), make(std::nullopt)) << command;
        EXPECT_EQ(sent({command, ""}), make(std::nullopt)) << command;
        EXPECT_EQ(sent({command, "backup"}), make("backup")) << command;
        EXPECT_EQ(sent({command, "4711"}), make("4711")) << command;
        EXPECT_EQ(sent({command, "--", "-odd"}), make("-odd")) << command;
        auto usage = std::get<ShowHelp>(parse({command, "-h"}).value()).text;
        EXPECT_EQ(refusal({command, "a", "b"}, usage), "lumra: unexpected argument \"b\"");
        EXPECT_EQ(refusal({command, "--all"}, usage), "lumra: unknown option --all");
    }
}

TEST_F(Arguments, CommandsWithoutArguments) {
    EXPECT_EQ(sent({"suspend"}), Command::suspend());
    EXPECT_EQ(sent({"resume"}), Command::resume());
    EXPECT_EQ(parse({"grant"}).value(), Invocation{Client::InstallGrant{}});
    EXPECT_EQ(refusal({"suspend", "1h"}, Client::Usage::suspend), "lumra: unexpected argument \"1h\"");
    EXPECT_EQ(refusal({"resume", "--now"}, Client::Usage::resume), "lumra: unknown option --now");
    EXPECT_EQ(refusal({"grant", "bob"}, Client::Usage::grant), "lumra: unexpected argument \"bob\"");
}

TEST_F(Arguments, FloorIsAWholeNumberInItsRangeOrShown) {
    EXPECT_EQ(sent({"floor", "20"}), Command::setFloor(20));
    EXPECT_EQ(sent({"floor", "0"}), Command::setFloor(0));
    EXPECT_EQ(sent({"floor", "50"}), Command::setFloor(50));
    EXPECT_EQ(parse({"floor"}).value(), Invocation{Client::ShowSetting{Client::ShowSetting::Which::floor}});
    for (const char* bad : {"abc", "20%", "1.5", "", "99999999999999999999"})
        EXPECT_EQ(refusal({"floor", bad}, Client::Usage::floor),
                  "lumra: \"" + std::string(bad) + "\" is not a whole number");
    for (const char* outside : {"-5", "51", "80"})
        EXPECT_EQ(refusal({"floor", outside}, Client::Usage::floor),
                  "lumra: the floor is a percentage from 0 to 50, not " + std::string(outside));
    EXPECT_EQ(refusal({"floor", "1", "2"}, Client::Usage::floor), "lumra: unexpected argument \"2\"");
    EXPECT_EQ(refusal({"floor", "--max"}, Client::Usage::floor), "lumra: unknown option --max");
}

TEST_F(Arguments, NotifyHookJoinsItsWordsClearsOrShows) {
    EXPECT_EQ(sent({"notify-hook", "say", "-v", "Anna", "done"}), Command::setNotifyCommand("say -v Anna done"));
    EXPECT_EQ(parse({"notify-hook"}).value(), Invocation{Client::ShowSetting{Client::ShowSetting::Which::notifyHook}});
    EXPECT_EQ(sent({"notify-hook", "--clear"}), Command::setNotifyCommand(""));
    EXPECT_EQ(sent({"notify-hook", "--", "--clear"}), Command::setNotifyCommand("--clear"));
    EXPECT_EQ(sent({"notify-hook", "--", "-x", "y"}), Command::setNotifyCommand("-x y"));
    // Only the first word can ask for help; later ones belong to the hook.
    EXPECT_EQ(sent({"notify-hook", "tool", "--help"}), Command::setNotifyCommand("tool --help"));
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"notify-hook", "--clear", "now"}, "lumra: unexpected argument \"now\""},
        {{"notify-hook", "--clear=yes"}, "lumra: --clear takes no value"},
        {{"notify-hook", "--verbose", "x"}, "lumra: unknown option --verbose"},
        {{"notify-hook", "-c", "x"}, "lumra: unknown option -c"},
        {{"notify-hook", "--"}, "lumra: -- needs the hook's words (--clear removes the hook)"},
    };
    for (const auto& [arguments, message] : refused)
        EXPECT_EQ(refusal(arguments, Client::Usage::notifyHook), message) << arguments[1];
}

TEST_F(Arguments, HelpVersionAndTheHintOfAUsageError) {
    EXPECT_EQ(parse({"help"}).value(), Invocation{ShowHelp{Client::Usage::main}});
    EXPECT_EQ(parse({"help", "hold"}).value(), Invocation{ShowHelp{Client::Usage::hold}});
    EXPECT_EQ(parse({"help", "notify-hook"}).value(), Invocation{ShowHelp{Client::Usage::notifyHook}});
    EXPECT_EQ(parse({"--version"}).value(), Invocation{ShowHelp{Client::Usage::version}});
    EXPECT_EQ(Client::Usage::version, "lumra " LUMRA_VERSION "\n");
    EXPECT_EQ(refusal({"help", "nap"}, Client::Usage::main), "lumra: unknown command \"nap\"");
    EXPECT_EQ(refusal({"help", "hold", "end"}, Client::Usage::main), "lumra: unexpected argument \"end\"");

    auto hold = parse({"hold", "--for"});
    ASSERT_FALSE(hold.ok());
    EXPECT_EQ(Client::helpHint(hold.error()), "Try 'lumra hold --help'.");
    auto none = parse({"nap"});
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(Client::helpHint(none.error()), "Try 'lumra --help'.");
}

TEST_F(Arguments, HoldAroundACommandAndAsJSON) {
    auto parsed = parse({"hold", "--idle", "--owner", "build", "--", "make", "-j", "--", "all"});
    ASSERT_TRUE(parsed.ok()) << parsed.error().message;
    const auto* running = std::get_if<Client::HoldWhileRunning>(&parsed.value());
    ASSERT_NE(running, nullptr);
    EXPECT_EQ(running->command, (std::vector<std::string>{"make", "-j", "--", "all"}));
    EXPECT_EQ(running->claim.owner, "build");
    EXPECT_EQ(running->claim.modes, ModeSet{Mode::idle});
    EXPECT_FALSE(running->lidOptional);
    auto plain = parse({"hold", "--", "sleep", "1"});
    ASSERT_TRUE(plain.ok());
    EXPECT_TRUE(std::get<Client::HoldWhileRunning>(plain.value()).lidOptional);

    auto json = parse({"hold", "--json", "--for", "1d"});
    ASSERT_TRUE(json.ok());
    const auto& send = std::get<Send>(json.value());
    EXPECT_TRUE(send.json);
    EXPECT_TRUE(send.lidOptional);
    EXPECT_EQ(send.command.claim().term, Term::until(now + 24h));
    EXPECT_FALSE(std::get<Send>(parse({"hold", "--lid"}).value()).lidOptional);

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"hold", "--"}, "lumra: -- needs a command to run"},
        {{"hold", "--for", "1h", "--", "make"},
         "lumra: --for cannot be used with a command to run: the hold lasts while it runs"},
        {{"hold", "--json", "--", "make"}, "lumra: --json cannot be used with a command to run"},
        {{"hold", "--until", "2300-01-01T00:00"}, "lumra: --until: \"2300-01-01T00:00\": out of range (dates from 1678-01-01 to 2261-12-31)"},
        {{"hold", "--until", "9999-12-31T23:59Z"}, "lumra: --until: \"9999-12-31T23:59Z\": out of range (dates from 1678-01-01 to 2261-12-31)"},
    };
    for (const auto& [arguments, message] : refused) EXPECT_EQ(refusal(arguments, Client::Usage::hold), message);
}

TEST_F(Arguments, SwitchesTakeOnOrOff) {
    EXPECT_EQ(sent({"keep-display", "on"}), Command::setKeepDisplay(true));
    EXPECT_EQ(sent({"keep-display", "off"}), Command::setKeepDisplay(false));
    EXPECT_EQ(sent({"update-check", "on"}), Command::setUpdateCheck(true));
    EXPECT_EQ(sent({"update-check", "off"}), Command::setUpdateCheck(false));
    EXPECT_EQ(refusal({"keep-display", "yes"}, Client::Usage::keepDisplay),
              "lumra: expected on or off, not \"yes\"");
    EXPECT_EQ(refusal({"update-check"}, Client::Usage::updateCheck), "lumra: update-check needs on or off");
    EXPECT_EQ(refusal({"update-check", "on", "off"}, Client::Usage::updateCheck),
              "lumra: unexpected argument \"off\"");
}

} // namespace
