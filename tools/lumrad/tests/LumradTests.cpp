#include "Options.hpp"

#include <LumraKit/Claim.hpp>
#include <LumraKit/Identity.hpp>
#include <LumraKit/Wire.hpp>

#include <Platform/Clock.hpp>
#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>

#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace LumraKit;
using namespace std::chrono_literals;
using testing::HasSubstr;
namespace fs = std::filesystem;

// Waits up to 5 s, in small steps, for `done` to hold.
bool eventually(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// One lumrad on the simulated machine of this test program, as the release
// build's service of a person with a home of their own.
class LumradTest : public testing::Test {
protected:
    void SetUp() override {
        // The notifier may post without asking.
        TestSupport::writeFile(notifierFolder() / "settings.json",
                               R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":1})");
    }

    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            exitStatus();
        }
        fs::remove_all(notifierFolder());
        fs::remove(grantFile());
        Platform::Power::setSleepDisabled(false, root);
    }

    // Starts lumrad ticking five times a second, and waits until it answers.
    void start() {
        auto environment = Platform::currentEnvironment();
        environment["HOME"] = home.path().string();
        auto started = Platform::startProgram(LUMRAD_EXE, {"--service-log", "--tick", "0.2"}, environment);
        ASSERT_TRUE(std::holds_alternative<pid_t>(started)) << std::get<Platform::LaunchFailure>(started).description;
        pid = std::get<pid_t>(started);
        ASSERT_TRUE(eventually([&] { return send(Command::status()).has_value(); })) << serviceLog();
    }

    std::optional<Reply> send(const Command& command) { return Wire::roundTrip(command, socket()); }

    Reply sent(const Command& command) {
        auto reply = send(command);
        EXPECT_TRUE(reply.has_value()) << "no reply to " << command.name();
        return reply.value_or(Reply{});
    }

    // lumrad's exit status once it has ended (128 + the signal for one that
    // a signal ended), waiting up to 5 s; -1 when it would not end.
    int exitStatus() {
        int status = 0;
        bool ended = eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        pid = -1;
        if (!ended) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    Claim claim(std::string_view owner, ModeSet modes, Term term = Term::indefinite()) const {
        return Claim(owner, false, modes, term, Platform::hostClock().now());
    }

    fs::path stateDir() const { return home / ".local/state/lumra"; }
    fs::path socket() const { return stateDir() / "lumra.sock"; }
    std::string serviceLog() const { return TestSupport::contents(home / "Library/Logs/lumra/service.log"); }
    fs::path notifierFolder() const { return root / "notifications" / (std::string(Identity::release) + ".notifier"); }
    fs::path grantFile() const { return Platform::SimulatedHost::hostPath("/etc/sudoers.d/lumra", root); }

    // The bodies of the notifications posted so far.
    std::vector<std::string> delivered() const {
        std::vector<std::string> bodies;
        for (const auto& line : TestSupport::lines(notifierFolder() / "delivered.jsonl"))
            bodies.push_back(nlohmann::json::parse(line).at("body").get<std::string>());
        return bodies;
    }

    std::vector<Claim> storedClaims() const {
        auto text = TestSupport::contents(stateDir() / "claims.json");
        return text.empty() ? std::vector<Claim>{} : claimsFromJSON(nlohmann::json::parse(text));
    }

    std::vector<Platform::Power::Assertion> assertionsOf(pid_t of) const {
        std::vector<Platform::Power::Assertion> held;
        for (const auto& assertion : Platform::Power::assertions(root))
            if (assertion.pid == of) held.push_back(assertion);
        return held;
    }

    const fs::path& root = Platform::SimulatedHost::root();
    TestSupport::TempDir home;
    pid_t pid = -1;
};

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
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket().c_str(), sizeof address.sun_path - 1);
    for (std::string line : {"{\"status\":{}}\n", "", "{\"status\":{}}\n"}) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        ::close(fd);
    }
    EXPECT_TRUE(sent(Command::status()).ok);
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0);
}

TEST_F(LumradTest, SIGTERMReleasesEverythingAndKeepsTheClaims) {
    TestSupport::writeFile(grantFile(), "alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, "
                                        "/usr/bin/pmset -a disablesleep 1\n");
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

} // namespace
