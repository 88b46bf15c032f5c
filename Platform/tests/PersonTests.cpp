#include <Platform/Files.hpp>
#include <Platform/Notifications.hpp>
#include <Platform/Person.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <future>
#include <sstream>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Platform::Prompt;

class PersonTest : public testing::Test {
protected:
    void rules(const std::string& text) {
        Platform::Files::createDirectories(root / "person");
        Platform::Files::writeAtomically(root / "person/rules.json", text);
    }
    std::unique_ptr<Platform::Person> person(Platform::Queue& queue) {
        return Platform::makeSimulatedPerson(root.path(), {std::string("app.test.asker"), ::getpid()}, queue);
    }
    std::vector<json> log() {
        std::vector<json> lines;
        std::istringstream text(Platform::Files::read(root / "person/log.jsonl").value_or(""));
        for (std::string line; std::getline(text, line);) lines.push_back(json::parse(line));
        return lines;
    }

    TestSupport::TempDir root;
};

struct RuleRow {
    const char* rules;
    Prompt prompt;
    std::optional<std::string> answer; // none: the prompt stays open
};

const Prompt alert{"alert", "Move to Applications?", "Move to Applications?", {"Move", "Do Not Move"}};
const Prompt notifications{"notifications", "app.b", "app.b would like to send you notifications.", {"allow", "deny"}};

TEST_F(PersonTest, RulesAnswerByKindAndSubjectOrLeaveThePromptOpen) {
    const RuleRow rows[] = {
        {"", alert, std::nullopt},
        {R"([{"kind":"alert","answer":"Move"}])", alert, "Move"},
        {R"([{"kind":"alert","subject":"other","answer":"Move"}])", alert, std::nullopt},
        {R"([{"kind":"any","subject":"app.b","answer":"deny"}])", notifications, "deny"},
        {R"([{"answer":"allow"}])", notifications, "allow"},
        // A rule whose answer the prompt does not take, or with a bad delay, fits nothing.
        {R"([{"answer":"Move"},{"kind":"notifications","answer":"allow"}])", notifications, "allow"},
        {R"([{"answer":"allow","after":-1}])", notifications, std::nullopt},
        {R"([{"answer":"allow","after":"soon"}, 7, {"kind":"alert"}])", notifications, std::nullopt},
        {R"([{"kind":"notifications","answer":"deny"},{"answer":"allow"}])", notifications, "deny"},
        {R"({"answer":"allow"})", notifications, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rules);
        rules(row.rules);
        TestSupport::ImmediateQueue queue;
        std::optional<std::string> answered;
        {
            auto asked = person(queue);
            asked->ask(row.prompt, [&](std::string answer) { answered = answer; });
            EXPECT_EQ(answered, row.answer);
            EXPECT_EQ(Platform::openPrompts(root.path()).size(), row.answer ? 0u : 1u);
        }
        // A person that goes away abandons what is still open.
        EXPECT_TRUE(Platform::openPrompts(root.path()).empty());
    }
}

TEST_F(PersonTest, ADelayedRuleAnswersAfterItsSimulatedTimeAndEverythingIsRecorded) {
    rules(R"([{"kind":"notifications","answer":"allow","after":30}])");
    TestSupport::VirtualTime time;
    auto asked = person(time);
    std::optional<std::string> answered;
    asked->ask(notifications, [&](std::string answer) { answered = answer; });
    time.advance(29s);
    EXPECT_EQ(answered, std::nullopt);
    time.advance(1s);
    EXPECT_EQ(answered, "allow");

    auto lines = log();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["event"], "prompt");
    EXPECT_EQ(lines[0]["kind"], "notifications");
    EXPECT_EQ(lines[0]["subject"], "app.b");
    EXPECT_EQ(lines[0]["app"], "app.test.asker");
    EXPECT_EQ(lines[0]["pid"], ::getpid());
    EXPECT_EQ(lines[1]["event"], "answer");
    EXPECT_EQ(lines[1]["id"], lines[0]["id"]);
    EXPECT_EQ(lines[1]["answer"], "allow");
    EXPECT_EQ(lines[1]["by"], "rule");
}

TEST_F(PersonTest, AnOpenPromptWaitsForAHandAnswerItTakes) {
    TestSupport::ImmediateQueue queue;
    auto asked = person(queue);
    std::promise<std::string> answer;
    asked->ask(notifications, [&](std::string given) { answer.set_value(given); });

    auto open = Platform::openPrompts(root.path());
    ASSERT_EQ(open.size(), 1u);
    const std::string id = open[0].id;
    EXPECT_EQ(open[0].prompt.subject, "app.b");
    EXPECT_EQ(open[0].asker.bundleID, "app.test.asker");
    EXPECT_EQ(open[0].asker.pid, ::getpid());

    EXPECT_EQ(Platform::answerPrompt(root.path(), id, "maybe"), "prompt " + id + " takes one of: allow, deny");
    EXPECT_EQ(Platform::answerPrompt(root.path(), "999", "allow"), "no open prompt 999");
    EXPECT_EQ(Platform::answerPrompt(root.path(), "../" + id, "allow"), "no open prompt ../" + id);
    EXPECT_EQ(Platform::answerPrompt(root.path(), id, "deny"), std::nullopt);

    auto future = answer.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), "deny");
    EXPECT_TRUE(Platform::openPrompts(root.path()).empty());
    EXPECT_EQ(log().back()["by"], "hand");
}

// The notification permission prompt: prompt.json first, else the person.
TEST_F(PersonTest, TheNotificationPromptGoesToThePersonWithoutPromptFile) {
    rules(R"([{"kind":"notifications","subject":"app.c","answer":"allow"},{"kind":"notifications","answer":"deny"}])");
    TestSupport::ImmediateQueue queue;
    auto asked = person(queue);
    struct Row {
        const char* bundle;
        const char* promptFile;
        bool granted;
        int status;
    };
    for (Row row : {Row{"app.c", nullptr, true, 2}, Row{"app.d", nullptr, false, 1},
                    Row{"app.e", R"({"grant":true})", true, 2}}) {
        if (row.promptFile) {
            Platform::Files::createDirectories(root / "notifications" / row.bundle);
            Platform::Files::writeAtomically(root / "notifications" / row.bundle / "prompt.json", row.promptFile);
        }
        auto center = Platform::makeSimulatedNotificationCenter(root.path(), std::string(row.bundle), queue, asked.get());
        std::optional<bool> granted;
        center->requestAuthorization(6, [&](bool yes, std::optional<std::string>) { granted = yes; });
        EXPECT_EQ(granted, row.granted) << row.bundle;
        auto settings = json::parse(Platform::Files::read(root / "notifications" / row.bundle / "settings.json").value());
        EXPECT_EQ(settings["authorizationStatus"], row.status) << row.bundle;
    }
    EXPECT_EQ(log().size(), 4u); // two prompts, two answers: prompt.json asks nobody
}

} // namespace
