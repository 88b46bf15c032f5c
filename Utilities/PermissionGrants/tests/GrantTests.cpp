#include <PermissionGrants/Notifications.hpp>
#include <PermissionGrants/PermissionGrant.hpp>
#include <PermissionGrants/Readings.hpp>
#include <Platform/Files.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/LoopThread.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <future>

#include <gtest/gtest.h>

#include <thread>

namespace {

using PermissionGrants::PermissionGrant;
using Standing = PermissionGrant::Standing;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

PermissionGrant custom(Standing standing, bool required, int* acted = nullptr) {
    return PermissionGrant("Widget", "It needs it.", "gear", required, [standing] { return standing; },
                           [acted] {
                               if (acted) ++*acted;
                           });
}

struct BlockingRow {
    Standing standing;
    bool required;
    bool allowed;
    bool blocking;
};

TEST(PermissionGrant, AllowedAndBlockingByStandingAndRequirement) {
    const BlockingRow rows[] = {
        {Standing::good(), true, true, false},
        {Standing::askable("Allow\u2026"), true, false, false},
        {Standing::unknown("?"), true, false, false},
        {Standing::broken("Open\u2026", "off"), true, false, true},
        {Standing::broken("Open\u2026", "off"), false, false, false},
        {Standing::askable("Allow\u2026"), false, false, false},
    };
    for (const auto& row : rows) {
        auto grant = custom(row.standing, row.required);
        EXPECT_EQ(grant.isAllowed(), row.allowed) << PermissionGrants::gradeName(row.standing.grade());
        EXPECT_EQ(grant.blocking(), row.blocking) << PermissionGrants::gradeName(row.standing.grade());
        EXPECT_EQ(grant.title, "Widget");
        EXPECT_EQ(grant.symbol, "gear");
    }
}

TEST(PermissionGrant, AskingACustomGrantActsAndAnswersAfterwards) {
    int acted = 0;
    std::optional<bool> allowed;
    custom(Standing::good(), true, &acted).ask([&](bool answer) { allowed = answer; });
    EXPECT_EQ(acted, 1);
    EXPECT_EQ(allowed, true);
}

TEST(PermissionGrantDeath, ACustomStandingReadOffTheMainThreadStops) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    auto grant = custom(Standing::good(), false);
    EXPECT_DEATH(std::thread([&] { (void)grant.standing(); }).join(),
                 "PermissionGrant: a custom grant's standing was read off the main thread");
}

// The notifications grant of another application reads that application's
// own centre on the simulated host, through the readings cache.
TEST(PermissionGrant, NotificationsReadTheNamedApplicationsCentre) {
    struct Row {
        const char* settings;
        Standing expected;
    };
    const Row rows[] = {
        {nullptr, Standing::askable("Allow\u2026")},
        {R"({"authorizationStatus":1})", PermissionGrant::Notifications::standing(PermissionGrant::Notifications::Reach::denied)},
        {R"({"authorizationStatus":2,"alertSetting":1})",
         PermissionGrant::Notifications::standing(PermissionGrant::Notifications::Reach::silenced)},
        {R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":1})", Standing::good()},
        {R"({"authorizationStatus":9})", Standing::unknown("Notification settings did not answer.")},
    };
    auto grant = PermissionGrant::notifications("Notifications", "To tell you.", "bell", false, 6, "app.test.helper");
    auto settings = Platform::SimulatedHost::root() / "notifications/app.test.helper/settings.json";
    Platform::Files::createDirectories(settings.parent_path());
    for (const auto& row : rows) {
        if (row.settings)
            Platform::Files::writeAtomically(settings, row.settings);
        else
            std::filesystem::remove(settings);
        PermissionGrants::Readings::shared().readAll();
        EXPECT_EQ(grant.standing(), row.expected) << (row.settings ? row.settings : "no settings");
    }
    EXPECT_EQ(PermissionGrant::notificationsKey("app.test.helper"), "notifications app.test.helper");
    EXPECT_EQ(PermissionGrant::notificationsKey(std::nullopt), "notifications");
}

// Asking on the main thread prompts the person for the named application,
// refreshes the readings and answers with the standing read afterwards.
TEST(PermissionGrant, AskingForNotificationsPromptsThePersonAndRefreshes) {
    const auto root = Platform::SimulatedHost::root();
    Platform::Files::createDirectories(root / "person");
    Platform::Files::writeAtomically(root / "person/rules.json",
                                     R"([{"kind":"notifications","subject":"app.test.asked","answer":"allow"}])");
    std::filesystem::remove_all(root / "notifications/app.test.asked");
    PermissionGrants::Readings::shared().readAll();
    auto grant = PermissionGrant::notifications("Notifications", "To tell you.", "bell", true, 6, "app.test.asked");
    EXPECT_EQ(grant.standing(), Standing::askable("Allow\u2026"));

    TestSupport::LoopThread serving(Platform::mainLoop());
    std::promise<bool> allowed;
    Platform::mainLoop().async([&] { grant.ask([&](bool answer) { allowed.set_value(answer); }); });
    auto future = allowed.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(future.get());
    EXPECT_EQ(grant.standing(), Standing::good());
    EXPECT_EQ(Platform::Files::read(root / "notifications/app.test.asked/requests.jsonl"), "{\"options\":6}\n");
}

} // namespace
