// The real lumra-notifier executable against a fresh simulated host, under a
// temporary HOME and LUMRA_SIM_ROOT.

#include <TestSupport/Subprocess.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace {

using TestSupport::contents;

using testing::HasSubstr;
using testing::MatchesRegex;

const std::filesystem::path bundledNotifier = LUMRA_NOTIFIER_EXE;

std::vector<nlohmann::json> jsonLines(const std::filesystem::path& file) {
    std::vector<nlohmann::json> lines;
    for (const auto& line : TestSupport::lines(file)) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

class NotifierExecutable : public testing::Test {
protected:
    TestSupport::Finished notify(const std::vector<std::string>& arguments,
                                 const std::filesystem::path& executable = bundledNotifier) {
        return TestSupport::runProcess(executable, arguments,
                                       {{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", sim.path().string()}});
    }

    // The simulated notification centre of the notifier's bundle.
    std::filesystem::path centre(const std::string& file = "") const {
        auto folder = sim / "notifications/app.lumra.service.notifier";
        std::filesystem::create_directories(folder);
        return file.empty() ? folder : folder / file;
    }

    std::filesystem::path state(const std::string& root = "lumra") const { return home / ".local/state" / root; }
    std::filesystem::path serviceLog(const std::string& root = "lumra") const {
        return home / "Library/Logs" / root / "service.log";
    }

    TestSupport::TempDir home;
    TestSupport::TempDir sim;
};

TEST_F(NotifierExecutable, UsageErrorExits64AndRecordsNothing) {
    for (auto arguments : {std::vector<std::string>{}, std::vector<std::string>{" ", "\n"}}) {
        auto finished = notify(arguments);
        EXPECT_EQ(finished.status, 64);
        EXPECT_EQ(finished.err, "usage: lumra-notifier <message> | --prime | --probe\n");
        EXPECT_EQ(finished.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(home / ".local"));
    EXPECT_FALSE(std::filesystem::exists(home / "Library"));
}

TEST_F(NotifierExecutable, ProbeRecordsTheReachOnAFreshHostAndExits0) {
    auto finished = notify({"--probe", "and", "more"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(contents(state() / "notifications.json"), "\"notAsked\"");
    EXPECT_THAT(contents(serviceLog()),
                MatchesRegex(
                    "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z notifier: notification reach: notAsked\n"));
    EXPECT_FALSE(std::filesystem::exists(centre("requests.jsonl")));
}

TEST_F(NotifierExecutable, ProbeReplacesADamagedRecord) {
    std::filesystem::create_directories(state());
    TestSupport::writeFile(state() / "notifications.json", "\"maybe\"");
    TestSupport::writeFile(centre("settings.json"), R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":1})");
    EXPECT_EQ(notify({"--probe"}).status, 0);
    EXPECT_EQ(contents(state() / "notifications.json"), "\"allowed\"");
    EXPECT_THAT(contents(serviceLog()), HasSubstr("notifier: notification reach: allowed\n"));
}

TEST_F(NotifierExecutable, UnreadableSettingsGiveNoReachAndThePostGoesOut) {
    TestSupport::writeFile(centre("settings.json"), "{not json");
    auto finished = notify({"claim ended"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_FALSE(std::filesystem::exists(state() / "notifications.json"));
    EXPECT_THAT(contents(serviceLog()), HasSubstr("an authorization status this build does not know, not recorded\n"));
    EXPECT_THAT(contents(serviceLog()), HasSubstr("posting without a known reach\n"));
}

TEST_F(NotifierExecutable, AskedGrantedAndPostedExits0) {
    TestSupport::writeFile(centre("prompt.json"), R"({"grant":true})");
    auto finished = notify({"  Your", "claim   ended  "});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(contents(centre("requests.jsonl")), "{\"options\":6}\n");
    auto delivered = jsonLines(centre("delivered.jsonl"));
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0]["title"], "lumra");
    EXPECT_EQ(delivered[0]["body"], "Your claim   ended");
    EXPECT_EQ(delivered[0]["sound"], "default");
    EXPECT_EQ(contents(state() / "notifications.json"), "\"allowed\"");
}

TEST_F(NotifierExecutable, RefusedAddExits1) {
    TestSupport::writeFile(centre("settings.json"), R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":1})");
    TestSupport::writeFile(centre("add-error.txt"), "Notification centre is full\n");
    EXPECT_EQ(notify({"claim ended"}).status, 1);
    EXPECT_THAT(contents(serviceLog()), HasSubstr("notifier: add failed: Notification centre is full\n"));
    EXPECT_FALSE(std::filesystem::exists(centre("delivered.jsonl")));
}

TEST_F(NotifierExecutable, DeniedExits2) {
    TestSupport::writeFile(centre("settings.json"), R"({"authorizationStatus":1,"alertSetting":0,"alertStyle":0})");
    EXPECT_EQ(notify({"claim ended"}).status, 2);
    EXPECT_THAT(contents(serviceLog()),
                HasSubstr("notifier: notifications denied for lumra; message dropped: claim ended\n"));
}

TEST_F(NotifierExecutable, RefusedAtThePromptExits2) {
    TestSupport::writeFile(centre("prompt.json"), R"({"grant":false})");
    EXPECT_EQ(notify({"--prime"}).status, 2);
    EXPECT_THAT(contents(serviceLog()), HasSubstr("notifier: notifications DENIED at the prompt\n"));
    EXPECT_THAT(contents(centre("settings.json")), HasSubstr("\"authorizationStatus\":1"));
}

// Time on the simulated host runs 1000 times faster, so the 120-second
// watchdog fires after about 120 ms of real time.
TEST_F(NotifierExecutable, UnansweredPromptExits3ByTheWatchdog) {
    TestSupport::writeFile(sim / "clock.json", R"({"rate":1000})");
    auto finished = notify({"claim ended"});
    EXPECT_EQ(finished.status, 3);
    EXPECT_THAT(contents(serviceLog()),
                HasSubstr("notifier: no verdict in 120s (prompt unanswered?), giving up on: claim ended\n"));
}

// A copy outside any bundle has no bundle identifier: a development build
// with its own state and log, which cannot ask for permission.
TEST_F(NotifierExecutable, BareExecutableIsADevelopmentBuild) {
    TestSupport::TempDir elsewhere;
    std::filesystem::copy_file(bundledNotifier, elsewhere / "lumra-notifier");
    EXPECT_EQ(notify({"--probe"}, elsewhere / "lumra-notifier").status, 0);
    EXPECT_EQ(contents(state("lumra-dev") / "notifications.json"), "\"notAsked\"");
    EXPECT_FALSE(std::filesystem::exists(state()));

    EXPECT_EQ(notify({"claim ended"}, elsewhere / "lumra-notifier").status, 2);
    EXPECT_THAT(contents(serviceLog("lumra-dev")), HasSubstr("no bundle identifier to ask for notifications with"));
}

} // namespace
