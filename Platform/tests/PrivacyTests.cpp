#include <Platform/AppleEvents.hpp>
#include <Platform/Files.hpp>
#include <Platform/Privacy.hpp>
#include <Platform/PrivacyDatabase.hpp>
#include <Platform/Workspace.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/IdleApp.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace Database = Platform::PrivacyDatabase;
namespace Privacy = Platform::Privacy;
namespace AppleEvents = Platform::AppleEvents;
using Database::Value;

constexpr const char* client = "app.test.client";

class PrivacyTest : public testing::Test {
protected:
    void rules(const std::string& text) { TestSupport::writeFile(root / "person/rules.json", text); }

    // A process of `client`: its own view of the database.
    std::unique_ptr<Privacy::Services> process(std::optional<Platform::CodeSigning::SigningInformation> signature = {}) {
        return Privacy::makeSimulatedServices(root.path(), client, {std::string(client), ::getpid()}, *person, queue,
                                              std::move(signature));
    }
    void set(std::string_view service, std::optional<Value> value, std::string_view target = {}) {
        ASSERT_EQ(Database::store(root.path(), client, service, target, value, Database::bySettings), std::nullopt);
    }
    std::optional<Database::Entry> entry(std::string_view service, std::string_view target = {}) {
        for (auto& each : Database::entries(root.path()))
            if (each.client == client && each.service == service && each.target == target) return each;
        return std::nullopt;
    }
    // The kinds and subjects of the prompts the person saw.
    std::vector<std::string> prompts() {
        std::vector<std::string> seen;
        for (const auto& line : TestSupport::lines(root / "person/log.jsonl")) {
            auto value = nlohmann::json::parse(line);
            if (value["event"] == "prompt")
                seen.push_back(value["kind"].get<std::string>() + " " + value["subject"].get<std::string>());
        }
        return seen;
    }
    size_t accessibilityNotices() {
        size_t count = 0;
        for (const auto& line : TestSupport::lines(root / "events/posted.jsonl"))
            count += line.find("com.apple.accessibility.api") != std::string::npos;
        return count;
    }

    TestSupport::TempDir root;
    TestSupport::ImmediateQueue queue;
    std::unique_ptr<Platform::Person> person =
        Platform::makeSimulatedPerson(root.path(), {std::string(client), ::getpid()}, queue);
};

struct SnapshotRow {
    const char* service;
    bool byOwnPrompt; // else by settings
    int allowed;      // what this process reads once the service was allowed
    int denied;       // and then once it was denied in settings
};

TEST_F(PrivacyTest, AProcessKeepsWhatItFirstReadExceptLiveServicesAndItsOwnAnswers) {
    const SnapshotRow rows[] = {
        {"kTCCServiceCamera", false, 2, 2},        {"kTCCServiceCamera", true, 0, 0},
        {"kTCCServiceMicrophone", false, 2, 2},    {"kTCCServiceListenEvent", false, 2, 2},
        {"kTCCServiceScreenCapture", true, 0, 0},  {"kTCCServiceSystemPolicyAllFiles", false, 2, 2},
        {"kTCCServiceAccessibility", false, 0, 1}, {"kTCCServiceAccessibility", true, 0, 1},
        {"kTCCServicePostEvent", false, 0, 1},     {"kTCCServiceMotion", true, 0, 0},
    };
    rules(R"([{"kind":"privacy","answer":"allow"}])");
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.service) + (row.byOwnPrompt ? " by prompt" : " by settings"));
        set(row.service, std::nullopt);
        auto running = process();
        ASSERT_EQ(running->preflight(row.service), 2);
        std::optional<bool> granted;
        if (row.byOwnPrompt)
            running->request(row.service, [&](bool answer) { granted = answer; });
        else
            set(row.service, Value::allowed);
        EXPECT_EQ(granted, row.byOwnPrompt ? std::optional(true) : std::nullopt);
        EXPECT_EQ(running->preflight(row.service), row.allowed);
        EXPECT_EQ(process()->preflight(row.service), 0) << "a fresh process sees every change";
        EXPECT_EQ(entry(row.service)->by, row.byOwnPrompt ? "prompt" : "settings");

        set(row.service, Value::denied);
        EXPECT_EQ(running->preflight(row.service), row.denied);
        EXPECT_EQ(process()->preflight(row.service), 1);
    }
}

TEST_F(PrivacyTest, PreflightAndTheStatusReadersFollowTheStoredValue) {
    struct Row {
        std::optional<Value> stored;
        int preflight, status;
        bool yesNo;
    };
    const Row rows[] = {{std::nullopt, 2, Privacy::Status::notDetermined, false},
                        {Value::allowed, 0, Privacy::Status::authorized, true},
                        {Value::denied, 1, Privacy::Status::denied, false},
                        {Value::restricted, 1, Privacy::Status::restricted, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.preflight);
        for (auto service : Database::privacyServices) set(service, row.stored);
        auto fresh = process();
        for (auto service : Database::privacyServices) EXPECT_EQ(fresh->preflight(service), row.preflight) << service;
        for (auto subject : {Privacy::Subject::audio, Privacy::Subject::video, Privacy::Subject::speech,
                             Privacy::Subject::headphoneMotion})
            EXPECT_EQ(fresh->authorizationStatus(subject), row.status);
        for (auto access : {Privacy::Access::postEvent, Privacy::Access::listenEvent, Privacy::Access::screenCapture})
            EXPECT_EQ(fresh->preflightAccess(access), row.yesNo);
        EXPECT_EQ(fresh->accessibilityTrusted(false), row.yesNo);
    }
    EXPECT_EQ(process()->preflight("kTCCServiceAppleEvents"), 1);
    EXPECT_EQ(process()->preflight("kTCCServiceCameraRoll"), 1);
    EXPECT_TRUE(prompts().empty());
}

TEST_F(PrivacyTest, RequestsPromptOnlyWhenNotDeterminedAndRecordTheAnswer) {
    struct Row {
        const char* rule;
        std::optional<Value> before;
        std::optional<bool> granted; // none: the person has not answered
        std::optional<Value> after;
        size_t prompts;
    };
    const Row rows[] = {
        {R"([{"kind":"privacy","subject":"kTCCServiceCamera","answer":"allow"}])", std::nullopt, true, Value::allowed, 1},
        {R"([{"kind":"privacy","answer":"deny"}])", std::nullopt, false, Value::denied, 1},
        {"[]", std::nullopt, std::nullopt, std::nullopt, 1},
        {R"([{"answer":"allow"}])", Value::denied, false, Value::denied, 0},
        {R"([{"answer":"allow"}])", Value::restricted, false, Value::restricted, 0},
        {R"([{"answer":"deny"}])", Value::allowed, true, Value::allowed, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rule);
        std::filesystem::remove(root / "person/log.jsonl");
        rules(row.rule);
        set("kTCCServiceCamera", row.before);
        std::optional<bool> granted;
        {
            // A person of this row only, so that an unanswered prompt goes with it.
            auto asked = Platform::makeSimulatedPerson(root.path(), {std::string(client), ::getpid()}, queue);
            auto services = Privacy::makeSimulatedServices(root.path(), client, {}, *asked, queue, std::nullopt);
            services->requestCapture(Privacy::Subject::video, [&](bool answer) { granted = answer; });
            EXPECT_EQ(granted, row.granted);
        }
        auto stored = entry("kTCCServiceCamera");
        EXPECT_EQ(stored ? std::optional(stored->value) : std::nullopt, row.after);
        if (row.prompts == 1) {
            EXPECT_EQ(prompts(), std::vector<std::string>{"privacy kTCCServiceCamera"});
            if (row.after) {
                EXPECT_EQ(stored->by, "prompt");
            }
        } else {
            EXPECT_TRUE(prompts().empty());
        }
    }
}

TEST_F(PrivacyTest, EachPublicRequestWaitsOrNotAsThePlatformDoes) {
    rules(R"([{"kind":"privacy","answer":"allow"}])");
    auto services = process();
    // The CoreGraphics and accessibility requests answer with the access
    // before the prompt; the answer lands in the database.
    EXPECT_FALSE(services->requestAccess(Privacy::Access::listenEvent));
    EXPECT_EQ(entry("kTCCServiceListenEvent")->value, Value::allowed);
    EXPECT_TRUE(services->preflightAccess(Privacy::Access::listenEvent)) << "its own prompt shows at once";
    EXPECT_FALSE(services->accessibilityTrusted(true));
    EXPECT_TRUE(services->accessibilityTrusted(false));
    EXPECT_EQ(accessibilityNotices(), 1u);

    int status = -1;
    services->requestSpeech([&](int answer) { status = answer; });
    EXPECT_EQ(status, Privacy::Status::authorized);
    std::optional<bool> granted;
    services->request("kTCCServiceMotion", [&](bool answer) { granted = answer; });
    EXPECT_EQ(granted, true);
    services->request("kTCCServiceNope", [&](bool answer) { granted = answer; });
    EXPECT_EQ(granted, false);
    services->requestCapture(Privacy::Subject::speech, [&](bool answer) { granted = answer; });
    EXPECT_EQ(granted, false);
    EXPECT_EQ(prompts(), (std::vector<std::string>{"privacy kTCCServiceListenEvent", "privacy kTCCServiceAccessibility",
                                                   "privacy kTCCServiceSpeechRecognition", "privacy kTCCServiceMotion"}));
    // Asked again, nothing is shown: the decision stands.
    EXPECT_TRUE(services->requestAccess(Privacy::Access::listenEvent));
    EXPECT_EQ(prompts().size(), 4u);

    // Accessibility changed in settings notifies too; the same value again does not.
    set("kTCCServiceAccessibility", Value::denied);
    set("kTCCServiceAccessibility", Value::denied);
    set("kTCCServiceCamera", Value::denied);
    EXPECT_EQ(accessibilityNotices(), 2u);
}

TEST_F(PrivacyTest, AHardenedProgramWithoutTheEntitlementIsDeniedWithoutAPrompt) {
    struct Row {
        bool hardened;
        nlohmann::json entitlements;
        Privacy::Subject subject;
        bool prompted;
    };
    const Row rows[] = {
        {true, nlohmann::json::object(), Privacy::Subject::video, false},
        {true, {{"com.apple.security.device.camera", "yes"}}, Privacy::Subject::video, false},
        {true, {{"com.apple.security.device.audio-input", true}}, Privacy::Subject::video, false},
        {true, {{"com.apple.security.device.camera", true}}, Privacy::Subject::video, true},
        {true, {{"com.apple.security.device.camera", true}}, Privacy::Subject::audio, false},
        {true, {{"com.apple.security.device.audio-input", true}}, Privacy::Subject::audio, true},
        {false, nlohmann::json::object(), Privacy::Subject::audio, true},
    };
    rules(R"([{"kind":"privacy","answer":"allow"}])");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entitlements.dump() + (row.hardened ? " hardened" : ""));
        std::filesystem::remove(root / "person/log.jsonl");
        std::filesystem::remove(root / "privacy/tcc.json");
        Platform::CodeSigning::SigningInformation signature;
        signature.flags = row.hardened ? Platform::CodeSigning::runtimeFlag : 0;
        signature.entitlements = row.entitlements;
        auto services = process(signature);
        std::optional<bool> granted;
        services->requestCapture(row.subject, [&](bool answer) { granted = answer; });
        EXPECT_EQ(granted, row.prompted);
        EXPECT_EQ(prompts().size(), row.prompted ? 1u : 0u);
        EXPECT_EQ(Database::entries(root.path()).size(), row.prompted ? 1u : 0u);
        EXPECT_EQ(services->authorizationStatus(row.subject),
                  row.prompted ? Privacy::Status::authorized : Privacy::Status::notDetermined);
    }
}

TEST_F(PrivacyTest, EntryPointsCanBeTakenAwayAndTheDisclaimMadeToFail) {
    struct Row {
        Database::EntryPoints points;
        int disclaimed;
    };
    const Row rows[] = {{{}, 0},
                        {{false, true, true, 0}, 0},
                        {{true, false, true, 0}, 0},
                        {{true, true, false, 0}, ENOSYS},
                        {{true, true, true, 5}, 5},
                        {{false, false, false, -3}, ENOSYS}};
    auto services = process();
    for (const auto& row : rows) {
        ASSERT_EQ(Database::setEntryPoints(root.path(), row.points), std::nullopt);
        EXPECT_EQ(Database::entryPoints(root.path()), row.points);
        EXPECT_EQ(services->hasPreflight(), row.points.preflight);
        EXPECT_EQ(services->hasRequest(), row.points.request);
        EXPECT_EQ(services->hasDisclaim(), row.points.disclaim);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        EXPECT_EQ(services->disclaim(attributes, 1), row.disclaimed);
        posix_spawnattr_destroy(&attributes);
    }
    TestSupport::writeFile(root / "privacy/entry-points.json", R"({"absent":"preflight","disclaimResult":1e99})");
    EXPECT_EQ(Database::entryPoints(root.path()), Database::EntryPoints{});
}

TEST_F(PrivacyTest, ADamagedDatabaseIsLeftAloneAndReadsAsEmpty) {
    TestSupport::writeFile(root / "privacy/tcc.json", "{\"entries\": [");
    EXPECT_EQ(Database::store(root.path(), client, "kTCCServiceCamera", {}, Value::allowed, Database::bySettings),
              "the privacy database " + (root / "privacy/tcc.json").string() + " is damaged");
    EXPECT_EQ(Database::applyPane(root.path(), client, "Privacy_Camera", Value::allowed),
              "the privacy database " + (root / "privacy/tcc.json").string() + " is damaged");
    EXPECT_EQ(TestSupport::contents(root / "privacy/tcc.json"), "{\"entries\": [");
    EXPECT_EQ(process()->preflight("kTCCServiceCamera"), 2);
}

// A bundle of `identifier` whose program is the idle app; ended on destruction.
class RunningApp {
public:
    RunningApp(const std::filesystem::path& folder, const std::string& identifier) {
        auto bundle = folder / (identifier + ".app");
        std::filesystem::create_directories(bundle / "Contents/MacOS");
        TestSupport::writeFile(bundle / "Contents/Info.plist",
                               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                               "<key>CFBundleIdentifier</key><string>" + identifier +
                                   "</string><key>CFBundleExecutable</key><string>idle</string></dict></plist>\n");
        auto program = bundle / "Contents/MacOS/idle";
        std::filesystem::copy_file(TestSupport::idleApp(), program);
        std::string path = program.string();
        char* arguments[] = {path.data(), nullptr};
        EXPECT_EQ(::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, arguments, environ), 0);
        // Running once the kernel shows the copied program as its executable.
        for (int tries = 0; tries < 200 && std::filesystem::read_symlink("/proc/" + std::to_string(pid_) + "/exe") !=
                                               std::filesystem::canonical(program);
             ++tries)
            std::this_thread::sleep_for(5ms);
    }
    ~RunningApp() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = 0;
};

TEST_F(PrivacyTest, AppleEventsAnswerByTheTargetsProcessAndTheStoredConsent) {
    auto consent = AppleEvents::makeSimulatedConsent(root.path(), client, {std::string(client), ::getpid()}, *person);
    for (std::string_view bad : {std::string_view(""), std::string_view("a\0b", 3), std::string_view("caf\xe9")})
        EXPECT_EQ(std::get<int32_t>(consent->createAddress(bad)), AppleEvents::paramErr);
    auto target = std::get<AppleEvents::Address>(consent->createAddress("app.test.target"));
    EXPECT_EQ(target.bundleID, "app.test.target");
    EXPECT_EQ(consent->determinePermission(target, true), AppleEvents::procNotFound);
    EXPECT_TRUE(prompts().empty());

    RunningApp running(root / "Applications", "app.test.target");
    struct Row {
        const char* rule;
        std::optional<Value> stored;
        bool ask;
        int32_t code;
        std::optional<Value> after;
    };
    const Row rows[] = {
        {"[]", std::nullopt, false, AppleEvents::wouldRequireUserConsent, std::nullopt},
        {R"([{"kind":"automation","subject":"app.test.target","answer":"allow"}])", std::nullopt, true,
         AppleEvents::noErr, Value::allowed},
        {R"([{"kind":"automation","answer":"deny"}])", std::nullopt, true, AppleEvents::eventNotPermitted,
         Value::denied},
        {R"([{"answer":"allow"}])", Value::denied, true, AppleEvents::eventNotPermitted, Value::denied},
        {R"([{"answer":"allow"}])", Value::restricted, true, AppleEvents::eventNotPermitted, Value::restricted},
        {"[]", Value::allowed, false, AppleEvents::noErr, Value::allowed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rule);
        std::filesystem::remove(root / "person/log.jsonl");
        rules(row.rule);
        set("kTCCServiceAppleEvents", row.stored, "app.test.target");
        EXPECT_EQ(consent->determinePermission(target, row.ask), row.code);
        auto stored = entry("kTCCServiceAppleEvents", "app.test.target");
        EXPECT_EQ(stored ? std::optional(stored->value) : std::nullopt, row.after);
        EXPECT_EQ(prompts().size(), row.ask && !row.stored ? 1u : 0u);
    }
    // Consent is read live, unlike the privacy services.
    set("kTCCServiceAppleEvents", Value::denied, "app.test.target");
    EXPECT_EQ(consent->determinePermission(target, false), AppleEvents::eventNotPermitted);
}

TEST_F(PrivacyTest, ASettingsPaneShowsItselfToThePersonAndTheAnswerSetsItsServices) {
    auto workspace = Platform::makeSimulatedWorkspace(root.path());
    std::string self = Privacy::ownClient();
    auto open = [&](const std::string& anchor) {
        workspace->open(*Platform::URL::parse("x-apple.systempreferences:com.apple.preference.security?" + anchor));
    };
    auto valueOf = [&](std::string_view service, std::string_view target = {}) -> std::optional<Value> {
        // The person answers on the global queue: wait for the change to land.
        for (int tries = 0; tries < 200; ++tries, std::this_thread::sleep_for(5ms))
            if (auto value = Database::lookup(Database::entries(root.path()), self, service, target)) return value;
        return std::nullopt;
    };
    rules(R"([{"kind":"settings","subject":"Privacy_Camera","answer":"allow"},
              {"kind":"settings","subject":"Privacy_Accessibility","answer":"deny"},
              {"kind":"settings","subject":"Privacy_Automation","answer":"allow"}])");
    ASSERT_EQ(Database::store(root.path(), self, "kTCCServiceAppleEvents", "app.x", Value::denied, "prompt"),
              std::nullopt);
    open("Privacy_Camera");
    open("Privacy_Accessibility");
    open("Privacy_Automation");
    EXPECT_EQ(valueOf("kTCCServiceCamera"), Value::allowed);
    EXPECT_EQ(valueOf("kTCCServiceAccessibility"), Value::denied);
    EXPECT_EQ(valueOf("kTCCServicePostEvent"), Value::denied);
    for (int tries = 0; tries < 200 && valueOf("kTCCServiceAppleEvents", "app.x") != Value::allowed; ++tries)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(valueOf("kTCCServiceAppleEvents", "app.x"), Value::allowed);
    EXPECT_EQ(accessibilityNotices(), 1u);
    for (const auto& each : Database::entries(root.path())) EXPECT_EQ(each.by, "settings") << each.service;
    EXPECT_EQ(prompts(), (std::vector<std::string>{"settings Privacy_Camera", "settings Privacy_Accessibility",
                                                   "settings Privacy_Automation"}));

    // Unanswered, a pane stays open only until the next one is opened.
    rules("[]");
    open("Privacy_Microphone");
    open("Privacy_Motion");
    workspace->open(*Platform::URL::parse("x-apple.systempreferences:com.apple.LoginItems-Settings.extension"));
    auto waiting = Platform::openPrompts(root.path());
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].prompt.subject, "Privacy_Motion");
    EXPECT_EQ(waiting[0].prompt.choices, (std::vector<std::string>{"close", "allow", "deny"}));
    EXPECT_EQ(TestSupport::lines(root / "opened-urls.log").size(), 6u);
    workspace.reset();
    EXPECT_TRUE(Platform::openPrompts(root.path()).empty());
}

} // namespace
