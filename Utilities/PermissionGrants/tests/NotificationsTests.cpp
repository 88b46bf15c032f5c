#include <PermissionGrants/Notifications.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <limits>

namespace {

using PermissionGrants::PermissionGrant;
using Notifications = PermissionGrant::Notifications;
using Reach = Notifications::Reach;
using Platform::NotificationSettings;
using TestSupport::FakeNotificationCenter;
using TestSupport::FakeWorkspace;
using TestSupport::ImmediateQueue;
using TestSupport::VirtualTime;

constexpr const char* settingsURL = "x-apple.systempreferences:com.apple.Notifications-Settings.extension?id=";

struct MappingRow {
    NotificationSettings settings;
    std::optional<Reach> expected;
};

class ReachMapping : public testing::TestWithParam<MappingRow> {};

TEST_P(ReachMapping, MapsSettingsToReach) {
    const auto& row = GetParam();
    EXPECT_EQ(Notifications::reach(row.settings), row.expected)
        << "status " << row.settings.authorizationStatus << ", alerts " << row.settings.alertSetting << ", style "
        << row.settings.alertStyle;
}

INSTANTIATE_TEST_SUITE_P(
    EveryStatus, ReachMapping,
    testing::Values(MappingRow{{0, 2, 1}, Reach::notAsked}, MappingRow{{1, 2, 1}, Reach::denied},
                    MappingRow{{2, 2, 1}, Reach::allowed}, MappingRow{{2, 2, 2}, Reach::allowed},
                    // Alerts on but styled "none", or alerts off or unsupported: accepted, never seen.
                    MappingRow{{2, 2, 0}, Reach::silenced}, MappingRow{{2, 1, 1}, Reach::silenced},
                    MappingRow{{2, 0, 1}, Reach::silenced}, MappingRow{{2, 0, 0}, Reach::silenced},
                    MappingRow{{3, 0, 0}, Reach::silenced}, MappingRow{{3, 2, 1}, Reach::silenced},
                    MappingRow{{4, 2, 1}, Reach::silenced}, MappingRow{{5, 2, 1}, std::nullopt},
                    MappingRow{{99, 2, 1}, std::nullopt}, MappingRow{{-1, 2, 1}, std::nullopt}));

TEST(ReachRawValue, RoundTripsEveryCaseAndRejectsOtherSpellings) {
    for (Reach reach : {Reach::notAsked, Reach::denied, Reach::silenced, Reach::allowed})
        EXPECT_EQ(Notifications::reachNamed(Notifications::rawValue(reach)), reach);
    EXPECT_EQ(Notifications::rawValue(Reach::notAsked), "notAsked");
    for (const char* other : {"Allowed", "notasked", "DENIED", "", " allowed", "allowed\n", "unknown"})
        EXPECT_EQ(Notifications::reachNamed(other), std::nullopt) << other;
}

TEST(BlockingReach, ReturnsTheAnswerThatHasAlreadyArrived) {
    ImmediateQueue queue;
    FakeNotificationCenter center(queue);
    center.settings = {3, 0, 0};
    EXPECT_EQ(Notifications::reach(0.0, center), Reach::silenced);
}

TEST(BlockingReach, ZeroTimeoutIsAbsentWhileTheAnswerIsPending) {
    VirtualTime time;
    FakeNotificationCenter center(time);
    center.settings = {2, 2, 1};
    EXPECT_EQ(Notifications::reach(0.0, center), std::nullopt);
    // The late answer lands in a box the caller no longer reads; it must not
    // touch freed memory (the sanitizer build checks).
    time.runUntilIdle();
    EXPECT_EQ(time.pendingTasks(), 0u);
}

TEST(BlockingReach, GivesUpAtTheDeadlineWhenTheCentreNeverAnswers) {
    VirtualTime time;
    FakeNotificationCenter center(time);
    center.answersSettings = false;
    EXPECT_EQ(Notifications::reach(0.05, center), std::nullopt);
}

TEST(BlockingReach, TreatsNegativeAndNaNTimeoutsAsNoWait) {
    VirtualTime time;
    FakeNotificationCenter center(time);
    EXPECT_EQ(Notifications::reach(-5.0, center), std::nullopt);
    EXPECT_EQ(Notifications::reach(std::numeric_limits<double>::quiet_NaN(), center), std::nullopt);
}

TEST(BlockingReach, WaitsForAnAnswerFromAnotherThread) {
    VirtualTime time;
    FakeNotificationCenter center(time);
    center.settings = {2, 2, 0};
    // The platform's queue: answers once the request is there.
    std::thread platform([&time] {
        while (time.pendingTasks() == 0) std::this_thread::yield();
        time.runUntilIdle();
    });
    EXPECT_EQ(Notifications::reach(10.0, center), Reach::silenced);
    platform.join();
}

TEST(AsyncReach, CompletesOnceWithTheMappedSettings) {
    VirtualTime time;
    FakeNotificationCenter center(time);
    center.settings = {1, 0, 0};
    std::vector<std::optional<Reach>> answers;
    Notifications::reach([&](std::optional<Reach> reach) { answers.push_back(reach); }, center);
    EXPECT_TRUE(answers.empty()) << "the completion belongs to the centre's queue";
    time.runUntilIdle();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], Reach::denied);
}

class AskWhenAlreadyDecided : public testing::TestWithParam<NotificationSettings> {};

TEST_P(AskWhenAlreadyDecided, OpensSettingsInsteadOfPrompting) {
    VirtualTime time;
    FakeNotificationCenter center(time);
    FakeWorkspace workspace;
    center.settings = GetParam();
    center.promptAnswer = true;
    int completions = 0;
    Notifications::ask(
        6, "app.lumra.service.notifier", [&] { ++completions; }, center, workspace);
    time.runUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(center.authorizationRequests.empty());
    EXPECT_EQ(workspace.opened, std::vector<std::string>{std::string(settingsURL) + "app.lumra.service.notifier"});
}

// Denied, silenced, allowed, and a status this build does not know.
INSTANTIATE_TEST_SUITE_P(EveryReachButNotAsked, AskWhenAlreadyDecided,
                         testing::Values(NotificationSettings{1, 0, 0}, NotificationSettings{2, 0, 0},
                                         NotificationSettings{2, 2, 1}, NotificationSettings{7, 2, 1}));

TEST(Ask, PromptsWithTheGivenOptionsWhenNeverAsked) {
    VirtualTime time;
    FakeNotificationCenter center(time);
    FakeWorkspace workspace;
    center.promptAnswer = false;
    int completions = 0;
    Notifications::ask(
        6, "app.lumra.service.notifier", [&] { ++completions; }, center, workspace);
    time.runUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(center.authorizationRequests, std::vector<unsigned>{6});
    EXPECT_TRUE(workspace.opened.empty());
    EXPECT_EQ(Notifications::reach(center.settings), Reach::denied);
}

TEST(Ask, DoesNotCompleteWhileThePromptIsUnanswered) {
    VirtualTime time;
    FakeNotificationCenter center(time);
    FakeWorkspace workspace;
    int completions = 0;
    Notifications::ask(
        6, "app.lumra.service.notifier", [&] { ++completions; }, center, workspace);
    time.runUntilIdle();
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(center.authorizationRequests.size(), 1u);
}

TEST(OpenSettings, OpensNothingForAnIdentifierThatMakesNoURL) {
    FakeWorkspace workspace;
    Notifications::openSettings("app with spaces", workspace);
    Notifications::openSettings("app.\xC3\xA9", workspace);
    EXPECT_TRUE(workspace.opened.empty());
    Notifications::openSettings("", workspace);
    EXPECT_EQ(workspace.opened, std::vector<std::string>{settingsURL});
}

} // namespace
