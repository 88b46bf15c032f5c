#include "ViewsFakes.hpp"

#include <PermissionGrants/Views/LaunchAtLogin.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace ViewsTests;
using LaunchAtLogin = PermissionGrant::LaunchAtLogin;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

Standing awaitingApproval() { return Standing::broken("Open Login Items", "Allow it in Login Items."); }

// The login item as the fake controls see it, with the asks it was given
// waiting for the test to complete them.
struct FakeItem {
    Standing standing = Standing::askable("Turn On");
    bool awaiting = false;
    std::vector<std::function<void(bool)>> asks;
    int unregistered = 0;
    int acted = 0;
    int reads = 0;

    LaunchAtLogin::Controls controls() {
        return {[this] {
                    ++reads;
                    return standing;
                },
                [this] { return awaiting; }, [this](std::function<void(bool)> completion) { asks.push_back(completion); },
                [this] {
                    ++unregistered;
                    standing = Standing::askable("Turn On");
                    awaiting = false;
                },
                [this] { ++acted; }};
    }
    void complete(Standing now, bool nowAwaiting) {
        standing = std::move(now);
        awaiting = nowAwaiting;
        auto completion = asks.front();
        asks.erase(asks.begin());
        completion(standing == Standing::good());
    }
};

TEST(LaunchAtLogin, OnWhileGoodOrAwaitingApprovalWithTheNoteAsLink) {
    struct Case {
        Standing standing;
        bool awaiting;
        bool on;
        std::optional<std::string> note;
    };
    const Case cases[] = {
        {good(), false, true, std::nullopt},
        {awaitingApproval(), true, true, "Allow it in Login Items."},
        {Standing::askable("Turn On"), true, true, std::nullopt},
        {Standing::askable("Turn On"), false, false, std::nullopt},
        {broken(), false, false, std::nullopt},
        {unknown(), false, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.standing) + (c.awaiting ? " awaiting" : ""));
        FakeItem item;
        item.standing = c.standing;
        item.awaiting = c.awaiting;
        Watch watch;
        LaunchAtLogin toggle("Open at login", item.controls(), watch.context());
        toggle.appeared();
        EXPECT_EQ(*watch.reasons, std::vector<std::string>{"a surface appeared"});
        EXPECT_EQ(toggle.label(), "Open at login");
        EXPECT_EQ(toggle.isOn(), c.on);
        EXPECT_TRUE(toggle.enabled());
        EXPECT_EQ(toggle.approvalNote(), c.note);
        toggle.pressApprovalLink();
        EXPECT_EQ(item.acted, c.awaiting ? 1 : 0);
    }
}

// Asking is disabled until its completion comes, so switching off cannot
// pull the item from under the ask; then it shows what the ask left.
TEST(LaunchAtLogin, TheSwitchIsDisabledWhileItsAskIsInFlight) {
    FakeItem item;
    LaunchAtLogin toggle("Open at login", item.controls(), Watch().context());
    toggle.appeared();
    int changes = 0;
    toggle.toggle(true, [&] { ++changes; });
    EXPECT_EQ(item.asks.size(), 1u);
    EXPECT_FALSE(toggle.enabled());
    EXPECT_FALSE(toggle.isOn());
    toggle.toggle(false);
    toggle.toggle(true);
    EXPECT_EQ(item.asks.size(), 1u);
    EXPECT_EQ(item.unregistered, 0);
    item.complete(awaitingApproval(), true);
    EXPECT_TRUE(toggle.enabled());
    EXPECT_TRUE(toggle.isOn());
    EXPECT_EQ(toggle.approvalNote(), "Allow it in Login Items.");
    EXPECT_EQ(changes, 1);
    toggle.toggle(true); // already on
    EXPECT_TRUE(item.asks.empty());
    toggle.toggle(false);
    EXPECT_EQ(item.unregistered, 1);
    EXPECT_FALSE(toggle.isOn());
    EXPECT_EQ(toggle.approvalNote(), std::nullopt);
    toggle.toggle(false); // already off
    EXPECT_EQ(item.unregistered, 1);
}

TEST(LaunchAtLogin, AnAskAnsweredAtOnceLeavesTheSwitchEnabled) {
    FakeItem item;
    auto controls = item.controls();
    controls.ask = [&](std::function<void(bool)> completion) {
        item.standing = good();
        completion(true);
    };
    LaunchAtLogin toggle("Open at login", controls, Watch().context());
    toggle.toggle(true);
    EXPECT_TRUE(toggle.enabled());
    EXPECT_TRUE(toggle.isOn());
}

TEST(LaunchAtLogin, ACompletionAfterTheViewIsGoneTouchesNothing) {
    FakeItem item;
    int changes = 0;
    {
        LaunchAtLogin toggle("Open at login", item.controls(), Watch().context());
        toggle.toggle(true, [&] { ++changes; });
        LaunchAtLogin moved = std::move(toggle);
        EXPECT_FALSE(moved.enabled());
    }
    int reads = item.reads;
    item.complete(good(), false);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(item.reads, reads);
}

TEST(LaunchAtLogin, RefreshReadsTheItemAgain) {
    FakeItem item;
    LaunchAtLogin toggle("Open at login", item.controls(), Watch().context());
    toggle.refresh();
    EXPECT_FALSE(toggle.isOn());
    item.standing = good();
    EXPECT_FALSE(toggle.isOn()); // probing is not done at every draw
    toggle.refresh();
    EXPECT_TRUE(toggle.isOn());
}

TEST(LaunchAtLogin, ItsGrantIsTheLoginItemForEveryone) {
    PermissionGrant grant = LaunchAtLogin::grant();
    EXPECT_EQ(grant.title, "open at login");
    EXPECT_EQ(grant.why, "");
    EXPECT_EQ(grant.symbol, "gearshape.2");
    EXPECT_FALSE(grant.required);
    const auto& service = std::get<PermissionGrant::Kind::BackgroundService>(grant.kind.value);
    EXPECT_EQ(service.job.kind(), AppInstallation::Job::Kind::loginItem());
    EXPECT_EQ(service.installFor, std::vector<AppInstallation::Scope>{AppInstallation::Scope::everyone});
}

} // namespace
