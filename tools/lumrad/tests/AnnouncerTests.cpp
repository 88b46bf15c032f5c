#include "Announcements.hpp"
#include "ServiceHarness.hpp"
#include "SocketFile.hpp"

#include <TestSupport/FileContents.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <sys/wait.h>
#include <thread>

namespace LumradTestingWait {

// Waits up to 5 s, in small steps, for `done` to hold.
bool until(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace LumradTestingWait

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

TEST(Announcer, StartsTheNotifierWithTheMessageAndTheHookInASmallEnvironment) {
    TestSupport::ScopedEnvironment inherited{{"LUMRA_ANNOUNCER_TEST", "kept"}, {"LUMRA_REASON", "stale"},
                                             {"SECRET_TOKEN", "never"}, {"LANG", "C.UTF-8"}, {"LD_PRELOAD", ""}};
    ServiceTesting::FakeStarter starter;
    Lumrad::Announcer announcer("/opt/notifier", starter.starter());
    announcer.announce("Claim ended.", "expired", "-x say \"$LUMRA_MESSAGE\"");

    ASSERT_EQ(starter.starts.size(), 2u);
    EXPECT_EQ(starter.starts[0].path, "/opt/notifier");
    EXPECT_EQ(starter.starts[0].arguments, std::vector<std::string>{"Claim ended."});
    EXPECT_EQ(starter.starts[0].environment, std::nullopt) << "the notifier sees the service's environment";
    EXPECT_EQ(starter.starts[0].output, -1) << "the notifier logs for itself";
    EXPECT_EQ(starter.starts[1].path, "/bin/sh");
    // A hook starting with "-" is the command, not options of the shell.
    EXPECT_EQ(starter.starts[1].arguments, (std::vector<std::string>{"-c", "--", "-x say \"$LUMRA_MESSAGE\""}));
    EXPECT_GE(starter.starts[1].output, 0) << "the hook's output is caught for the log";
    std::set<std::string> names;
    for (const auto& [name, value] : starter.starts[1].environment.value()) names.insert(name);
    std::set<std::string> allowed{"PATH", "HOME", "USER", "LANG"};
    for (const auto& name : names) EXPECT_TRUE(allowed.contains(name) || name.starts_with("LUMRA_")) << name;
    for (const char* name : {"LANG", "LUMRA_ANNOUNCER_TEST", "LUMRA_MESSAGE", "LUMRA_REASON"})
        EXPECT_TRUE(names.contains(name)) << name;
    for (const char* name : {"PATH", "HOME"})
        if (std::getenv(name)) {
            EXPECT_TRUE(names.contains(name)) << name;
        }
    const auto& environment = starter.starts[1].environment.value();
    EXPECT_EQ(environment.at("LUMRA_MESSAGE"), "Claim ended.");
    EXPECT_EQ(environment.at("LUMRA_REASON"), "expired");
}

// While a notifier and a hook run, what comes waits and goes out merged in
// one run of each; more than are named are counted.
TEST(Announcer, RunsOneOfEachAtATimeAndMergesWhatWaits) {
    ServiceTesting::FakeStarter starter;
    Lumrad::Announcer announcer("/opt/notifier", starter.starter());
    for (int at = 1; at <= 25; ++at)
        announcer.announce("Ended " + std::to_string(at) + ".", "r" + std::to_string(at), at == 25 ? "latest" : "hook");
    ASSERT_EQ(starter.starts.size(), 2u);

    EXPECT_EQ(announcer.reap(), 2u) << "made-up children count as ended, and what waited starts";
    ASSERT_EQ(starter.starts.size(), 4u);
    EXPECT_EQ(starter.starts[2].arguments, std::vector<std::string>{"Ended 2. Ended 3. Ended 4. (21 more)"});
    EXPECT_EQ(starter.starts[3].arguments.back(), "latest");
    const auto& environment = starter.starts[3].environment.value();
    std::string messages, reasons;
    for (int at = 2; at <= 21; ++at) {
        messages += "Ended " + std::to_string(at) + ".\n";
        reasons += "r" + std::to_string(at) + " ";
    }
    EXPECT_EQ(environment.at("LUMRA_MESSAGE"), messages + "(4 more)");
    EXPECT_EQ(environment.at("LUMRA_REASON"), reasons + "(4 more)");
    announcer.reap();
    EXPECT_EQ(starter.starts.size(), 4u) << "nothing waits any more";
}

// A real hook: its output lands in the log line by line, marked as its
// own and kept on one line each; at its limit it is killed, with whatever
// it started.
TEST(Announcer, LogsTheHooksOutputAndKillsItAtItsLimit) {
    ServiceTesting::CapturedLog log;
    TestSupport::TempDir folder;
    auto now = std::chrono::steady_clock::now();
    Lumrad::Announcer announcer(std::nullopt, Lumrad::Announcer::startProgram, [&] { return now; });
    announcer.announce("Claim ended.", "expired",
                       "printf 'first\\n2026-01-01T00:00:00Z forged\\r\\nlast'; sleep 30 & echo $! > '" +
                           (folder / "pid").string() + "'; wait");
    ASSERT_GE(announcer.outputFd(), 0);
    EXPECT_EQ(announcer.nextDeadline(), now + Lumrad::Announcer::hookTimeLimit);
    ASSERT_TRUE(LumradTestingWait::until([&] { return TestSupport::contents(folder / "pid").ends_with("\n"); }));
    EXPECT_EQ(announcer.reap(), 1u);

    now += Lumrad::Announcer::hookTimeLimit;
    ASSERT_TRUE(LumradTestingWait::until([&] { return announcer.reap() == 0; }));
    std::string logged = log.text();
    EXPECT_THAT(logged, HasSubstr("Z the notify hook ran past 60 s and was killed\n"));
    EXPECT_THAT(logged, HasSubstr("Z notify hook: first\n"));
    EXPECT_THAT(logged, HasSubstr("Z notify hook: 2026-01-01T00:00:00Z forged\\r\n"));
    EXPECT_THAT(logged, HasSubstr("Z notify hook: last\n"));
    EXPECT_THAT(logged, testing::Not(HasSubstr("exited with status")));
    pid_t sleeper = std::stoi(TestSupport::contents(folder / "pid"));
    EXPECT_TRUE(LumradTestingWait::until([&] { return TestSupport::hasEnded(sleeper); })) << "the hook's child lives on";
    EXPECT_EQ(announcer.outputFd(), -1);
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

    EXPECT_TRUE(LumradTestingWait::until([&] { return announcer.reap() == 0; }));
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
