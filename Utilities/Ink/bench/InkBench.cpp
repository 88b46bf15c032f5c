#include <Ink/Element.hpp>
#include <Ink/Window.hpp>

#include <benchmark/benchmark.h>

namespace {

using namespace Ink;

// A sheet-like tree: `count` rows, each a symbol, a title, a detail line
// and a tinted button or a mark.
Element rows(int count, int changed = -1) {
    std::vector<Element> children{text("Lumra needs a few permissions", Role::largeTitle)};
    for (int i = 0; i < count; ++i) {
        Element trailing =
            i % 2 == 0
                ? mark(i != changed)
                : button(Button{.key = "row" + std::to_string(i), .label = "Allow", .hue = Hue::yellow, .arrow = true});
        children.push_back(
            row(hstack({symbol("bell"),
                        vstack({text("Grant number " + std::to_string(i), Role::title),
                                text("Why this grant is needed, in a few words that wrap", Role::secondary)})}),
                trailing));
    }
    children.push_back(footerBar({button(Button{.key = "done", .label = "Done", .isDefault = true})}));
    return section("Required", std::move(children), "Optional ones can wait.");
}

void LayoutAndRepaint(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Look look{true, true};
    Frame before = layout(rows(count), {100, 4 * count}, look);
    int changed = 0;
    for (auto _ : state) {
        // One mark changes each time: a real repaint of one line.
        Frame after = layout(rows(count, changed++ % count), {100, 4 * count}, look, "row1");
        benchmark::DoNotOptimize(repaint(&before, after));
    }
}
BENCHMARK(LayoutAndRepaint)->Arg(10)->Arg(200);

void RedrawWithNothingChanged(benchmark::State& state) {
    Window window([] { return rows(200); }, Look{true, true});
    window.resize({100, 800});
    window.redraw();
    for (auto _ : state) benchmark::DoNotOptimize(window.redraw());
}
BENCHMARK(RedrawWithNothingChanged);

void RedrawAfterInvalidate(benchmark::State& state) {
    Window window([] { return rows(10); }, Look{true, true});
    window.resize({100, 40});
    window.redraw();
    for (auto _ : state) {
        window.invalidate();
        benchmark::DoNotOptimize(window.redraw());
    }
}
BENCHMARK(RedrawAfterInvalidate);

} // namespace
