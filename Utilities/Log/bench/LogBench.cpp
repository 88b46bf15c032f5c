// The two costs every log call pays: deciding whether an event goes anywhere
// (paid even by calls below every level), and building the JSON line of one
// that does, beside nlohmann's dump of the same content.

#include <Log/Event.hpp>
#include <Log/Settings.hpp>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

const Log::Date sampleTime{1772356502347ms};

Log::Fields sampleFields() {
    return {{"path", "/Applications/Lumra.app/Contents/MacOS/lumra"},
            {"pid", 4242},
            {"bytes", 1048576},
            {"replaced", true},
            {"ratio", 0.75}};
}

Log::Event sampleEvent(Log::Fields fields) {
    Log::Event event;
    event.time = sampleTime;
    event.verb = Log::Verb::success;
    event.msg = "copied";
    event.service = "lumra";
    event.scope = {"install"};
    event.fields = Log::encodeFields(fields);
    return event;
}

nlohmann::json sampleTree() {
    return {{"time", Log::instant(sampleTime)},
            {"level", "info"},
            {"verb", "success"},
            {"msg", "copied"},
            {"service", "lumra"},
            {"scope", {"install"}},
            {"fields",
             {{"path", "/Applications/Lumra.app/Contents/MacOS/lumra"},
              {"pid", 4242},
              {"bytes", 1048576},
              {"replaced", true},
              {"ratio", 0.75}}}};
}

// The event's fields are already encoded, as every sink receives them.
void EventJSON(benchmark::State& state) {
    Log::Event event = sampleEvent(sampleFields());
    for (auto _ : state) benchmark::DoNotOptimize(event.json());
}
BENCHMARK(EventJSON);

void NlohmannDump(benchmark::State& state) {
    nlohmann::json tree = sampleTree();
    for (auto _ : state) benchmark::DoNotOptimize(tree.dump());
}
BENCHMARK(NlohmannDump);

// From the call site's values to the line: making the values, encoding the
// fields, building the event and its JSON.
void EventFromValues(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(sampleEvent(sampleFields()).json());
}
BENCHMARK(EventFromValues);

void NlohmannBuildAndDump(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(sampleTree().dump());
}
BENCHMARK(NlohmannBuildAndDump);

void addDummyVariables() {
    static bool added = false;
    if (added) return;
    added = true;
    for (int i = 0; i < 50; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "BENCH_DUMMY_VARIABLE_%02d", i);
        ::setenv(name, "some value that is not short", 1);
    }
    // What the gate consults must be at its defaults: info, system log on.
    for (const char* name :
         {"LOG_LEVEL", "LOG_RECORD_LEVEL", "LOG_OSLOG", "LOG_RECORD_FILE", "GRANT_LOG_LEVEL", "GRANT_PROBE_LOG_LEVEL"})
        ::unsetenv(name);
}

// A trace call with levels at info: every variable the routing rule names
// is looked up, and the answer is that no sink takes the event.
void LevelGate(benchmark::State& state, std::vector<std::string> levelVariables) {
    addDummyVariables();
    if (!Log::reach(Log::LogLevel::trace, levelVariables).empty()) {
        state.SkipWithError("the event was not gated");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(Log::reach(Log::LogLevel::trace, levelVariables));
}
BENCHMARK_CAPTURE(LevelGate, root, std::vector<std::string>{});
BENCHMARK_CAPTURE(LevelGate, scopedTwice, std::vector<std::string>{"GRANT_PROBE_LOG_LEVEL", "GRANT_LOG_LEVEL"});

} // namespace
