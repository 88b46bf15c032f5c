#include <Platform/Notifications.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using Platform::NotificationRequest;
using Platform::NotificationSettings;
using TestSupport::contents;
using TestSupport::lines;
using TestSupport::TempDir;
using TestSupport::VirtualTime;
using TestSupport::writeFile;

constexpr const char* bundleID = "app.lumra.service.notifier";
constexpr const char* notAllowed = "Notifications are not allowed for this application";
constexpr const char* noBundle = "The process has no bundle identifier";

struct Authorization {
    bool granted = false;
    std::optional<std::string> error;
};

// A simulated centre whose completions wait on virtual time, so each test
// sees them arrive only when it runs the queue.
class SimulatedNotificationCenter : public testing::Test {
protected:
    std::filesystem::path folder() const { return root / "notifications" / bundleID; }

    void writeSettings(const std::string& text) { writeFile(folder() / "settings.json", text); }

    NotificationSettings settings() {
        std::optional<NotificationSettings> answer;
        center->getSettings([&](NotificationSettings settings) { answer = settings; });
        EXPECT_FALSE(answer) << "completed on the caller's thread";
        time.runUntilIdle();
        EXPECT_TRUE(answer) << "never completed";
        return answer.value_or(NotificationSettings{-99, -99, -99});
    }

    // The answer to an authorization request, or nothing while unanswered.
    std::optional<Authorization> requestAuthorization(unsigned options) {
        std::optional<Authorization> answer;
        center->requestAuthorization(options, [&](bool granted, std::optional<std::string> error) {
            EXPECT_FALSE(answer) << "completed twice";
            answer = Authorization{granted, std::move(error)};
        });
        EXPECT_FALSE(answer) << "completed on the caller's thread";
        time.runUntilIdle();
        return answer;
    }

    // The error of adding `request`; nothing on success.
    std::optional<std::string> add(NotificationRequest request) {
        bool completed = false;
        std::optional<std::string> error;
        center->add(std::move(request), [&](std::optional<std::string> failure) {
            EXPECT_FALSE(completed) << "completed twice";
            completed = true;
            error = std::move(failure);
        });
        EXPECT_FALSE(completed) << "completed on the caller's thread";
        time.runUntilIdle();
        EXPECT_TRUE(completed) << "never completed";
        return error;
    }

    std::vector<json> delivered() const {
        std::vector<json> parsed;
        for (const auto& line : lines(folder() / "delivered.jsonl")) parsed.push_back(json::parse(line));
        return parsed;
    }

    TempDir root;
    VirtualTime time;
    std::unique_ptr<Platform::NotificationCenter> center =
        Platform::makeSimulatedNotificationCenter(root.path(), bundleID, time);
};

const NotificationRequest request{"lumra.1", "Lumra", "Your Mac stays awake", "default"};

// --- settings

TEST_F(SimulatedNotificationCenter, NoSettingsFileIsNotDetermined) {
    auto read = settings();
    EXPECT_EQ(read.authorizationStatus, 0);
    EXPECT_EQ(read.alertSetting, 0);
    EXPECT_EQ(read.alertStyle, 0);
}

TEST_F(SimulatedNotificationCenter, SettingsFileValuesAreReadBack) {
    struct Row {
        const char* text;
        NotificationSettings expected;
    };
    for (auto [text, expected] : std::vector<Row>{
             {R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":1})", {2, 2, 1}},
             {R"({"authorizationStatus":2,"alertSetting":1,"alertStyle":0})", {2, 1, 0}},
             {R"({"alertStyle":2, "authorizationStatus":3, "alertSetting":0, "other":true})", {3, 0, 2}},
             {R"({"authorizationStatus":1,"alertSetting":0,"alertStyle":0})", {1, 0, 0}},
             {R"({"authorizationStatus":7,"alertSetting":2,"alertStyle":1})", {7, 2, 1}},
         }) {
        writeSettings(text);
        auto read = settings();
        EXPECT_EQ(read.authorizationStatus, expected.authorizationStatus) << text;
        EXPECT_EQ(read.alertSetting, expected.alertSetting) << text;
        EXPECT_EQ(read.alertStyle, expected.alertStyle) << text;
    }
}

TEST_F(SimulatedNotificationCenter, MissingOrNonIntegerAlertValuesDefaultToEnabledBanners) {
    for (const char* text : {R"({"authorizationStatus":2})", R"({"authorizationStatus":2,"alertSetting":"0"})",
                             R"({"authorizationStatus":2,"alertStyle":null,"alertSetting":1.5})"}) {
        writeSettings(text);
        auto read = settings();
        EXPECT_EQ(read.authorizationStatus, 2) << text;
        EXPECT_EQ(read.alertSetting, 2) << text;
        EXPECT_EQ(read.alertStyle, 1) << text;
    }
}

// A settings file that cannot be read reports a status no build knows, not
// "not determined", which would invite a prompt.
TEST_F(SimulatedNotificationCenter, DamagedSettingsReportAnUnknownStatus) {
    for (const char* text :
         {"", "{", "not json", "[]", "2", "{}", R"({"authorizationStatus":"2"})", R"({"authorizationStatus":2.5})",
          R"({"authorizationStatus":null})", R"({"alertSetting":2,"alertStyle":1})"}) {
        writeSettings(text);
        auto read = settings();
        EXPECT_EQ(read.authorizationStatus, -1) << text;
        EXPECT_EQ(read.alertSetting, 0) << text;
        EXPECT_EQ(read.alertStyle, 0) << text;
    }
}

// --- requestAuthorization

TEST_F(SimulatedNotificationCenter, EveryAuthorizationRequestIsRecorded) {
    writeFile(folder() / "prompt.json", R"({"grant":true})");
    requestAuthorization(6);
    requestAuthorization(7);
    requestAuthorization(0);

    std::vector<json> recorded;
    for (const auto& line : lines(folder() / "requests.jsonl")) recorded.push_back(json::parse(line));
    EXPECT_EQ(recorded, (std::vector<json>{{{"options", 6}}, {{"options", 7}}, {{"options", 0}}}));
}

TEST_F(SimulatedNotificationCenter, GrantedPromptAuthorizesWithBanners) {
    writeFile(folder() / "prompt.json", R"({"grant":true})");

    auto answer = requestAuthorization(6);

    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->granted);
    EXPECT_EQ(answer->error, std::nullopt);
    EXPECT_EQ(json::parse(contents(folder() / "settings.json")),
              (json{{"authorizationStatus", 2}, {"alertSetting", 2}, {"alertStyle", 1}}));
    auto read = settings();
    EXPECT_EQ(read.authorizationStatus, 2);
    EXPECT_EQ(read.alertSetting, 2);
    EXPECT_EQ(read.alertStyle, 1);
}

TEST_F(SimulatedNotificationCenter, RefusedPromptDenies) {
    writeFile(folder() / "prompt.json", R"({"grant":false})");

    auto answer = requestAuthorization(6);

    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->granted);
    EXPECT_EQ(answer->error, std::nullopt);
    EXPECT_EQ(json::parse(contents(folder() / "settings.json"))["authorizationStatus"], 1);
    EXPECT_EQ(settings().authorizationStatus, 1);
}

// The person never answers: the completion never runs, however long one
// waits, and the settings stay as they were.
TEST_F(SimulatedNotificationCenter, UnansweredPromptNeverCompletes) {
    for (const char* prompt :
         {static_cast<const char*>(nullptr), "", "{", R"({"grant":"yes"})", R"({"grant":1})", R"({"answer":true})"}) {
        if (prompt) writeFile(folder() / "prompt.json", prompt);
        EXPECT_EQ(requestAuthorization(6), std::nullopt) << (prompt ? prompt : "no prompt.json");
        time.advance(std::chrono::hours(24));
        EXPECT_EQ(time.pendingTasks(), 0u);
        EXPECT_FALSE(std::filesystem::exists(folder() / "settings.json")) << (prompt ? prompt : "no prompt.json");
    }
    EXPECT_EQ(lines(folder() / "requests.jsonl").size(), 6u);
}

// Once the person has decided (or the settings are unreadable) nobody is
// asked again: the answer follows the stored status and the file is kept
// byte for byte.
TEST_F(SimulatedNotificationCenter, DecidedStatusAnswersWithoutPrompting) {
    struct Row {
        const char* settings;
        const char* prompt;
        bool granted;
    };
    for (auto [stored, prompt, granted] : std::vector<Row>{
             {R"({"authorizationStatus":1,"alertSetting":0,"alertStyle":0})", R"({"grant":true})", false},
             {R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":0})", R"({"grant":false})", true},
             {R"({"authorizationStatus":3})", R"({"grant":false})", true},
             {R"({"authorizationStatus":4})", R"({"grant":false})", true},
             {"{ damaged", R"({"grant":true})", false},
         }) {
        writeSettings(stored);
        writeFile(folder() / "prompt.json", prompt);
        auto answer = requestAuthorization(6);
        ASSERT_TRUE(answer) << stored;
        EXPECT_EQ(answer->granted, granted) << stored;
        EXPECT_EQ(answer->error, std::nullopt) << stored;
        EXPECT_EQ(contents(folder() / "settings.json"), stored);
    }
}

// --- add

TEST_F(SimulatedNotificationCenter, AddDeliversOneLinePerNotification) {
    writeSettings(R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":1})");

    EXPECT_EQ(add(request), std::nullopt);
    EXPECT_EQ(add({"lumra.2", "Second", "Line one\nline \"two\"", ""}), std::nullopt);

    auto text = contents(folder() / "delivered.jsonl");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(
        delivered(),
        (std::vector<json>{
            {{"identifier", "lumra.1"}, {"title", "Lumra"}, {"body", "Your Mac stays awake"}, {"sound", "default"}},
            {{"identifier", "lumra.2"}, {"title", "Second"}, {"body", "Line one\nline \"two\""}, {"sound", ""}},
        }));
}

TEST_F(SimulatedNotificationCenter, ProvisionalStatusDelivers) {
    writeSettings(R"({"authorizationStatus":3})");
    EXPECT_EQ(add(request), std::nullopt);
    EXPECT_EQ(delivered().size(), 1u);
}

TEST_F(SimulatedNotificationCenter, AddFailsWhenNotAllowed) {
    EXPECT_EQ(add(request), notAllowed);
    writeSettings(R"({"authorizationStatus":0})");
    EXPECT_EQ(add(request), notAllowed);
    writeSettings(R"({"authorizationStatus":1,"alertSetting":0,"alertStyle":0})");
    EXPECT_EQ(add(request), notAllowed);
    EXPECT_FALSE(std::filesystem::exists(folder() / "delivered.jsonl"));
}

TEST_F(SimulatedNotificationCenter, AddErrorFileFailsWithItsText) {
    writeSettings(R"({"authorizationStatus":2,"alertSetting":2,"alertStyle":1})");
    for (auto [text, error] : std::vector<std::pair<const char*, const char*>>{
             {"The disk is full\n", "The disk is full"},
             {"Busy\r\n\n", "Busy"},
             {"Two\nlines", "Two\nlines"},
             {"no newline", "no newline"},
         }) {
        writeFile(folder() / "add-error.txt", text);
        EXPECT_EQ(add(request), error);
    }
    EXPECT_FALSE(std::filesystem::exists(folder() / "delivered.jsonl"));

    std::filesystem::remove(folder() / "add-error.txt");
    EXPECT_EQ(add(request), std::nullopt);
    EXPECT_EQ(delivered().size(), 1u);
}

// Text that is not valid UTF-8 must not break the line or the file for the
// reader.
TEST_F(SimulatedNotificationCenter, InvalidUTF8StillGivesAParseableLine) {
    writeSettings(R"({"authorizationStatus":2})");
    EXPECT_EQ(add({"lumra.\xff", "caf\xe9", "half \xe2\x82 a euro, whole \xe2\x82\xac", "default"}), std::nullopt);

    auto lines = TestSupport::lines(folder() / "delivered.jsonl");
    ASSERT_EQ(lines.size(), 1u);
    auto parsed = json::parse(lines[0], nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << lines[0];
    auto body = parsed["body"].get<std::string>();
    EXPECT_TRUE(body.starts_with("half ")) << body;
    EXPECT_TRUE(body.ends_with("whole \xe2\x82\xac")) << body;
    EXPECT_NE(body.find("\xef\xbf\xbd"), std::string::npos) << body; // U+FFFD marks the damage
    EXPECT_TRUE(parsed["title"].get<std::string>().starts_with("caf"));
}

// A request already made is answered even when its centre has gone by the
// time the queue gets to it.
TEST(SimulatedNotificationCenterLifetime, QueuedCompletionsOutliveTheCentre) {
    TempDir root;
    VirtualTime time;
    writeFile(root / "notifications" / bundleID / "settings.json", R"({"authorizationStatus":2})");
    auto center = Platform::makeSimulatedNotificationCenter(root.path(), bundleID, time);
    std::optional<NotificationSettings> read;
    std::optional<std::string> added = "not completed";
    center->getSettings([&](NotificationSettings settings) { read = settings; });
    center->add(request, [&](std::optional<std::string> error) { added = std::move(error); });
    center.reset();

    time.runUntilIdle();

    ASSERT_TRUE(read);
    EXPECT_EQ(read->authorizationStatus, 2);
    EXPECT_EQ(added, std::nullopt);
}

// --- without a usable bundle identifier

TEST(UnbundledNotificationCenter, IsNeverAskedAndCannotPost) {
    for (std::optional<std::string> id :
         {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>("."),
          std::optional<std::string>(".."), std::optional<std::string>("a/b"),
          std::optional<std::string>(std::string("a\0b", 3))}) {
        const std::string label = id ? "\"" + *id + "\"" : "none";
        TempDir root;
        // Whatever such an identifier could point at is set up to allow
        // everything, so a centre that reached it would show.
        for (auto folder : {root / "notifications", root / "notifications/a/b", root.path()}) {
            writeFile(folder / "settings.json", R"({"authorizationStatus":2})");
            writeFile(folder / "prompt.json", R"({"grant":true})");
        }
        TestSupport::ImmediateQueue queue;
        auto center = Platform::makeSimulatedNotificationCenter(root.path(), id, queue);

        std::optional<NotificationSettings> read;
        center->getSettings([&](NotificationSettings settings) { read = settings; });
        ASSERT_TRUE(read) << label;
        EXPECT_EQ(read->authorizationStatus, 0) << label;

        std::optional<Authorization> answer;
        center->requestAuthorization(6, [&](bool granted, std::optional<std::string> error) {
            answer = Authorization{granted, std::move(error)};
        });
        ASSERT_TRUE(answer) << label;
        EXPECT_FALSE(answer->granted) << label;
        EXPECT_EQ(answer->error, noBundle) << label;

        std::optional<std::optional<std::string>> added;
        center->add(request, [&](std::optional<std::string> error) { added = std::move(error); });
        ASSERT_TRUE(added) << label;
        EXPECT_EQ(*added, noBundle) << label;

        for (const auto& entry : std::filesystem::recursive_directory_iterator(root.path())) {
            auto name = entry.path().filename();
            EXPECT_TRUE(name != "delivered.jsonl" && name != "requests.jsonl") << label << " " << entry.path();
        }
    }
}

} // namespace
