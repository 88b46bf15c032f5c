#pragma once

// One real lumrad on the simulated machine of the test program, as the
// release build's service of a person with a home of their own: started,
// spoken to over its socket, and stopped or killed at the end.

#include <LumraKit/Claim.hpp>
#include <LumraKit/Identity.hpp>
#include <LumraKit/Wire.hpp>

#include <Platform/Clock.hpp>
#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>

#include <TestSupport/AsRoot.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/LocalClient.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <sys/wait.h>
#include <thread>

namespace LumradTesting {

using namespace LumraKit;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Waits up to 5 s, in small steps, for `done` to hold.
inline bool eventually(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// One lumrad on the simulated machine of this test program, as the release
// build's service of a person with a home of their own.
// What a client doing its own talking gets: the connect error (0 when it
// connected) and every byte the server wrote before closing. The client
// sends `bytes`, then closes its sending side.
struct RawAnswer {
    int connectError = 0;
    std::string bytes;
};

inline RawAnswer rawExchange(const fs::path& socket, std::string_view bytes, int timeoutSeconds = 10) {
    TestSupport::LocalClient client(socket, timeoutSeconds);
    if (client.error() != 0) return {client.error(), {}};
    client.send(bytes);
    client.closeSending();
    return {0, client.readToEnd()};
}

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

    // Starts lumrad ticking five times a second, with `more` arguments and
    // variables, and waits until it answers.
    void start(const std::vector<std::string>& more = {}, const std::map<std::string, std::string>& variables = {}) {
        auto environment = Platform::currentEnvironment();
        environment["HOME"] = home.path().string();
        for (const auto& [name, value] : variables) environment[name] = value;
        std::vector<std::string> arguments{"--service-log", "--tick", "0.2"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        auto started = Platform::startProgram(LUMRAD_EXE, arguments, environment);
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

    // lumrad has not ended.
    bool running() const { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }

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

} // namespace LumradTesting
