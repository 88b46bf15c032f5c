#pragma once

// What the view-model tests share: custom grants whose standing the test
// sets, a context that records what it tells the privacy hub, and the
// standings and printers the tables use.

#include "PrintStanding.hpp"

#include <PermissionGrants/Views/Pieces.hpp>
#include <Platform/Dispatch.hpp>

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace PermissionGrants {

inline void PrintTo(const GrantMark& mark, std::ostream* out) { *out << "mark " << gradeName(mark.grade); }

inline void PrintTo(const GrantAction& action, std::ostream* out) {
    const char* hues[] = {"yellow", "orange", "green"};
    *out << hues[static_cast<int>(action.hue)] << (action.fill ? " filled" : "") << " action \"" << action.label
         << "\"";
}

} // namespace PermissionGrants

namespace ViewsTests {

using PermissionGrants::PermissionGrant;
using PermissionGrants::Standing;
using LetterCase = PermissionGrant::LetterCase;

inline Standing askable() { return Standing::askable("Allow\u2026", "Asks once."); }
inline Standing askableWithoutNote() { return Standing::askable("Allow\u2026"); }
inline Standing broken() { return Standing::broken("Open Settings\u2026", "Turned off in Settings."); }
inline Standing unknown() { return Standing::unknown("Cannot tell."); }
inline Standing good() { return Standing::good(); }

// A custom grant whose standing the test changes; it counts its acts.
struct Switchable {
    std::shared_ptr<Standing> now;
    std::shared_ptr<int> acted = std::make_shared<int>(0);
    PermissionGrant grant;

    Switchable(std::string title, bool required, Standing standing, std::string why = "It needs it.")
        : now(std::make_shared<Standing>(std::move(standing))),
          grant(std::move(title), std::move(why), "gear", required, [now = now] { return *now; },
                [acted = acted] { ++*acted; }) {}

    void set(Standing standing) const { *now = std::move(standing); }
};

// A view context that keeps every reason it was given for watching settings.
struct Watch {
    std::shared_ptr<std::vector<std::string>> reasons = std::make_shared<std::vector<std::string>>();

    PermissionGrants::ViewContext context(LetterCase letterCase = LetterCase::title) const {
        return {letterCase, [reasons = reasons](std::string_view why) { reasons->emplace_back(why); }};
    }
    size_t count() const { return reasons->size(); }
};

// Runs what is posted to the main loop so far (a grant's act() is), on
// this thread.
inline void runMainLoop() {
    Platform::mainLoop().async([] { Platform::mainLoop().stop(); });
    Platform::mainLoop().run();
}

} // namespace ViewsTests
