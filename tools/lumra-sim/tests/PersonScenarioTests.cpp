// The simulated person and the grants line, driven through the real
// programs: the notifier asks for permission from a child process, and
// lumra-sim answers for the person by rule, after a delay or by hand.

#include <Platform/Files.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <future>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr const char* notifierID = "app.lumra.service.notifier";

// What `lumra grants` shows before the notifications line for the built app,
// which runs from outside any Applications folder.
const std::string jobLines = "Background service  broken  Move to Applications\u2026  Only works from the "
                             "Applications folder.\n"
                             "Login item  broken  Move to Applications\u2026  Only works from the Applications "
                             "folder.\n";

class PersonScenario : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(run(LUMRA_SIM_EXE, {"init"}).status, 0);
        for (const auto& folder : {root() / "person", centre()}) Platform::Files::createDirectories(folder);
        Platform::Files::writeAtomically(root() / "clock.json", R"({"rate":1000})");
    }
    TestSupport::Finished run(const char* executable, const std::vector<std::string>& arguments) {
        return TestSupport::runProcess(executable, arguments,
                                       {{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root().string()}});
    }
    std::filesystem::path root() const { return scratch / "machine"; }
    std::filesystem::path centre() const { return root() / "notifications" / notifierID; }
    std::vector<json> personLog() {
        std::vector<json> lines;
        std::istringstream text(Platform::Files::read(root() / "person/log.jsonl").value_or(""));
        for (std::string line; std::getline(text, line);) lines.push_back(json::parse(line));
        return lines;
    }

    TestSupport::TempDir home;
    TestSupport::TempDir scratch;
};

TEST_F(PersonScenario, ADelayedRuleAnswersTheNotifiersPrompt) {
    // The rule answers after a tenth of the notifier's watchdog (120 ms of
    // 1.2 s at this rate), so a loaded machine cannot reverse the two.
    Platform::Files::writeAtomically(root() / "clock.json", R"({"rate":100})");
    Platform::Files::writeAtomically(root() / "person/rules.json",
                                     R"([{"kind":"notifications","subject":"app.lumra.service.notifier",)"
                                     R"("answer":"allow","after":12}])");
    auto primed = run(LUMRA_NOTIFIER_EXE, {"--prime"});
    EXPECT_EQ(primed.status, 0) << primed.err;
    auto lines = personLog();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["event"], "prompt");
    EXPECT_EQ(lines[0]["app"], notifierID);
    EXPECT_GT(lines[0]["pid"].get<int>(), 0);
    EXPECT_EQ(lines[1]["by"], "rule");
    EXPECT_EQ(run(LUMRA_EXE, {"grants"}).out, jobLines + "Notifications  good\n");
}

TEST_F(PersonScenario, AHandAnswerReachesTheWaitingNotifier) {
    // Real time, so that the notifier's watchdog leaves the person time to answer.
    Platform::Files::writeAtomically(root() / "clock.json", R"({"rate":1})");
    auto primed = std::async(std::launch::async, [&] { return run(LUMRA_NOTIFIER_EXE, {"--prime"}); });
    std::string id;
    for (auto deadline = std::chrono::steady_clock::now() + 10s; id.empty() && std::chrono::steady_clock::now() < deadline;) {
        auto listed = run(LUMRA_SIM_EXE, {"prompts"});
        if (listed.out.starts_with("no open prompts")) {
            std::this_thread::sleep_for(20ms);
            continue;
        }
        id = listed.out.substr(0, listed.out.find(' '));
        EXPECT_NE(listed.out.find(std::string("  notifications  \"") + notifierID + "\"  asked by " + notifierID),
                  std::string::npos)
            << listed.out;
        EXPECT_NE(listed.out.find("answers: allow|deny\n"), std::string::npos) << listed.out;
    }
    ASSERT_FALSE(id.empty());

    auto wrong = run(LUMRA_SIM_EXE, {"answer", id, "perhaps"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "lumra-sim: prompt " + id + " takes one of: allow, deny\n");
    EXPECT_EQ(run(LUMRA_SIM_EXE, {"answer", id, "deny"}).status, 0);
    EXPECT_EQ(primed.get().status, 2);
    EXPECT_EQ(run(LUMRA_SIM_EXE, {"prompts"}).out, "no open prompts\n");
    EXPECT_EQ(personLog().back()["by"], "hand");
    EXPECT_EQ(run(LUMRA_EXE, {"grants"}).out,
              jobLines + "Notifications  broken  Open System Settings\u2026  "
              "Notifications are off in System Settings. macOS never asks twice.\n");
}

TEST_F(PersonScenario, GrantsShowsEverySettingOfTheNotifiersCentre) {
    struct Row {
        const char* settings;
        const char* line;
    };
    const Row rows[] = {
        {nullptr, "Notifications  askable  Allow\u2026\n"},
        {R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":0})",
         "Notifications  broken  Open System Settings\u2026  Allowed, but alerts are off: messages land in "
         "Notification Center without appearing.\n"},
        {R"({"authorizationStatus":3})",
         "Notifications  broken  Open System Settings\u2026  Allowed, but alerts are off: messages land in "
         "Notification Center without appearing.\n"},
        {R"({"authorizationStatus":2})", "Notifications  good\n"},
        {"not json", "Notifications  unknown  Notification settings did not answer.\n"},
    };
    for (const auto& row : rows) {
        if (row.settings) Platform::Files::writeAtomically(centre() / "settings.json", row.settings);
        auto grants = run(LUMRA_EXE, {"grants"});
        EXPECT_EQ(grants.status, 0);
        EXPECT_EQ(grants.out, jobLines + row.line) << (row.settings ? row.settings : "no settings");
    }
    auto usage = run(LUMRA_EXE, {"grants", "extra"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_TRUE(usage.err.starts_with("lumra grants takes no arguments\n\nusage: lumra grants\n")) << usage.err;
}

TEST_F(PersonScenario, SimCommandsRefuseWhatTheyCannotDo) {
    struct Row {
        std::vector<std::string> arguments;
        int status;
        std::string err;
    };
    const Row rows[] = {
        {{"answer", "7", "allow"}, 1, "lumra-sim: no open prompt 7\n"},
        {{"activate", "0"}, 64, "lumra-sim: 0 is no process id\n"},
        {{"activate", "99999999999"}, 64, "lumra-sim: 99999999999 is no process id\n"},
        {{"post", "app.lumra.ping"}, 0, ""},
        {{"activate", "app.lumra.service"}, 0, ""},
    };
    for (const auto& row : rows) {
        auto done = run(LUMRA_SIM_EXE, row.arguments);
        EXPECT_EQ(done.status, row.status) << row.arguments[0];
        EXPECT_EQ(done.err, row.err) << row.arguments[0];
    }
    EXPECT_EQ(Platform::Files::read(root() / "events/front.json"), "{\"app\":\"app.lumra.service\"}\n");
}

} // namespace
