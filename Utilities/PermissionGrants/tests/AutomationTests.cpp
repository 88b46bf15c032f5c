// Automation consent against a scripted consent service: the readings, the
// prompt off the main thread, and the consent remembered for the run.

#include "PrintStanding.hpp"

#include <PermissionGrants/Automation.hpp>
#include <Platform/Files.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/LogLines.hpp>
#include <TestSupport/LoopThread.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace {

namespace AE = Platform::AppleEvents;
using PermissionGrants::Automation;
using PermissionGrants::Standing;
using TestSupport::logged;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

// Consent as scripted per target: the code a check without asking answers,
// and the person's answer to a prompt, which then stands. A target named
// "unaddressable" gets no address.
class FakeConsent final : public AE::Consent {
public:
    std::map<std::string, int32_t> quiet;
    std::map<std::string, int32_t> prompted;
    std::vector<std::thread::id> promptedOn;
    int checks = 0;
    std::mutex lock;

    std::variant<AE::Address, int32_t> createAddress(std::string_view bundleID) override {
        if (bundleID == "unaddressable") return AE::paramErr;
        return AE::Address{std::string(bundleID)};
    }
    int32_t determinePermission(const AE::Address& target, bool askUserIfNeeded) override {
        std::lock_guard guard(lock);
        ++checks;
        int32_t now = quiet.contains(target.bundleID) ? quiet[target.bundleID] : AE::wouldRequireUserConsent;
        if (!askUserIfNeeded || now != AE::wouldRequireUserConsent) return now;
        promptedOn.push_back(std::this_thread::get_id());
        return quiet[target.bundleID] = prompted[target.bundleID];
    }
};

class FakeEvents final : public Platform::AppEvents {
public:
    std::atomic<int> activations{0};
    std::unique_ptr<Subscription> subscribe(std::string, Handler) override { return nullptr; }
    void post(std::string_view) override {}
    void activate() override { ++activations; }
};

TEST(Automation, ReadsWithoutPromptingAndTheirStandings) {
    struct Row {
        const char* target;
        int32_t code;
        std::optional<bool> allowed;
        Standing standing;
    };
    const Standing refused = Standing::broken("Open Settings\u2026", "Off in Privacy & Security \u203A Automation.");
    const Standing askable = Standing::askable("Allow\u2026");
    const Row rows[] = {
        {"app.test.allowed", AE::noErr, true, Standing::good()},
        {"app.test.never-asked", AE::wouldRequireUserConsent, std::nullopt, askable},
        {"app.test.not-running", AE::procNotFound, std::nullopt, askable},
        {"app.test.refused", AE::eventNotPermitted, false, refused},
        {"app.test.odd", AE::paramErr, false, refused},
        {"unaddressable", AE::noErr, std::nullopt, askable},
    };
    FakeConsent consent;
    for (const auto& row : rows) {
        consent.quiet[row.target] = row.code;
        EXPECT_EQ(Automation::allowed(row.target, consent), row.allowed) << row.target;
        EXPECT_EQ(Automation::standing(row.allowed), row.standing) << row.target;
    }
    EXPECT_EQ(consent.checks, 5); // never for a target without an address
    EXPECT_TRUE(consent.promptedOn.empty());
}

struct Asked {
    std::string log;
    std::thread::id completedOn;
};

// Asks on the main loop and waits for the completion.
Asked ask(const std::string& target, FakeConsent& consent, FakeEvents& events) {
    TestSupport::LoopThread serving(Platform::mainLoop());
    TestSupport::LogLines log;
    std::promise<std::thread::id> done;
    Platform::mainLoop().async([&] {
        Automation::ask(target, [&] { done.set_value(std::this_thread::get_id()); }, consent, events);
    });
    auto future = done.get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready) << target;
    Asked asked{"", future.get()};
    asked.log = log.text();
    EXPECT_EQ(asked.completedOn, serving.id()) << target;
    return asked;
}

TEST(Automation, AskingPromptsOffTheMainThreadAndRemembersConsentForTheRun) {
    struct Row {
        const char* target;
        int32_t quiet;
        int32_t answer;
        int32_t status; // logged
        std::optional<bool> after;
    };
    const Row rows[] = {
        {"app.test.ask-allow", AE::wouldRequireUserConsent, AE::noErr, AE::noErr, true},
        {"app.test.ask-deny", AE::wouldRequireUserConsent, AE::eventNotPermitted, AE::eventNotPermitted, false},
        {"app.test.ask-absent", AE::procNotFound, AE::noErr, AE::procNotFound, std::nullopt},
        {"unaddressable", AE::noErr, AE::noErr, AE::paramErr, std::nullopt},
    };
    for (const auto& row : rows) {
        FakeConsent consent;
        FakeEvents events;
        consent.quiet[row.target] = row.quiet;
        consent.prompted[row.target] = row.answer;
        auto asked = ask(row.target, consent, events);
        EXPECT_EQ(events.activations, 1) << row.target;
        EXPECT_THAT(asked.log, logged(R"("msg":"asked macOS" {"grant":"Automation of )" + std::string(row.target) +
                                      R"(","status":)" + std::to_string(row.status) + "}"))
            << row.target;
        for (auto id : consent.promptedOn) EXPECT_NE(id, asked.completedOn) << row.target;
        EXPECT_EQ(Automation::allowed(row.target, consent), row.after) << row.target;
    }

    // Once allowed in this run, the system is not asked again, even when its
    // own answer lags behind.
    FakeConsent lagging;
    lagging.quiet["app.test.ask-allow"] = AE::wouldRequireUserConsent;
    EXPECT_EQ(Automation::allowed("app.test.ask-allow", lagging), true);
    EXPECT_EQ(lagging.checks, 0);
}

// A refused target is never prompted again: its pane opens instead.
TEST(Automation, AskingARefusedTargetOpensItsPane) {
    FakeConsent consent;
    FakeEvents events;
    consent.quiet["app.test.refused-ask"] = AE::eventNotPermitted;
    auto asked = ask("app.test.refused-ask", consent, events);
    EXPECT_EQ(events.activations, 0);
    EXPECT_TRUE(consent.promptedOn.empty());
    EXPECT_EQ(asked.log.find("asked macOS"), std::string::npos);
    auto opened = Platform::Files::read(Platform::SimulatedHost::root() / "opened-urls.log").value_or("");
    EXPECT_NE(opened.find("x-apple.systempreferences:com.apple.preference.security?Privacy_Automation"),
              std::string::npos)
        << opened;
}

} // namespace
