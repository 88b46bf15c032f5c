// The notifier's decisions, run on virtual time against a fake platform.

#include "Notifier.hpp"

#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using Notifier::Reach;
using testing::ElementsAre;
using testing::IsEmpty;

const std::string notifierID = "app.lumra.service.notifier";

// One notifier run on virtual time. Its exit only records the status, so the
// tests also see that nothing happens after the first exit.
class NotifierRun : public testing::Test {
protected:
    void start(std::vector<std::string> arguments, std::optional<std::string> bundleID = notifierID) {
        auto invocation = Notifier::parse(arguments);
        ASSERT_TRUE(invocation.has_value());
        run.emplace(std::move(*invocation),
                    Notifier::Host{time, time, center, workspace, std::move(bundleID),
                                   LumraKit::NotificationStore(dir / "state/notifications.json"), dir / "logs",
                                   dir / "logs/service.log", [this](int status) { exits.push_back(status); }});
        run->start();
        time.runUntilIdle();
    }

    // The messages of the service log, without their time stamps.
    std::vector<std::string> logged() const {
        std::vector<std::string> messages;
        for (const auto& line : TestSupport::lines(dir / "logs/service.log")) {
            EXPECT_EQ(line.substr(20, 11), " notifier: ") << line;
            messages.push_back(line.substr(31));
        }
        return messages;
    }

    std::string stored() const { return TestSupport::contents(dir / "state/notifications.json"); }

    void record(Reach reach) { LumraKit::NotificationStore(dir / "state/notifications.json").save(reach); }

    std::vector<std::string> postedBodies() const {
        std::vector<std::string> bodies;
        for (const auto& request : center.added) bodies.push_back(request.body);
        return bodies;
    }

    TestSupport::TempDir dir;
    TestSupport::VirtualTime time;
    TestSupport::FakeNotificationCenter center{time};
    TestSupport::FakeWorkspace workspace;
    std::vector<int> exits;
    std::optional<Notifier::Run> run;
};

TEST(NotifierArguments, NothingOrOnlyBlanksIsAUsageError) {
    EXPECT_EQ(Notifier::parse({}), std::nullopt);
    EXPECT_EQ(Notifier::parse({""}), std::nullopt);
    EXPECT_EQ(Notifier::parse({"  ", "\t", "\n"}), std::nullopt);
    EXPECT_EQ(Notifier::parse({"\xC2\xA0\xE2\x80\xA8\xE3\x80\x80"}),
              std::nullopt); // no-break, line separator, ideographic
}

TEST(NotifierArguments, OnlyTheEndsAreTrimmedAndWordsJoinWithOneSpace) {
    EXPECT_EQ(Notifier::parse({"  claim   ended \n"})->message, "claim   ended");
    EXPECT_EQ(Notifier::parse({"claim", "ended"})->message, "claim ended");
    EXPECT_EQ(Notifier::parse({"", "claim", ""})->message, "claim");
    EXPECT_EQ(Notifier::parse({"a\nb"})->message, "a\nb");
    EXPECT_EQ(Notifier::parse({"\xE2\x80\x83"
                               "caf\xC3\xA9\xE3\x80\x80"})
                  ->message,
              "caf\xC3\xA9");
    // Bytes that are not UTF-8 are kept, not mistaken for white space.
    EXPECT_EQ(Notifier::parse({" \xFF\xA0 "})->message, "\xFF\xA0");
    EXPECT_EQ(Notifier::parse({"\xE3\x80"})->message, "\xE3\x80");
    EXPECT_EQ(Notifier::parse({"x\xC0\xA0"})->message, "x\xC0\xA0"); // an overlong space is no space
}

TEST(NotifierArguments, OnlyTheFirstArgumentIsASwitch) {
    auto probe = Notifier::parse({"--probe", "extra", "words"});
    EXPECT_TRUE(probe->probe);
    EXPECT_FALSE(probe->prime);
    EXPECT_EQ(probe->message, "--probe extra words");

    auto prime = Notifier::parse({"--prime", "ignored"});
    EXPECT_TRUE(prime->prime);
    EXPECT_EQ(prime->message, Notifier::sampleMessage);

    auto message = Notifier::parse({"note", "--probe"});
    EXPECT_FALSE(message->probe);
    EXPECT_EQ(message->message, "note --probe");
    EXPECT_FALSE(Notifier::parse({" --prime"})->prime);
}

// One row of the decision table: the platform's state, the invocation, and
// what the run must do.
struct Decision {
    const char* name;
    Platform::NotificationSettings settings;
    std::optional<bool> promptAnswer;
    bool prime;
    int status;
    std::vector<std::string> posted;
    std::vector<std::string> log;
    std::string stored;
};

void PrintTo(const Decision& decision, std::ostream* out) { *out << decision.name; }

class NotifierDecision : public NotifierRun, public testing::WithParamInterface<Decision> {};

TEST_P(NotifierDecision, FollowsTheReach) {
    const Decision& row = GetParam();
    center.settings = row.settings;
    center.promptAnswer = row.promptAnswer;
    start(row.prime ? std::vector<std::string>{"--prime"} : std::vector<std::string>{"claim", "ended"});
    EXPECT_THAT(exits, ElementsAre(row.status));
    EXPECT_EQ(postedBodies(), row.posted);
    EXPECT_EQ(logged(), row.log);
    EXPECT_EQ(stored(), row.stored);
}

const std::string sample(Notifier::sampleMessage);

INSTANTIATE_TEST_SUITE_P(
    Table, NotifierDecision,
    testing::Values(
        Decision{
            "allowedPosts", {2, 2, 1}, {}, false, 0, {"claim ended"}, {"notification reach: allowed"}, "\"allowed\""},
        Decision{"silencedPosts",
                 {3, 0, 0},
                 {},
                 false,
                 0,
                 {"claim ended"},
                 {"notification reach: silenced"},
                 "\"silenced\""},
        Decision{"primeFindsItAllowed", {2, 2, 1}, {}, true, 0, {}, {"notification reach: allowed"}, "\"allowed\""},
        Decision{"primeFindsItSilenced", {2, 2, 0}, {}, true, 0, {}, {"notification reach: silenced"}, "\"silenced\""},
        Decision{"deniedDrops",
                 {1, 0, 0},
                 {},
                 false,
                 2,
                 {},
                 {"notification reach: denied", "notifications denied for lumra; message dropped: claim ended"},
                 "\"denied\""},
        Decision{
            "primeDeniedSaysNothingMore", {1, 0, 0}, {}, true, 2, {}, {"notification reach: denied"}, "\"denied\""},
        Decision{"grantedAtThePromptPosts",
                 {0, 0, 0},
                 true,
                 false,
                 0,
                 {"claim ended"},
                 {"notification reach: notAsked", "notification reach: allowed"},
                 "\"allowed\""},
        Decision{"primeGrantedPostsTheSample",
                 {0, 0, 0},
                 true,
                 true,
                 0,
                 {sample},
                 {"notification reach: notAsked", "notification reach: allowed"},
                 "\"allowed\""},
        Decision{"refusedAtThePrompt",
                 {0, 0, 0},
                 false,
                 false,
                 2,
                 {},
                 {"notification reach: notAsked", "notification reach: denied", "notifications DENIED at the prompt"},
                 "\"denied\""},
        Decision{"unknownStatusPostsAnyway",
                 {9, 2, 1},
                 {},
                 false,
                 0,
                 {"claim ended"},
                 {"an authorization status this build does not know, not recorded", "posting without a known reach"},
                 ""}),
    [](const testing::TestParamInfo<Decision>& info) { return info.param.name; });

TEST_F(NotifierRun, PostsWithTitleSoundAndAFreshUUID) {
    center.settings = {2, 2, 1};
    start({"first"});
    start({"second"});
    ASSERT_EQ(center.added.size(), 2u);
    for (const auto& request : center.added) {
        EXPECT_EQ(request.title, "lumra");
        EXPECT_EQ(request.sound, "default");
        EXPECT_THAT(request.identifier,
                    testing::MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));
    }
    EXPECT_NE(center.added[0].identifier, center.added[1].identifier);
}

TEST_F(NotifierRun, ARefusedAddIsLoggedWithTheErrorAndExitsOne) {
    center.settings = {2, 2, 1};
    center.addError = "The notification centre is unavailable";
    start({"claim ended"});
    EXPECT_THAT(exits, ElementsAre(1));
    EXPECT_THAT(logged(),
                ElementsAre("notification reach: allowed", "add failed: The notification centre is unavailable"));
}

TEST_F(NotifierRun, AnUnchangedReachIsNotLoggedButStillRewritten) {
    center.settings = {2, 2, 1};
    record(Reach::allowed);
    struct stat before {};
    ::stat((dir / "state/notifications.json").c_str(), &before);
    start({"claim ended"});
    struct stat after {};
    ::stat((dir / "state/notifications.json").c_str(), &after);
    EXPECT_THAT(exits, ElementsAre(0));
    EXPECT_THAT(logged(), IsEmpty());
    EXPECT_NE(before.st_ino, after.st_ino) << "notifications.json was not written again";
}

TEST_F(NotifierRun, AChangedReachIsLoggedOnce) {
    center.settings = {2, 2, 0};
    record(Reach::allowed);
    start({"claim ended"});
    EXPECT_THAT(logged(), ElementsAre("notification reach: silenced"));
    EXPECT_EQ(stored(), "\"silenced\"");
}

TEST_F(NotifierRun, ProbeOnlyRecordsEvenWhenNeverAsked) {
    start({"--probe", "ignored", "words"});
    EXPECT_THAT(exits, ElementsAre(0));
    EXPECT_THAT(center.authorizationRequests, IsEmpty());
    EXPECT_THAT(center.added, IsEmpty());
    EXPECT_EQ(stored(), "\"notAsked\"");
}

TEST_F(NotifierRun, ProbeWithAnUnknownStatusRecordsNothing) {
    center.settings = {5, 0, 0};
    record(Reach::denied);
    start({"--probe"});
    EXPECT_THAT(exits, ElementsAre(0));
    EXPECT_EQ(stored(), "\"denied\"");
    EXPECT_THAT(logged(), ElementsAre("an authorization status this build does not know, not recorded"));
}

TEST_F(NotifierRun, AsksForAlertAndSoundWithItsOwnBundle) {
    center.promptAnswer = true;
    start({"claim ended"});
    EXPECT_THAT(center.authorizationRequests, ElementsAre(6u));
    EXPECT_THAT(workspace.opened, IsEmpty());
}

TEST_F(NotifierRun, WithoutABundleIdentifierItCannotAskAndDrops) {
    center.promptAnswer = true;
    start({"claim ended"}, std::nullopt);
    EXPECT_THAT(exits, ElementsAre(2));
    EXPECT_THAT(center.authorizationRequests, IsEmpty());
    EXPECT_THAT(logged(),
                ElementsAre("notification reach: notAsked",
                            "no bundle identifier to ask for notifications with; message dropped: claim ended"));
}

TEST_F(NotifierRun, WatchdogGivesUpOnAnUnansweredPromptAfter120Seconds) {
    start({"claim", "ended"});
    time.advance(119999ms);
    EXPECT_THAT(exits, IsEmpty());
    time.advance(1ms);
    EXPECT_THAT(exits, ElementsAre(3));
    EXPECT_THAT(logged(), ElementsAre("notification reach: notAsked",
                                      "no verdict in 120s (prompt unanswered?), giving up on: claim ended"));
}

TEST_F(NotifierRun, WatchdogCoversAPostThatNeverCompletes) {
    center.settings = {2, 2, 1};
    center.completesAdd = false;
    start({"claim ended"});
    time.advance(120s);
    EXPECT_THAT(exits, ElementsAre(3));
}

TEST_F(NotifierRun, WatchdogNamesTheWholeProbeLine) {
    center.answersSettings = false;
    start({"--probe", "x"});
    time.advance(120s);
    EXPECT_THAT(exits, ElementsAre(3));
    EXPECT_THAT(logged(), ElementsAre("no verdict in 120s (prompt unanswered?), giving up on: --probe x"));
}

TEST_F(NotifierRun, TheFirstExitWins) {
    center.settings = {2, 2, 1};
    start({"claim ended"});
    time.advance(10min);
    EXPECT_THAT(exits, ElementsAre(0));
    EXPECT_THAT(logged(), ElementsAre("notification reach: allowed"));
}

TEST_F(NotifierRun, LogLinesCarryTheClocksTimeInUTC) {
    center.settings = {1, 0, 0};
    start({"claim ended"});
    EXPECT_EQ(TestSupport::lines(dir / "logs/service.log").at(0),
              "2026-01-01T00:00:00Z notifier: notification reach: denied");
}

TEST_F(NotifierRun, AnUnwritableLogNeverFailsTheRun) {
    std::ofstream(dir / "logs") << "a file where the folder should be";
    center.settings = {1, 0, 0};
    start({"claim ended"});
    EXPECT_THAT(exits, ElementsAre(2));
}

} // namespace
