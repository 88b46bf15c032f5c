// The client command line against the serving program: the real lumra and
// lumrad, the notifier they start and the stand-in tools, on one simulated
// machine.

#include "LumraDriven.hpp"

#include <TestSupport/Subprocess.hpp>

#include <gmock/gmock.h>

#include <thread>

namespace {

using namespace LumradTesting;
using testing::HasSubstr;

using EndToEnd = LumraDrivenTest;

// One request and one notification, end to end: refused without the sudoers
// grant, held once `lumra grant` installed it, ended, shown by the notifier,
// whose recorded reach the next status carries.
TEST_F(EndToEnd, HoldStatusEndAndTheNotification) {
    start();
    auto idle = lumra({"status"});
    EXPECT_EQ(idle.status, 0);
    EXPECT_THAT(idle.out, HasSubstr("No claims."));

    auto refused = lumra({"hold", "--lid", "--for", "30m"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "lumra: the sudoers grant is missing. Run: lumra grant\n");
    EXPECT_TRUE(status().claims.empty());

    auto grant = TestSupport::runAsRoot(root, {LUMRA_EXE, "grant"}, {{"HOME", home.path().string()}});
    ASSERT_EQ(grant.status, 0) << grant.err;
    EXPECT_EQ(TestSupport::contents(grantFile()), TestSupport::flagRule());

    auto held = lumra({"hold", "--for", "30m"});
    ASSERT_EQ(held.status, 0) << held.err;
    Status holding = status();
    ASSERT_EQ(holding.claims.size(), 1u);
    EXPECT_EQ(holding.claims[0].owner, "you");
    EXPECT_EQ(holding.claims[0].modes, (ModeSet{Mode::idle, Mode::lid}));
    ASSERT_TRUE(holding.claims[0].term.ifUntil());
    EXPECT_TRUE(holding.sleepDisabled);
    EXPECT_TRUE(holding.lidArmed);
    EXPECT_EQ(assertionsOf(pid).size(), 1u);
    EXPECT_EQ(storedClaims(), holding.claims);

    auto readable = lumra({"status"});
    EXPECT_THAT(readable.out, HasSubstr("you"));
    EXPECT_THAT(readable.out, testing::Not(HasSubstr("No claims.")));

    auto ended = lumra({"end"});
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_THAT(ended.out, HasSubstr("Ended 1 claim"));
    EXPECT_TRUE(eventually([&] { return delivered() == std::vector<std::string>{"Your claim ended: it was ended on request."}; }))
        << serviceLog();
    Status after = status();
    EXPECT_TRUE(after.claims.empty());
    EXPECT_FALSE(after.sleepDisabled);
    EXPECT_TRUE(assertionsOf(pid).empty());
    EXPECT_EQ(after.notifications, NotificationStore::Reach::allowed);
}

TEST_F(EndToEnd, SettingsSelectorsAndRefusals) {
    start();
    EXPECT_EQ(lumra({"hold", "--idle", "--owner", "backup"}).status, 0);
    EXPECT_EQ(lumra({"hold", "--display", "--owner", "render"}).status, 0);

    auto none = lumra({"end", "nobody"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "lumra: no claim matches \"nobody\".\n");

    EXPECT_EQ(lumra({"floor", "80"}).status, 2);
    EXPECT_EQ(lumra({"floor", "50"}).status, 0);
    EXPECT_EQ(lumra({"notify-hook", "say", "done"}).status, 0);
    EXPECT_EQ(lumra({"keep-display", "on"}).status, 0);
    EXPECT_EQ(lumra({"update-check", "off"}).status, 0);
    Status settings = status();
    EXPECT_EQ(settings.floor, 50);
    EXPECT_EQ(settings.notifyCommand, "say done");
    EXPECT_TRUE(settings.keepDisplay);
    EXPECT_FALSE(settings.updateCheck);

    auto ended = lumra({"end", "BACK"});
    EXPECT_EQ(ended.status, 0) << ended.err;
    std::vector<std::string> owners;
    for (const Claim& claim : status().claims) owners.push_back(claim.owner);
    EXPECT_EQ(owners, std::vector<std::string>{"render"});

    EXPECT_EQ(lumra({"suspend"}).status, 0);
    EXPECT_TRUE(status().suspendedSince.has_value());
    EXPECT_TRUE(assertionsOf(pid).empty());
    EXPECT_EQ(lumra({"resume"}).status, 0);
    EXPECT_FALSE(status().suspendedSince.has_value());
    EXPECT_EQ(assertionsOf(pid).size(), 1u);
}

// The client reads the process's start time, the service checks it on every
// tick: the claim lasts exactly as long as that process.
TEST_F(EndToEnd, HoldWhileAProcessRuns) {
    start();
    auto child = Platform::startProgram("/bin/sleep", {"30"});
    ASSERT_TRUE(std::holds_alternative<pid_t>(child));
    pid_t sleeper = std::get<pid_t>(child);
    auto held = lumra({"hold", "--idle", "--while-pid", std::to_string(sleeper)});
    ASSERT_EQ(held.status, 0) << held.err;
    ASSERT_EQ(status().claims.size(), 1u);

    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
    EXPECT_TRUE(eventually([&] { return storedClaims().empty(); })) << serviceLog();
    EXPECT_TRUE(eventually([&] { return delivered().size() == 1; }));
    EXPECT_THAT(delivered().at(0), HasSubstr(std::to_string(sleeper)));
}

// A wall clock stepped after the service started moves the kernel's boot
// time, which the client reads afresh: the process it follows is still the
// same one, so the claim holds until that process ends.
TEST_F(EndToEnd, AClockStepEndsNoClaimOfALivingProcess) {
    start();
    auto child = Platform::startProgram("/bin/sleep", {"30"});
    ASSERT_TRUE(std::holds_alternative<pid_t>(child));
    pid_t sleeper = std::get<pid_t>(child);
    auto hold = [&](const std::string& owner) {
        auto held = lumra({"hold", "--idle", "--owner", owner, "--while-pid", std::to_string(sleeper)});
        EXPECT_EQ(held.status, 0) << held.err;
        std::this_thread::sleep_for(std::chrono::milliseconds(400)); // two ticks
    };
    hold("before");
    TestSupport::writeFile(root / "clock.json", "{\"step\": 3600}\n");
    hold("after"); // replaces the first: a claim on the same process
    ASSERT_EQ(storedClaims().size(), 1u) << serviceLog();
    EXPECT_EQ(storedClaims().at(0).owner, "after");

    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
    EXPECT_TRUE(eventually([&] { return storedClaims().empty(); })) << serviceLog();
}

} // namespace
