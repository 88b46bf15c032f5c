// The grant pieces as the terminal shows them (colour off), and kept
// current while shown: observed changes, the application becoming active
// and presses, on the real main loop of this process.

#include <PermissionGrants/Observe.hpp>
#include <PermissionGrants/Screens.hpp>

#include <Ink/Window.hpp>
#include <Platform/AppEvents.hpp>
#include <Platform/Dispatch.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using PermissionGrants::PermissionGrant;
using PermissionGrants::Standing;
using PermissionGrants::ViewContext;
using PermissionGrants::Screens::show;
using PermissionGrants::Screens::Shown;
using Case = PermissionGrant::LetterCase;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

// A custom grant whose standing the test sets, observable like any other.
struct Switch {
    explicit Switch(Standing now) : standing(std::move(now)) {}
    Standing standing;
    int acted = 0;
    PermissionGrants::ObservationRegistrar registrar;
    void set(Standing now) {
        standing = std::move(now);
        registrar.didChange();
    }
};

PermissionGrant grant(const std::shared_ptr<Switch>& state, std::string title, bool required = false,
                      std::string why = "Why it is needed.", std::string symbol = "bell") {
    return PermissionGrant(
        std::move(title), std::move(why), std::move(symbol), required,
        [state] {
            state->registrar.access();
            return state->standing;
        },
        [state] { ++state->acted; });
}

std::shared_ptr<Switch> standing(Standing now) { return std::make_shared<Switch>(std::move(now)); }

const Standing askable = Standing::askable("Allow", "Asks once.");
const Standing broken = Standing::broken("Open Settings", "Turned off in Settings.");

// What the pieces told the hub.
struct Surfaces {
    std::vector<std::string> told;
    ViewContext context(Case letterCase = Case::title) {
        return {letterCase, [this](std::string_view why) { told.emplace_back(why); }};
    }
};

// The frame's lines without their trailing blanks, and without the blank
// lines under the last one drawn.
std::string render(const Ink::Element& root, int columns = 60, int rows = 30, const std::string& focused = {}) {
    Ink::Frame frame = Ink::layout(root, {columns, rows}, Ink::Look::plain(), focused);
    std::string text;
    for (std::string line : frame.lines) {
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    while (text.ends_with("\n\n")) text.pop_back();
    return text;
}

// The target of a frame with that focus key; fails the test without one.
Ink::Target target(const Ink::Element& root, const std::string& key) {
    for (const auto& candidate : Ink::layout(root, {60, 30}, Ink::Look::plain()).targets)
        if (candidate.key == key) return candidate;
    ADD_FAILURE() << "no target " << key;
    return {};
}

std::vector<std::string> keys(const Ink::Element& root) {
    std::vector<std::string> found;
    for (const auto& candidate : Ink::layout(root, {60, 30}, Ink::Look::plain()).targets)
        found.push_back(candidate.key);
    return found;
}

// Serves the process's main loop on this thread until `done` holds, at most
// a second.
bool runLoopUntil(const std::function<bool()>& done) {
    auto& loop = Platform::mainLoop();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    bool reached = false;
    std::function<void()> check = [&] {
        if ((reached = done()) || std::chrono::steady_clock::now() > deadline) return loop.stop();
        loop.asyncAfter(std::chrono::milliseconds(1), check);
    };
    loop.async(check);
    loop.run();
    return reached;
}

// Runs `step` on the main loop, then what it posted there.
void onLoop(const std::function<void()>& step) {
    bool ran = false;
    Platform::mainLoop().async([&] {
        step();
        Platform::mainLoop().async([&] { ran = true; });
    });
    ASSERT_TRUE(runLoopUntil([&] { return ran; }));
}

} // namespace
