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
            .processStart = [](int32_t) { return std::optional<double>(); },
            .grant = [this]() -> LumraKit::Result<Client::Grant::Installed, Client::Grant::Refused> {
                ++grants;
                if (grantRefusal) return Client::Grant::Refused{*grantRefusal};
                return Client::Grant::Installed{"alice"};
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
    std::optional<std::string> grantRefusal;
    std::vector<Command> sent;
    int grants = 0;
    std::ostringstream out, err;
};

TEST_F(Run, ASilentServiceExitsThree) {
    EXPECT_EQ(run({"status"}), Client::ExitStatus::noAnswer);
    EXPECT_EQ(err.str(), "lumra: the service did not answer (is lumrad running?)\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(sent, std::vector<Command>{Command::status()});
}

TEST_F(Run, ARefusalPrintsTheServicesReasonAndExitsOne) {
    Reply refusal;
    refusal.error = "The sudoers grant is missing. Run: lumra grant";
    answerWith(refusal);
    EXPECT_EQ(run({"hold"}), Client::ExitStatus::refused);
    EXPECT_EQ(err.str(), "lumra: The sudoers grant is missing. Run: lumra grant\n");
    EXPECT_EQ(out.str(), "");

    // The reason is the service's free text: it cannot restyle the terminal.
    err.str("");
    refusal.error = "no\x1B[2J";
    answerWith(refusal);
    EXPECT_EQ(run({"end"}), Client::ExitStatus::refused);
    EXPECT_EQ(err.str(), "lumra: no\\x1B[2J\n");
}

TEST_F(Run, AUsageErrorSendsNothingAndExitsTwo) {
    EXPECT_EQ(run({"hold", "--for", "1h", "--until", "14:30"}), Client::ExitStatus::usage);
    EXPECT_EQ(err.str(),
              "lumra hold: --for and --until cannot be used together\n\n" + std::string(Client::Usage::hold));
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(sent.empty());
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

    out.str("");
    reply.ended = std::vector<Claim>{};
    answerWith(reply);
    EXPECT_EQ(run({"deny-lid"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "No lid request to refuse.\n");
}

TEST_F(Run, SettingsReportTheServicesValue) {
    Reply reply = okReply();
    reply.status.floor = 50;
    answerWith(reply);
    EXPECT_EQ(run({"floor", "80"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "Battery floor: 50% (80% is out of range).\n");

    out.str("");
    reply.status.floor = 0;
    answerWith(reply);
    EXPECT_EQ(run({"floor", "0"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "Battery floor: off.\n");

    out.str("");
    reply.status.claims = {claim("you", {Mode::idle})};
    reply.status.suspendedSince = now;
    answerWith(reply);
    EXPECT_EQ(run({"suspend"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "Suspended: nothing is held until lumra resume; 1 claim kept.\n");
}

TEST_F(Run, GrantNeedsNoService) {
    EXPECT_EQ(run({"grant"}), Client::ExitStatus::done);
    EXPECT_EQ(out.str(), "Installed /etc/sudoers.d/lumra: alice may now switch sleep off and on "
                         "(pmset -a disablesleep 0|1) without a password.\n");
    EXPECT_TRUE(sent.empty());

    out.str("");
    grantRefusal = "cannot grant \"a b\": the user name holds characters";
    EXPECT_EQ(run({"grant"}), Client::ExitStatus::refused);
    EXPECT_EQ(err.str(), "lumra grant: cannot grant \"a b\": the user name holds characters\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(grants, 2);
}

} // namespace
