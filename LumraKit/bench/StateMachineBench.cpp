// The engine's operations with 10, 100 and 1,000 claims on the fake world,
// showing how their cost grows with the list. Each engage and end saves the
// whole list and writes a log line (to /dev/null here), as in service.

#include <LumraKit/StateMachine.hpp>
#include <TestSupport/FakeWorld.hpp>
#include <TestSupport/RedirectedStandardError.hpp>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace LumraKit;
using namespace std::chrono_literals;

// An engine holding `count` claims of different holders, a third of each
// term, every process alive and nothing due to end.
struct Loaded {
    explicit Loaded(int64_t count) {
        for (int64_t i = 0; i < count; ++i) engine->engage(claim(i));
    }

    Claim claim(int64_t i) {
        auto pid = static_cast<int32_t>(1000 + i);
        Term term = i % 3 == 0   ? Term::indefinite()
                    : i % 3 == 1 ? Term::until(world.clock + 24h)
                                 : Term::whilePid(pid, 1767225600.25);
        if (term.ifWhilePid()) world.processes[pid] = 1767225600.25;
        return Claim("client-" + std::to_string(i), i % 4 == 0, ModeSet{Mode::idle}, term, world.clock);
    }

    // The engine's log lines cost their write but do not flood the report.
    TestSupport::RedirectedStandardError quiet{"/dev/null"};
    TestSupport::FakeWorld world;
    std::unique_ptr<StateMachine> engine = std::make_unique<StateMachine>(world);
};

// Replaces one holder's claim: the list keeps its length.
void Engage(benchmark::State& state) {
    Loaded loaded(state.range(0));
    int64_t next = 0;
    for (auto _ : state) {
        auto result = loaded.engine->engage(loaded.claim(next++ % state.range(0)));
        benchmark::DoNotOptimize(result);
    }
    if (loaded.engine->claims().size() != static_cast<size_t>(state.range(0))) state.SkipWithError("list changed");
    state.SetComplexityN(state.range(0));
}

// Ends one claim of a holder beyond the loaded ones, which an untimed engage
// puts back first, so the list stays at its length.
void End(benchmark::State& state) {
    Loaded loaded(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        Claim claim = loaded.claim(state.range(0));
        loaded.engine->engage(claim);
        state.ResumeTiming();
        loaded.engine->end({claim.id}, EndReason::requested());
    }
    if (loaded.engine->claims().size() != static_cast<size_t>(state.range(0))) state.SkipWithError("list changed");
    state.SetComplexityN(state.range(0));
}

// A tick that finds nothing to end: the flag, heat, every process and the
// battery are read and every claim examined.
void Tick(benchmark::State& state) {
    Loaded loaded(state.range(0));
    for (auto _ : state) loaded.engine->tick();
    if (loaded.engine->claims().size() != static_cast<size_t>(state.range(0))) state.SkipWithError("list changed");
    state.SetComplexityN(state.range(0));
}

BENCHMARK(Engage)->Arg(10)->Arg(100)->Arg(1000)->Complexity(benchmark::oN);
BENCHMARK(End)->Arg(10)->Arg(100)->Arg(1000)->Complexity(benchmark::oN);
BENCHMARK(Tick)->Arg(10)->Arg(100)->Arg(1000)->Complexity(benchmark::oN);

} // namespace
