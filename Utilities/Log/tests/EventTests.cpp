#include <Log/Event.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using namespace std::chrono_literals;
using Log::Event;
using Log::Phase;
using Log::Verb;

// 2026-03-01T09:15:02.347Z
const Log::Date sampleTime{1772356502347ms};

Event plain(Verb verb = Verb::info, std::string msg = "hello") {
    Event event;
    event.time = sampleTime;
    event.verb = verb;
    event.msg = std::move(msg);
    event.service = "probe";
    return event;
}

Event spanEnd(Verb verb, std::optional<double> durMs) {
    Event event = plain(verb, "copied");
    event.phase = Phase::end;
    event.traceID = "4bf92f3577b34da6a3ce929d0e0e4736";
    event.spanID = "00f067aa0ba902b7";
    event.durMs = durMs;
    return event;
}

TEST(EventJSON, APlainEventHasFiveKeysInOrder) {
    EXPECT_EQ(plain().json(),
              R"({"time":"2026-03-01T09:15:02.347Z","level":"info","verb":"info","msg":"hello","service":"probe"})");
}

TEST(EventJSON, AFullLineIsByteExact) {
    Event event = spanEnd(Verb::success, 12.5);
    event.scope = {"install"};
    event.fields = Log::encodeFields({{"path", "/tmp/a"}, {"bytes", 512}});
    EXPECT_EQ(event.json(), R"({"time":"2026-03-01T09:15:02.347Z","level":"info","verb":"success","msg":"copied",)"
                            R"("service":"probe","scope":["install"],"phase":"end",)"
                            R"("trace_id":"4bf92f3577b34da6a3ce929d0e0e4736","span_id":"00f067aa0ba902b7",)"
                            R"("status":"ok","dur_ms":12.5,"fields":{"bytes":512,"path":"/tmp/a"}})");
}

TEST(EventJSON, SpanStartCarriesPhaseAndEveryIdentifier) {
    Event event = plain(Verb::wait, "copy");
    event.scope = {"grant", "tcc probe"};
    event.phase = Phase::start;
    event.traceID = "4bf92f3577b34da6a3ce929d0e0e4736";
    event.spanID = "00f067aa0ba902b7";
    event.parentID = "b7ad6b7169203331";
    EXPECT_EQ(event.json(), R"({"time":"2026-03-01T09:15:02.347Z","level":"info","verb":"wait","msg":"copy",)"
                            R"("service":"probe","scope":["grant","tcc probe"],"phase":"start",)"
                            R"("trace_id":"4bf92f3577b34da6a3ce929d0e0e4736","span_id":"00f067aa0ba902b7",)"
                            R"("parent_id":"b7ad6b7169203331"})");
}

TEST(EventJSON, StatusFollowsTheEndVerbAndNeedsADuration) {
    EXPECT_NE(spanEnd(Verb::fail, 3).json().find(R"(,"status":"error","dur_ms":3})"), std::string::npos);
    EXPECT_NE(spanEnd(Verb::success, 0.25).json().find(R"(,"status":"ok","dur_ms":0.25})"), std::string::npos);
    for (Verb verb : {Verb::fail, Verb::success}) {
        std::string line = spanEnd(verb, std::nullopt).json();
        EXPECT_EQ(line.find("status"), std::string::npos) << line;
        EXPECT_EQ(line.find("dur_ms"), std::string::npos) << line;
    }
    // A duration outside an end event is not written.
    Event notEnd = plain();
    notEnd.durMs = 5;
    EXPECT_EQ(notEnd.json().find("dur_ms"), std::string::npos);
}

TEST(EventJSON, MessagesAreEscaped) {
    EXPECT_NE(plain(Verb::info, "a\x1f"
                                "b\tc\u00e9")
                  .json()
                  .find(R"("msg":"a\u001fb\tcé")"),
              std::string::npos);
}

TEST(EventJSON, LevelComesFromTheVerb) {
    EXPECT_NE(plain(Verb::fail).json().find(R"("level":"error","verb":"fail")"), std::string::npos);
    EXPECT_NE(plain(Verb::step).json().find(R"("level":"info","verb":"step")"), std::string::npos);
    EXPECT_NE(plain(Verb::trace).json().find(R"("level":"trace","verb":"trace")"), std::string::npos);
}

// Whatever the texts hold, the line is one valid JSON object on one line.
TEST(EventJSON, HostileTextsStillMakeOneValidLine) {
    Event event = plain(Verb::warn, "bad \xff\xfe bytes\nand a newline");
    event.service = "svc\"";
    event.scope = {"\xc0", "\\"};
    event.traceID = "not\"hex";
    event.fields = Log::encodeFields({{"k\xe2\x82", "\xed\xa0\x80"}, {"nan", std::nan("")}});
    std::string line = event.json();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    nlohmann::json parsed;
    ASSERT_NO_THROW(parsed = nlohmann::json::parse(line)) << line;
    EXPECT_EQ(parsed["msg"], "bad \uFFFD\uFFFD bytes\nand a newline");
    EXPECT_EQ(parsed["trace_id"], "not\"hex");
    EXPECT_EQ(parsed["fields"]["nan"], "NaN");
}

TEST(Verbs, CarryTheirLevelGlyphAndColour) {
    struct Row {
        Verb verb;
        const char* name;
        Log::LogLevel level;
        const char* glyph;
        int color;
    };
    const Row rows[] = {
        {Verb::error, "error", Log::LogLevel::error, "\u2A2F", 31},
        {Verb::fail, "fail", Log::LogLevel::error, "\u2A2F", 31},
        {Verb::warn, "warn", Log::LogLevel::warn, "\u26A0", 33},
        {Verb::info, "info", Log::LogLevel::info, " ", 37},
        {Verb::success, "success", Log::LogLevel::info, "\u2713", 32},
        {Verb::wait, "wait", Log::LogLevel::info, "\u25CB", 37},
        {Verb::ready, "ready", Log::LogLevel::info, "\u25B6", 32},
        {Verb::step, "step", Log::LogLevel::info, "\u2022", 90},
        {Verb::debug, "debug", Log::LogLevel::debug, "\u25E6", 90},
        {Verb::trace, "trace", Log::LogLevel::trace, "\u00BB", 35},
    };
    ASSERT_EQ(std::size(rows), Log::allVerbs.size());
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(Log::allVerbs[i], row.verb);
        EXPECT_EQ(Log::name(row.verb), row.name);
        EXPECT_TRUE(Log::level(row.verb) == row.level) << row.name;
        EXPECT_EQ(Log::glyph(row.verb), row.glyph) << row.name;
        EXPECT_EQ(Log::colorCode(row.verb), row.color) << row.name;
    }
    EXPECT_EQ(Log::name(Phase::start), "start");
    EXPECT_EQ(Log::name(Phase::end), "end");
}

} // namespace
