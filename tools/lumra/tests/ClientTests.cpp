// Whole runs against a fake service: what is sent, printed and answered.

#include "Client.hpp"
#include "LocalTime.hpp"
#include "Render.hpp"
#include "Usage.hpp"

#include <TestSupport/VirtualTime.hpp>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace std::chrono_literals;
using namespace ClientTests;
using LumraKit::Claim;
using LumraKit::Command;
using LumraKit::Mode;
using LumraKit::Reply;
using LumraKit::Term;

Reply okReply() {
    Reply reply;
    reply.ok = true;
    return reply;
}

Claim claim(std::string owner, LumraKit::ModeSet modes, Term term = Term::indefinite()) {
    return Claim(owner, false, modes, term, now - 10min);
}

class Run : public LocalTime {
protected:
    int run(const std::vector<std::string>& arguments) {
        Client::Host host{
            .send =
                [this](const Command& command) {
                    sent.push_back(command);
                    return answer(command);
                },
            .reachable = [this] { return listening; },
            .processStart = [](int32_t pid) { return pid == 4242 ? std::optional<double>(1796800000.5) : std::nullopt; },
            .pid = 4242,
            .heat = [this] { return heat; },
            .runCommand =
                [this](const std::vector<std::string>& command) {
                    ran.push_back(command);
                    sentBeforeRunning = sent.size();
                    return commandStatus;
                },
            .grant = [this]() -> LumraKit::Result<Client::Grant::Installed, Client::Grant::Refused> {
                ++grants;
                if (grantRefusal) return Client::Grant::Refused{*grantRefusal};
                return Client::Grant::Installed{"alice", grantUnchanged};
            },
            .installedAt = "/etc/sudoers.d/lumra",
            .clock = time,
            .palette = Terminal::Palette{false},
            .out = out,
            .err = err,
        };
        return Client::run(arguments, host);
    }
    // A reply that is ok and carries `status`.
    void answerWith(Reply reply) {
        answer = [reply](const Command&) { return std::optional<Reply>(reply); };
    }

    TestSupport::VirtualTime time{now};
    std::function<std::optional<Reply>(const Command&)> answer = [](const Command&) { return std::nullopt; };
    // Answers status with `current`, anything else with `after`.
    void answerStatusThen(Reply current, Reply after) {
        answer = [current, after](const Command& command) {
            return std::optional<Reply>(command.kind() == Command::Kind::status ? current : after);
        };
    }

    std::optional<std::string> grantRefusal;
    bool grantUnchanged = false;
    bool listening = false;
    std::string heat = "nominal";
    int commandStatus = 0;
    std::vector<std::vector<std::string>> ran;
    size_t sentBeforeRunning = 0;
    std::vector<Command> sent;
    int grants = 0;
    std::ostringstream out, err;
};

TEST_F(Run, ASilentServiceExitsThreeSayingWhetherItRuns) {
    EXPECT_EQ(run({"status"}), Client::ExitStatus::noAnswer);
    EXPECT_EQ(err.str(), "lumra: the service is not running (start lumrad)\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(sent, std::vector<Command>{Command::status()});

    err.str("");
    listening = true;
    EXPECT_EQ(run({"hold", "--idle"}), Client::ExitStatus::noAnswer);
    EXPECT_EQ(err.str(), "lumra: the service took the request but did not answer\n");
}

TEST_F(Run, ARefusalPrintsTheServicesReasonInLowerCaseAndExitsOne) {
    Reply refusal;
    refusal.error = "The sudoers grant is missing. Run: lumra grant";
    answerWith(refusal);
    EXPECT_EQ(run({"hold", "--lid"}), Client::ExitStatus::refused);
    EXPECT_EQ(err.str(), "lumra: the sudoers grant is missing. Run: lumra grant\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(sent.size(), 1u);

    // The reason is the service's free text: it cannot restyle the terminal.
    err.str("");
    refusal.error = "no\x1B[2J";
    answerWith(refusal);
    EXPECT_EQ(run({"end"}), Client::ExitStatus::refused);
    EXPECT_EQ(err.str(), "lumra: no\\x1B[2J\n");
}

TEST_F(Run, AUsageErrorIsOneLineAndAHintSendsNothingAndExitsTwo) {
    EXPECT_EQ(run({"hold", "--for", "1h", "--until", "14:30"}), Client::ExitStatus::usage);
    EXPECT_EQ(err.str(), "lumra: --for and --until cannot be used together\nTry 'lumra hold --help'.\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(sent.empty());
}

// Without chosen modes, a missing grant costs only lid; chosen lid still fails.
TEST_F(Run, AHoldWithoutTheGrantHoldsTheRestAndSaysHowToGetLid) {
    answer = [](const Command& command) -> std::optional<Reply> {
        if (command.claim().modes.contains(Mode::lid)) {
            Reply refusal;
            refusal.error = LumraKit::EngageError::grantMissing().message();
            return refusal;
        }
        Reply reply = okReply();
        reply.status.claims = {command.claim()};
        return reply;
    };
    EXPECT_EQ(run({"hold"}), Client::ExitStatus::done);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].claim().modes, LumraKit::ModeSet{Mode::idle});
    EXPECT_EQ(sent[1].claim().id, sent[0].claim().id);
    EXPECT_EQ(out.str(), "Holding idle for you, until ended [" + Client::shortID(sent[1].claim().id) + "].\n");
    EXPECT_EQ(err.str(), "lumra: lid-closed sleep needs the sudoers grant: run sudo lumra grant\n");
}

TEST_F(Run, HoldAsJSONPrintsTheWholeReply) {
    answer = [](const Command& command) -> std::optional<Reply> {
        Reply reply = okReply();
        reply.status.claims = {command.claim()};
        return reply;
    };
    EXPECT_EQ(run({"hold", "--json", "--idle"}), Client::ExitStatus::done);
    auto printed = nlohmann::json::parse(out.str());
    EXPECT_EQ(LumraKit::replyFromJSON(printed).status.claims.at(0).id, sent.at(0).claim().id);
}

TEST_F(Run, HoldAroundACommandHoldsWhileItRunsAndExitsWithItsStatus) {
    answer = [](const Command& command) -> std::optional<Reply> {
        Reply reply = okReply();
        if (command.kind() == Command::Kind::engage) reply.status.claims = {command.claim()};
        return reply;
    };
    commandStatus = 7;
    EXPECT_EQ(run({"hold", "--idle", "--", "make", "all"}), 7);
    EXPECT_EQ(ran, (std::vector<std::vector<std::string>>{{"make", "all"}}));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sentBeforeRunning, 1u);
    EXPECT_EQ(sent[0].claim().term, Term::whilePid(4242, 1796800000.5));
    EXPECT_EQ(sent[1], Command::end("4242"));
    EXPECT_EQ(out.str(), "");

    // Refused: the command never runs.
    ran.clear();
    Reply refusal;
    refusal.error = "Too hot.";
    answerWith(refusal);
    EXPECT_EQ(run({"hold", "--", "make"}), Client::ExitStatus::refused);
    EXPECT_TRUE(ran.empty());
}

TEST_F(Run, AnIDPrefixSelectsItsClaim) {
    Claim backup = claim("backup", {Mode::idle});
    Claim watcher = claim("watch", {Mode::idle}, Term::whilePid(77, 1.0));
    Claim back = claim("back", {Mode::idle}); // "back" also begins "backup"
    Reply reply = okReply();
    reply.status.claims = {backup, watcher, back};
    reply.ended = std::vector<Claim>{};
    answerWith(reply);
    auto prefix = [](const Claim& c) { return Client::shortID(c.id).substr(0, 6); };

    const std::pair<std::vector<std::string>, std::optional<Command>> rows[] = {
        {{"end", prefix(backup)}, Command::end("backup")},
        {{"end", prefix(watcher)}, Command::end("77")},
        {{"allow-lid", prefix(backup)}, Command::allowLid("backup")},
        {{"end", "4711"}, Command::end("4711")}, // unmatched: the service says so
        {{"end", prefix(back)}, std::nullopt},   // cannot be chosen alone
    };
    for (const auto& [arguments, expected] : rows) {
        sent.clear();
        int status = run(arguments);
        if (expected) {
            EXPECT_EQ(status, Client::ExitStatus::done) << arguments[1];
            EXPECT_EQ(sent.back(), *expected) << arguments[1];
        } else {
            EXPECT_EQ(status, Client::ExitStatus::refused);
            EXPECT_EQ(sent, std::vector<Command>{Command::status()});
        }
    }
    EXPECT_EQ(err.str(), "lumra: the claim " + Client::shortID(back.id) +
                             " cannot be chosen alone: its owner's name begins others'\n");
}

TEST_F(Run, HelpGoesToStandardOutput) {
    EXPECT_EQ(run({"floor", "--help"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), Client::Usage::floor);
    EXPECT_EQ(err.str(), "");
    EXPECT_TRUE(sent.empty());
}

TEST_F(Run, StatusJSONIsTheServicesStatusOnOneLine) {
    Reply reply = okReply();
    reply.status.claims = {claim("you", {Mode::idle, Mode::lid})};
    reply.status.floor = 15;
    answerWith(reply);
    EXPECT_EQ(run({"status", "--json"}), Client::ExitStatus::done);
    std::string line = out.str();
    ASSERT_TRUE(line.ends_with("\n"));
    line.pop_back();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(LumraKit::statusFromJSON(nlohmann::json::parse(line)), reply.status);
}

TEST_F(Run, HoldReportsTheClaimAsTheServiceKeepsItAndWhatItDisplaced) {
    Claim earlier = claim("backup", {Mode::idle});
    Claim covering = claim("you", {Mode::idle, Mode::lid});
    answer = [&](const Command& command) -> std::optional<Reply> {
        // The service turns a program's lid into a request.
        Claim kept = command.claim();
        kept.modes.erase(Mode::lid);
        kept.wantsLid = true;
        Reply reply = okReply();
        reply.replaced = earlier;
        reply.coveredBy = covering;
        reply.status.claims = {covering, kept};
        return reply;
    };
    EXPECT_EQ(run({"hold", "--owner", "backup", "--for", "80m"}), Client::ExitStatus::done);
    ASSERT_EQ(sent.size(), 1u);
    std::string id = Client::shortID(sent[0].claim().id);
    EXPECT_EQ(out.str(), "Holding idle for backup, until 14:30 (in 1h 20m) [" + id +
                             "].\n"
                             "Lid waits for your approval: lumra allow-lid backup\n"
                             "replaced " +
                             Client::claimLine(earlier, now) + "\nalready covered by " +
                             Client::claimLine(covering, now) + "\n");
}

TEST_F(Run, HoldWhileSuspendedSaysNothingIsHeld) {
    answer = [&](const Command& command) -> std::optional<Reply> {
        Reply reply = okReply();
        reply.status.claims = {command.claim()};
        reply.status.suspendedSince = now - 1h;
        return reply;
    };
    EXPECT_EQ(run({"hold", "--forced", "--idle"}), Client::ExitStatus::done);
    std::string id = Client::shortID(sent.at(0).claim().id);
    EXPECT_EQ(out.str(), "Recorded idle for you, until ended [" + id +
                             "].\n"
                             "Forced: it keeps holding in Low Power Mode.\n"
                             "Suspended: nothing is held until lumra resume.\n");
}

TEST_F(Run, EndListsTheEndedClaims) {
    Reply reply = okReply();
    reply.ended = std::vector<Claim>{};
    answerWith(reply);
    EXPECT_EQ(run({"end"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "No claims to end.\n");

    out.str("");
    std::vector<Claim> ended{claim("backup", {Mode::idle}), claim("builder", {Mode::display})};
    reply.ended = ended;
    answerWith(reply);
    EXPECT_EQ(run({"end", "b"}), Client::ExitStatus::done);
    EXPECT_EQ(sent.back(), Command::end("b"));
    EXPECT_EQ(out.str(), "Ended 2 claims:\n" + Client::claimsTable(ended, now, Terminal::Palette{false}, 2));
}

TEST_F(Run, LidAnswersListTheChangedClaims) {
    Claim approved = claim("backup", {Mode::idle});
    approved.wantsLid = approved.lidGranted = true;
    Reply reply = okReply();
    reply.status.claims = {claim("you", {Mode::idle}), approved};
    answerWith(reply);
    EXPECT_EQ(run({"allow-lid", "back"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(),
              "Lid approved for 1 claim:\n" + Client::claimsTable({approved}, now, Terminal::Palette{false}, 2));

    // A refusal clears the request: the claims that asked are found before.
    out.str("");
    Claim asking = claim("builder", {Mode::idle});
    asking.wantsLid = true;
    Claim refused = asking;
    refused.wantsLid = false;
    Reply before = okReply(), after = okReply();
    before.status.claims = {claim("you", {Mode::idle}), asking};
    after.status.claims = {claim("you", {Mode::idle}), refused};
    answerStatusThen(before, after);
    EXPECT_EQ(run({"deny-lid"}), Client::ExitStatus::done);
    EXPECT_EQ(sent.back(), Command::denyLid(std::nullopt));
    EXPECT_EQ(out.str(),
              "Lid refused for 1 claim:\n" + Client::claimsTable({refused}, now, Terminal::Palette{false}, 2));
}

TEST_F(Run, SettingsReportTheServicesValueAndShowWithoutOne) {
    Reply reply = okReply();
    reply.status.floor = 0;
    answerWith(reply);
    EXPECT_EQ(run({"floor", "0"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "Battery floor: off.\n");

    const std::tuple<std::vector<std::string>, int, std::string, std::string> shown[] = {
        {{"floor"}, 15, "", "Battery floor: 15%.\n"},
        {{"notify-hook"}, 15, "say done", "Notify hook: say done\n"},
        {{"notify-hook"}, 15, "", "Notify hook: none\n"},
    };
    for (const auto& [arguments, floor, hook, text] : shown) {
        out.str("");
        sent.clear();
        reply.status.floor = floor;
        reply.status.notifyCommand = hook;
        answerWith(reply);
        EXPECT_EQ(run(arguments), Client::ExitStatus::done);
        EXPECT_EQ(out.str(), text);
        EXPECT_EQ(sent, std::vector<Command>{Command::status()});
    }
}

TEST_F(Run, SuspendAndResumeSayWhenThereIsNothingToDo) {
    Reply running = okReply(), suspended = okReply();
    running.status.claims = suspended.status.claims = {claim("you", {Mode::idle})};
    suspended.status.suspendedSince = now;
    const std::tuple<const char*, Reply, Reply, std::string, size_t> rows[] = {
        {"suspend", running, suspended, "Suspended: nothing is held until lumra resume; 1 claim kept.\n", 2},
        {"suspend", suspended, suspended, "Nothing to do: the service is suspended already.\n", 1},
        {"resume", suspended, running, "Resumed: holding idle for 1 claim.\n", 2},
        {"resume", running, running, "Nothing to do: the service is not suspended.\n", 1},
    };
    for (const auto& [command, before, after, text, exchanges] : rows) {
        out.str("");
        sent.clear();
        answerStatusThen(before, after);
        EXPECT_EQ(run({command}), Client::ExitStatus::done) << command;
        EXPECT_EQ(out.str(), text) << command;
        EXPECT_EQ(sent.size(), exchanges) << command;
    }
}

TEST_F(Run, StatusShowsTheMachinesHeat) {
    answerWith(okReply());
    for (const char* level : {"nominal", "fair", "serious", "critical"}) {
        out.str("");
        heat = level;
        EXPECT_EQ(run({"status"}), Client::ExitStatus::done);
        EXPECT_NE(out.str().find(std::string("heat            ") + level + "\n"), std::string::npos) << out.str();
    }
}

TEST_F(Run, GrantNeedsNoService) {
    EXPECT_EQ(run({"grant"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "Installed /etc/sudoers.d/lumra: alice may now switch sleep off and on "
                         "(pmset -a disablesleep 0|1) without a password.\n");
    EXPECT_TRUE(sent.empty());

    out.str("");
    grantUnchanged = true;
    EXPECT_EQ(run({"grant"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "Nothing to do: /etc/sudoers.d/lumra already lets alice switch sleep off and on.\n");

    out.str("");
    grantRefusal = "cannot grant \"a b\": the user name holds characters";
    EXPECT_EQ(run({"grant"}), Client::ExitStatus::refused);
    EXPECT_EQ(err.str(), "lumra: cannot grant \"a b\": the user name holds characters\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(grants, 3);
}

} // namespace
