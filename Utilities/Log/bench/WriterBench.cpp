// What a module pays per log call: an info line with three fields written
// as JSON through the root writer, beside spdlog writing a formatted line
// with the same three values; and a span begun and ended below every level.
// Standard error goes to /dev/null while they run.

#include <Log/Writer.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/ScopedEnvironment.hpp>

#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <string>

namespace {

using Variables = TestSupport::ScopedEnvironment;

const std::string kind = "camera";
const int pid = 4242;
const std::string path = "/Applications/Lumra.app";

// system log: 1 keeps the default (on; a no-op without a journal), 0 turns
// the record route off as well.
void LogInfoJSON(benchmark::State& state) {
    Variables variables{{"LOG_FORMAT", "json"},
                        {"LOG_LEVEL", nullptr},
                        {"LOG_RECORD_FILE", nullptr},
                        {"LOG_SHIP", nullptr},
                        {"LOG_OSLOG", state.range(0) ? "1" : "0"}};
    TestSupport::RedirectedStandardError quiet("/dev/null");
    for (auto _ : state)
        Log::log.info("asked", [&] { return Log::Fields{{"kind", kind}, {"path", path}, {"pid", pid}}; });
}
BENCHMARK(LogInfoJSON)->ArgName("systemLog")->Arg(1)->Arg(0);

// flushEach: 0 leaves spdlog's file buffer to collect lines, 1 writes each
// line out as it comes, as the line on standard error above is.
void SpdlogInfo(benchmark::State& state) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>("/dev/null");
    spdlog::logger logger("grant", sink);
    if (state.range(0)) logger.flush_on(spdlog::level::info);
    for (auto _ : state) logger.info("asked kind={} path={} pid={}", kind, path, pid);
}
BENCHMARK(SpdlogInfo)->ArgName("flushEach")->Arg(0)->Arg(1);

void SpanBelowEveryLevel(benchmark::State& state) {
    Variables variables{{"LOG_LEVEL", "silent"}, {"LOG_RECORD_LEVEL", "silent"}, {"TRACEPARENT", nullptr}};
    const Log::LogWriter writer = Log::log.scope("grant");
    if (!writer.begin("probe")->reach().empty()) {
        state.SkipWithError("the span was written");
        return;
    }
    for (auto _ : state) writer.begin("probe")->end();
}
BENCHMARK(SpanBelowEveryLevel);

// The same through span(), with a body that logs one line below the level.
void SpanWithBodyBelowEveryLevel(benchmark::State& state) {
    Variables variables{{"LOG_LEVEL", "silent"}, {"LOG_RECORD_LEVEL", "silent"}, {"TRACEPARENT", nullptr}};
    const Log::LogWriter writer = Log::log.scope("grant");
    for (auto _ : state)
        writer.span("probe", [&](Log::Span& span) {
            span.info("inside", [&] { return Log::Fields{{"pid", pid}}; });
        });
}
BENCHMARK(SpanWithBodyBelowEveryLevel);

} // namespace
