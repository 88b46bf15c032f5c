#pragma once

// What the view-model tests share: standings by letter, custom grants whose
// standing the test sets, a context that records why pieces watch settings.

#include <PermissionGrants/Views/Pieces.hpp>
#include <Platform/Dispatch.hpp>

#include <memory>
#include <string>
#include <vector>

namespace ViewsTests {

using namespace PermissionGrants;
using Case = PermissionGrant::LetterCase;

// a/n: askable with and without a note, b: broken, u: unknown, g: good.
inline Standing standing(char letter) {
    switch (letter) {
    case 'a': return Standing::askable("Allow\u2026", "Asks once.");
    case 'n': return Standing::askable("Allow\u2026");
    case 'b': return Standing::broken("Open Settings\u2026", "Turned Off.");
    case 'u': return Standing::unknown("Cannot tell.");
    }
    return Standing::good();
}

struct Fake {
    std::shared_ptr<Standing> now;
    std::shared_ptr<int> acted = std::make_shared<int>(0);
    PermissionGrant grant;

    Fake(std::string title, bool required, char letter)
        : now(std::make_shared<Standing>(standing(letter))),
          grant(std::move(title), "Why It Matters.", "gear", required, [now = now] { return *now; },
                [acted = acted] { ++*acted; }) {}
    void set(char letter) const { *now = standing(letter); }
};

struct Watch {
    std::shared_ptr<std::vector<std::string>> reasons = std::make_shared<std::vector<std::string>>();
    ViewContext context(Case letterCase = Case::title) const {
        return {letterCase, [reasons = reasons](std::string_view why) { reasons->emplace_back(why); }};
    }
};

inline std::string text(const Trailing& trailing) {
    if (const auto* mark = std::get_if<GrantMark>(&trailing)) return "mark " + std::string(gradeName(mark->grade));
    const auto& action = std::get<GrantAction>(trailing);
    const char* hues[] = {"yellow", "orange", "green"};
    return hues[static_cast<int>(action.hue)] + std::string(action.fill ? " fill " : " ") + action.label;
}

// Runs what was posted to the main loop (a grant's act() is), on this thread.
inline void runMainLoop() {
    Platform::mainLoop().async([] { Platform::mainLoop().stop(); });
    Platform::mainLoop().run();
}

} // namespace ViewsTests
