#include "Announcements.hpp"
#include "ServiceHarness.hpp"
#include "SocketFile.hpp"

#include <TestSupport/FileContents.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace LumraKit;
using Lumrad::endedMessage;
using testing::HasSubstr;

Claim claimOf(std::string_view owner, std::string onEnd = {}) {
    return Claim(owner, false, {Mode::idle}, Term::indefinite(), Platform::Date(), false, std::move(onEnd));
}

TEST(Announcements, NameEachOwnerOnce) {
    Claim you = claimOf(Claim::humanOwner);
    std::vector<std::pair<std::vector<Claim>, std::string>> rows{
        {{claimOf("backup")}, "The claim of \"backup\""},
        {{you}, "Your claim"},
        {{claimOf("make"), claimOf("make")}, "The claims of \"make\""},
        {{claimOf("a"), you, claimOf("b"), claimOf("c")}, "Your claim and the claims of \"a\", \"b\" and \"c\""},
        {{claimOf("a"), claimOf("b"), claimOf("c"), claimOf("d")}, "The claims of \"a\", \"b\", \"c\" and \"d\""},
        {{claimOf("a"), claimOf("b"), claimOf("c"), claimOf("d"), claimOf("e")},
         "The claims of \"a\", \"b\", \"c\" and 2 others"},
        // An owner received as it is never breaks the sentence or the line.
        {{Claim::restored(UUID::random(), "say \"hi\"\nnow", false, {Mode::idle}, false, false, "", Term::indefinite(),
                          Platform::Date())},
         "The claim of \"say 'hi'now\""},
    };
    for (const auto& [claims, subject] : rows) {
        std::string reason = claims.size() == 1 ? "its time is up." : "their time is up.";
        EXPECT_EQ(endedMessage(EndReason::expired(), claims), subject + " ended: " + reason);
    }
}

TEST(Announcements, GiveEveryReasonInPlainWords) {
    std::vector<std::pair<EndReason, std::string>> rows{
        {EndReason::requested(), "it was ended on request"},
        {EndReason::pidExited(4711), "process 4711 has exited"},
        {EndReason::batteryFloor(12), "the battery is down to 12%, at or below your floor"},
        {EndReason::lowPowerMode(), "Low Power Mode is on"},
        {EndReason::thermal(), "the Mac is critically hot"},
        {EndReason::externalOff(), "sleep was turned back on from outside"},
        {EndReason::shutdown(), "the Mac is shutting down"},
    };
    for (const auto& [reason, words] : rows)
        EXPECT_EQ(endedMessage(reason, {claimOf("x")}), "The claim of \"x\" ended: " + words + ".");
    EXPECT_EQ(endedMessage(EndReason::requested(), {claimOf("x"), claimOf("y")}),
              "The claims of \"x\" and \"y\" ended: they were ended on request.");
}

TEST(Announcements, AddTheClaimsOwnWordsShortAndOnOneLine) {
    EXPECT_EQ(
        endedMessage(EndReason::expired(), {claimOf("a", "  Done.\n"), claimOf("b", "Done."), claimOf("c", "Go\non")}),
        "The claims of \"a\", \"b\" and \"c\" ended: their time is up. Done. Go on");
    // 202 bytes, cut to at most 200 with the ellipsis, never inside an "é".
    std::string endText = std::string(196, 'x') + "\u00e9\u00e9\u00e9";
    EXPECT_EQ(endedMessage(EndReason::expired(), {claimOf("a", endText)}),
              "The claim of \"a\" ended: its time is up. " + std::string(196, 'x') + "\u2026");
    std::string fits = std::string(198, 'x') + "\u00e9";
    EXPECT_THAT(endedMessage(EndReason::expired(), {claimOf("a", fits)}), testing::EndsWith(fits));
}

TEST(Announcer, StartsTheNotifierWithTheMessageAndTheHookWithItsEnvironment) {
    TestSupport::ScopedEnvironment inherited{{"LUMRA_ANNOUNCER_TEST", "kept"}, {"LUMRA_REASON", "stale"}};
    ServiceTesting::FakeStarter starter;
    Lumrad::Announcer announcer("/opt/notifier", starter.starter());
    announcer.announce("Claim ended.", "expired", "say \"$LUMRA_MESSAGE\"");
    announcer.announce("Again.", "expired", ""); // no hook: the notifier only

    ASSERT_EQ(starter.starts.size(), 3u);
    EXPECT_EQ(starter.starts[0].path, "/opt/notifier");
    EXPECT_EQ(starter.starts[0].arguments, std::vector<std::string>{"Claim ended."});
    EXPECT_EQ(starter.starts[0].environment, std::nullopt) << "the notifier sees the service's environment";
    EXPECT_EQ(starter.starts[1].path, "/bin/sh");
    EXPECT_EQ(starter.starts[1].arguments, (std::vector<std::string>{"-c", "say \"$LUMRA_MESSAGE\""}));
    const auto& environment = starter.starts[1].environment.value();
    EXPECT_EQ(environment.at("LUMRA_MESSAGE"), "Claim ended.");
    EXPECT_EQ(environment.at("LUMRA_REASON"), "expired");
    EXPECT_EQ(environment.at("LUMRA_ANNOUNCER_TEST"), "kept");
    EXPECT_EQ(starter.starts[2].path, "/opt/notifier");
}

// A development build outside the app bundle has no notifier to start.
TEST(Announcer, WithoutANotifierTheMessageIsOnlyLogged) {
    ServiceTesting::CapturedLog log;
    ServiceTesting::FakeStarter starter;
    Lumrad::Announcer announcer(std::nullopt, starter.starter());
    announcer.announce("Claim ended.", "expired", "");
    EXPECT_TRUE(starter.starts.empty());
    EXPECT_THAT(log.text(), HasSubstr(" announcement (no notifier outside the app bundle): Claim ended.\n"));
}

// Real children: each is collected once it ends, so none stays a zombie, and
// a failing hook leaves a line in the log.
TEST(Announcer, ReapsWhatItStartedAndLogsAFailingHook) {
    ServiceTesting::CapturedLog log;
    TestSupport::TempDir folder;
    auto reason = folder / "reason";
    Lumrad::Announcer announcer("/bin/true");
    announcer.announce("Claim ended.", "pid-exited:12",
                       "printf %s \"$LUMRA_REASON|$LUMRA_MESSAGE\" > '" + reason.string() + "'; exit 3");

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (announcer.reap() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(announcer.reap(), 0u);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
    EXPECT_EQ(TestSupport::contents(reason), "pid-exited:12|Claim ended.");
    EXPECT_THAT(log.text(), HasSubstr(" the notify hook exited with status 3\n"));
}

TEST(Announcer, TheNotifierIsTheGivenOneElseTheBundlesElseNone) {
    Platform::Bundle bundle{"/Applications/Lumra.app", "app.lumra.service"};
    EXPECT_EQ(Lumrad::notifierPath(std::filesystem::path("/opt/n"), bundle), std::filesystem::path("/opt/n"));
    EXPECT_EQ(Lumrad::notifierPath(std::nullopt, bundle),
              "/Applications/Lumra.app/Contents/Helpers/lumra-notifier.app/Contents/MacOS/lumra-notifier");
    EXPECT_EQ(Lumrad::notifierPath(std::nullopt, std::nullopt), std::nullopt);
}

TEST(SocketFile, RemovesOnlyTheFileItFound) {
    TestSupport::TempDir folder;
    auto path = folder / "lumra.sock";
    TestSupport::writeFile(path, "");
    Lumrad::SocketFile(path).removeIfStillOurs();
    EXPECT_FALSE(std::filesystem::exists(path));

    // A newer service removed it and bound its own: that one stays.
    TestSupport::writeFile(path, "");
    Lumrad::SocketFile earlier(path);
    std::filesystem::remove(path);
    TestSupport::writeFile(path, "newer");
    earlier.removeIfStillOurs();
    EXPECT_EQ(TestSupport::contents(path), "newer");
}

} // namespace
