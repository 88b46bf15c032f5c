// A window with a sheet of ten grants at 100×40: a full redraw (the view
// drawn and laid out again, the changed lines written) and a redraw when
// nothing changed, which must not lay anything out.

#include <PermissionGrants/Screens.hpp>

#include <Ink/Window.hpp>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using PermissionGrants::PermissionGrant;
using PermissionGrants::Standing;

std::vector<PermissionGrant> tenGrants() {
    std::vector<PermissionGrant> grants;
    for (int index = 0; index < 10; ++index) {
        Standing standing = index % 3 == 0   ? Standing::good()
                            : index % 3 == 1 ? Standing::askable("Allow", "Asks once, then remembers.")
                                             : Standing::broken("Open Settings", "Turned off in System Settings.");
        grants.emplace_back(
            "Grant number " + std::to_string(index), "What it is for, in a sentence or two.", "bell", index % 2 == 0,
            [standing] { return standing; }, [] {});
    }
    return grants;
}

struct SheetWindow {
    std::unique_ptr<PermissionGrants::Screens::Shown> shown = PermissionGrants::Screens::show(
        PermissionGrant::Sheet("Lumra", "What it needs.", tenGrants(), "It works without these.", [] {},
                               {PermissionGrant::LetterCase::title, [](std::string_view) {}}),
        [] {});
    Ink::Window window{[this] { return shown->draw(); }, Ink::Look{true, true}};
    SheetWindow() {
        window.resize({100, 40});
        window.redraw();
    }
};

void fullRedraw(benchmark::State& state) {
    SheetWindow sheet;
    size_t bytes = 0;
    for (auto _ : state) {
        sheet.window.invalidate();
        bytes += sheet.window.redraw().size();
    }
    state.counters["bytes"] = benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(fullRedraw)->Unit(benchmark::kMicrosecond);

// Alternating the focus between two rows changes what is drawn each time:
// the view is laid out again and the two lines written.
void redrawAfterFocusMoved(benchmark::State& state) {
    SheetWindow sheet;
    size_t bytes = 0;
    for (auto _ : state) {
        sheet.window.key(Ink::Key::tab);
        bytes += sheet.window.redraw().size();
    }
    state.counters["bytes"] = benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(redrawAfterFocusMoved)->Unit(benchmark::kMicrosecond);

void redrawWhenNothingChanged(benchmark::State& state) {
    SheetWindow sheet;
    size_t bytes = 0;
    for (auto _ : state) bytes += sheet.window.redraw().size();
    state.counters["bytes"] = benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(redrawWhenNothingChanged);

} // namespace
