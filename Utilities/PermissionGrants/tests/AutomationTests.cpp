// Automation consent against a scripted consent service: the readings, the
// prompt off the main thread, and the consent remembered for the run.

#include "PrintStanding.hpp"

#include <PermissionGrants/Automation.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/LogLines.hpp>
#include <TestSupport/LoopThread.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>

namespace {

namespace AE = Platform::AppleEvents;
using PermissionGrants::Automation;
using PermissionGrants::Standing;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

// Each target answers `quiet` (default: never asked) until a prompt's answer
// from `prompted` replaces it; "unaddressable" gets no address.
struct FakeConsent final : AE::Consent {
    std::map<std::string, int32_t> quiet, prompted;
    std::vector<std::thread::id> promptedOn;
    int checks = 0;
    std::mutex lock;

    std::variant<AE::Address, int32_t> createAddress(std::string_view bundleID) override {
        if (bundleID == "unaddressable") return AE::paramErr;
        return AE::Address{std::string(bundleID)};
    }
    int32_t determinePermission(const AE::Address& target, bool ask) override {
        std::lock_guard guard(lock);
        ++checks;
        auto now = quiet.try_emplace(target.bundleID, AE::wouldRequireUserConsent).first;
        if (!ask || now->second != AE::wouldRequireUserConsent) return now->second;
        promptedOn.push_back(std::this_thread::get_id());
        return now->second = prompted[target.bundleID];
    }
};

struct FakeEvents final : Platform::AppEvents {
    std::atomic<int> activations{0};
    std::unique_ptr<Subscription> subscribe(std::string, Handler) override { return nullptr; }
    void post(std::string_view) override {}
    void activate() override { ++activations; }
};

TEST(Automation, ReadsWithoutPromptingAndTheirStandings) {
    const Standing refused = Standing::broken("Open Settings\u2026", "Off in Privacy & Security \u203A Automation.");
    const Standing askable = Standing::askable("Allow\u2026");
    const std::tuple<const char*, int32_t, std::optional<bool>, Standing> rows[] = {
        {"app.test.allowed", AE::noErr, true, Standing::good()},
        {"app.test.never-asked", AE::wouldRequireUserConsent, std::nullopt, askable},
        {"app.test.not-running", AE::procNotFound, std::nullopt, askable},
        {"app.test.refused", AE::eventNotPermitted, false, refused},
        {"app.test.odd", AE::paramErr, false, refused},
        {"unaddressable", AE::noErr, std::nullopt, askable},
    };
    FakeConsent consent;
    for (const auto& [target, code, allowed, standing] : rows) {
        consent.quiet[target] = code;
        EXPECT_EQ(Automation::allowed(target, consent), allowed) << target;
        EXPECT_EQ(Automation::standing(allowed), standing) << target;
    }
    EXPECT_EQ(consent.checks, 5); // never for a target without an address
    EXPECT_TRUE(consent.promptedOn.empty());
}

// Asks on the main loop; answers the log once the completion ran there.
std::string ask(const std::string& target, FakeConsent& consent, FakeEvents& events) {
    TestSupport::LoopThread serving(Platform::mainLoop());
    TestSupport::LogLines log;
    std::promise<std::thread::id> done;
    Platform::mainLoop().async(
        [&] { Automation::ask(target, [&] { done.set_value(std::this_thread::get_id()); }, consent, events); });
    EXPECT_EQ(done.get_future().get(), serving.id()) << target;
    for (auto id : consent.promptedOn) EXPECT_NE(id, serving.id()) << target;
    return log.text();
}

// Asking prompts off the main thread, logs the system's answer, and a consent
// given is believed for the rest of the run.
TEST(Automation, AskingPromptsAndRemembersConsent) {
    struct Row {
        const char* target;
        int32_t quiet, answer, logged;
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
        EXPECT_THAT(ask(row.target, consent, events),
                    TestSupport::logged(R"("msg":"asked macOS" {"grant":"Automation of )" + std::string(row.target) +
                                        R"(","status":)" + std::to_string(row.logged) + "}"))
            << row.target;
        EXPECT_EQ(events.activations, 1) << row.target;
        EXPECT_EQ(Automation::allowed(row.target, consent), row.after) << row.target;
    }

    // Once allowed in this run, the system is not consulted again.
    FakeConsent lagging;
    EXPECT_EQ(Automation::allowed("app.test.ask-allow", lagging), true);
    EXPECT_EQ(lagging.checks, 0);
}

// A refused target is never prompted again: its pane opens instead.
TEST(Automation, AskingARefusedTargetOpensItsPane) {
    FakeConsent consent;
    FakeEvents events;
    consent.quiet["app.test.refused-ask"] = AE::eventNotPermitted;
    const auto panes = Platform::SimulatedHost::root() / "opened-urls.log";
    size_t opened = TestSupport::lines(panes).size();
    EXPECT_EQ(ask("app.test.refused-ask", consent, events).find("asked macOS"), std::string::npos);
    EXPECT_EQ(events.activations, 0);
    EXPECT_TRUE(consent.promptedOn.empty());
    auto added = TestSupport::lines(panes);
    ASSERT_EQ(added.size(), opened + 1);
    EXPECT_EQ(added.back(), "x-apple.systempreferences:com.apple.preference.security?Privacy_Automation");
}

} // namespace
