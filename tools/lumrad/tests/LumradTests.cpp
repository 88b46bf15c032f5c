#include "LumradProcess.hpp"
#include "Options.hpp"

#include <TestSupport/LocalClient.hpp>
#include <TestSupport/Subprocess.hpp>

#include <gmock/gmock.h>

#include <sys/stat.h>

namespace {

using namespace LumradTesting;
using testing::HasSubstr;

// Hold then end, and a timed claim that the ticking engine ends on its own:
// each is shown by the notifier and passed to the hook.
TEST_F(LumradTest, EndedClaimsAreShownByTheNotifierAndPassedToTheHook) {
    start();
    auto reasons = home / "reasons";
    ASSERT_TRUE(sent(Command::setNotifyCommand("echo \"$LUMRA_REASON\" >> '" + reasons.string() + "'")).ok);
    ASSERT_TRUE(sent(Command::engage(claim("backup", {Mode::idle}))).ok);
    EXPECT_EQ(assertionsOf(pid).size(), 1u);

    Reply reply = sent(Command::end("backup"));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.ended.value_or(std::vector<Claim>{}).size(), 1u);
    EXPECT_TRUE(assertionsOf(pid).empty());
    std::vector<std::string> shown{"The claim of \"backup\" ended: it was ended on request."};
    EXPECT_TRUE(eventually([&] { return delivered() == shown; })) << serviceLog();
    EXPECT_TRUE(eventually([&] { return TestSupport::contents(reasons) == "requested\n"; })) << serviceLog();

    auto soon = Platform::hostClock().now() + 300ms;
    ASSERT_TRUE(sent(Command::engage(claim("render", {Mode::idle}, Term::until(soon)))).ok);
    shown.push_back("The claim of \"render\" ended: its time is up.");
    EXPECT_TRUE(eventually([&] { return delivered() == shown; })) << serviceLog();
    EXPECT_TRUE(eventually([&] { return TestSupport::contents(reasons) == "requested\nexpired\n"; }));
}

// A client that sends its command and leaves at once makes the reply's
// write fail; lumrad must keep serving.
TEST_F(LumradTest, AClientThatLeavesEarlyDoesNotEndIt) {
    start();
    for (std::string line : {"{\"status\":{}}\n", "", "{\"status\":{}}\n"}) {
        TestSupport::LocalClient client(socket());
        ASSERT_EQ(client.error(), 0);
        client.send(line);
    }
    EXPECT_TRUE(sent(Command::status()).ok);
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0);
}

// The framing and decoding rules as a client that does its own talking sees
// them, with lumrad's log lines in the service log.
TEST_F(LumradTest, RawClientsGetTheProtocolsAnswers) {
    fs::create_directories(stateDir());
    TestSupport::writeFile(socket(), "left behind by an earlier run");
    ::chmod(socket().c_str(), 0666);
    start();
    struct stat info{};
    ASSERT_EQ(::lstat(socket().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    // No line feed: the end of the client's sending side ends the line.
    auto unterminated = rawExchange(socket(), R"({"status":{}})");
    EXPECT_EQ(unterminated.connectError, 0);
    ASSERT_FALSE(unterminated.bytes.empty());
    EXPECT_EQ(unterminated.bytes.find('\n'), unterminated.bytes.size() - 1);
    EXPECT_TRUE(replyFromJSON(nlohmann::json::parse(unterminated.bytes)).ok);

    // Only the first line is read: the hand-back after it never arrives.
    EXPECT_FALSE(rawExchange(socket(), "{\"status\":{}}\n{\"handBack\":{}}\n").bytes.empty());
    EXPECT_TRUE(running());

    EXPECT_EQ(rawExchange(socket(), "{\"status\":{}" + std::string(Wire::maxLine, ' ') + "}\n").bytes, "");
    EXPECT_EQ(rawExchange(socket(), "{\"end\":{\"_0\":\"\xC3\"}}\n").bytes, "");
    EXPECT_EQ(rawExchange(socket(), "{}\n").bytes, "");
    EXPECT_EQ(rawExchange(socket(), "").bytes, "");
    EXPECT_TRUE(running());
    EXPECT_TRUE(sent(Command::status()).ok);

    std::string log = serviceLog();
    EXPECT_THAT(log, HasSubstr(" undecodable command: {\"status\":{}    "));
    EXPECT_THAT(log, HasSubstr(" undecodable command: <binary>\n"));
    EXPECT_THAT(log, HasSubstr(" undecodable command: {}\n"));
    EXPECT_THAT(log, HasSubstr(" client sent no line\n"));
}

TEST_F(LumradTest, SIGTERMReleasesEverythingAndKeepsTheClaims) {
    TestSupport::installDropIn(root, TestSupport::flagRule());
    start();
    EXPECT_THAT(serviceLog(), HasSubstr("lumrad serving on " + socket().string()));
    Claim held = claim(Claim::humanOwner, {Mode::lid, Mode::idle, Mode::display});
    Reply reply = sent(Command::engage(held));
    ASSERT_TRUE(reply.ok) << reply.error.value_or("");
    EXPECT_TRUE(reply.status.sleepDisabled);
    pid_t served = pid;
    EXPECT_EQ(assertionsOf(served).size(), 2u);

    ::kill(pid, SIGTERM);
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_FALSE(Platform::Power::sleepDisabled(root));
    EXPECT_TRUE(assertionsOf(served).empty());
    EXPECT_EQ(storedClaims(), std::vector<Claim>{held});
    EXPECT_FALSE(fs::exists(socket()));
    EXPECT_THAT(serviceLog(), HasSubstr("lumrad stopped by SIGTERM"));
}

TEST_F(LumradTest, HandBackAnswersAndThenExits) {
    start();
    Claim held = claim("backup", {Mode::idle});
    ASSERT_TRUE(sent(Command::engage(held)).ok);
    EXPECT_TRUE(sent(Command::handBack()).ok);
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_EQ(storedClaims(), std::vector<Claim>{held});
    EXPECT_FALSE(fs::exists(socket()));
}

TEST(LumradCommandLine, HelpGoesToStandardOutputAndABadFlagIsAUsageError) {
    auto help = TestSupport::runProcess(LUMRAD_EXE, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, Lumrad::usageText);
    EXPECT_EQ(help.err, "");

    for (auto arguments : std::vector<std::vector<std::string>>{{"--tick", "0"}, {"--frobnicate"}}) {
        auto run = TestSupport::runProcess(LUMRAD_EXE, arguments);
        EXPECT_EQ(run.status, 2) << arguments[0];
        EXPECT_EQ(run.out, "");
        EXPECT_THAT(run.err, testing::StartsWith("lumrad: "));
        EXPECT_THAT(run.err, testing::EndsWith(std::string(Lumrad::usageText)));
    }
}

// A socket path that does not fit the address: lumrad says why and stops,
// and the client finds nobody to ask.
TEST(LumradCommandLine, ASocketPathOver103BytesStopsTheService) {
    TestSupport::TempDir folder;
    fs::path home = folder.path();
    while (home.native().size() < 110) home /= "a-rather-long-folder-name";
    // A stored lid claim and the grant: an engine started anyway would
    // switch sleep off on its way out of the door.
    Claim stored(Claim::humanOwner, false, {Mode::lid}, Term::indefinite(), Platform::hostClock().now());
    TestSupport::writeFile(home / ".local/state/lumra/claims.json", JSONCoder::plain.encode(toJSON(std::vector{stored})));
    fs::path grant = Platform::SimulatedHost::hostPath("/etc/sudoers.d/lumra", Platform::SimulatedHost::root());
    TestSupport::installDropIn(Platform::SimulatedHost::root(), TestSupport::flagRule());
    auto run = TestSupport::runProcess(LUMRAD_EXE, {}, {{"HOME", home.string()}});
    fs::remove(grant);
    EXPECT_FALSE(Platform::Power::sleepDisabled(Platform::SimulatedHost::root()));
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot listen on " + (home / ".local/state/lumra/lumra.sock").string() +
                                   ": the path is longer than 103 bytes\n"));
    EXPECT_EQ(TestSupport::runProcess(LUMRA_EXE, {"status"}, {{"HOME", home.string()}}).status, 3);
}

} // namespace
