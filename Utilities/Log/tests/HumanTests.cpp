#include <Log/Human.hpp>
#include <TestSupport/ScopedTimeZone.hpp>

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;
using Log::Event;
using Log::Human;
using Log::Phase;
using Log::Verb;

const std::string parent = "00f067aa0ba902b7";
const std::string child = "1111111111111111";

Event spanEvent(Verb verb, std::optional<Phase> phase, std::string span, std::optional<std::string> parentID,
                std::string msg = "copied") {
    Event event;
    event.time = Log::Date(1772356502347ms);
    event.verb = verb;
    event.msg = std::move(msg);
    event.service = "probe";
    event.phase = phase;
    event.traceID = "4bf92f3577b34da6a3ce929d0e0e4736";
    event.spanID = std::move(span);
    event.parentID = std::move(parentID);
    return event;
}

Event line(Verb verb, std::string msg, std::vector<std::string> scope = {}) {
    Event event;
    event.time = Log::Date(1772356502347ms);
    event.verb = verb;
    event.msg = std::move(msg);
    event.service = "probe";
    event.scope = std::move(scope);
    return event;
}

// The end of a span nested once, as a person reads it.
TEST(HumanLines, AnEndLineNestedOnce) {
    Human human;
    (void)human.render(spanEvent(Verb::wait, Phase::start, parent, std::nullopt, "outer"), false, false);
    (void)human.render(spanEvent(Verb::wait, Phase::start, child, parent), false, false);
    Event end = spanEvent(Verb::success, Phase::end, child, parent);
    end.scope = {"install"};
    end.durMs = 1234.5;
    end.fields = Log::encodeFields({{"bytes", 512}});
    EXPECT_EQ(human.render(end, false, false), "  \u2713 [install] copied 1.23s bytes=512\n");
}

TEST(HumanLines, ColourMarksTheGlyphAndDimsAllButTheMessage) {
    Human human;
    Event end = spanEvent(Verb::fail, Phase::end, child, std::nullopt);
    end.scope = {"grant", "probe"};
    end.durMs = 5;
    end.fields = Log::encodeFields({{"name", "two words"}, {"path", "/tmp/a"}});
    EXPECT_EQ(human.render(end, false, true),
              "\x1B[31m\x1B[1m\u2A2F\x1B[0m \x1B[2m[grant probe]\x1B[0m copied \x1B[2m5.0ms\x1B[0m "
              "\x1B[2mname=\"two words\"\x1B[0m \x1B[2mpath=/tmp/a\x1B[0m\n");
}

TEST(HumanLines, ClockGlyphsAndSteps) {
    TestSupport::ScopedTimeZone zone("UTC");
    Human human;
    EXPECT_EQ(human.render(line(Verb::info, "hello"), true, false), "09:15:02   hello\n");
    EXPECT_EQ(human.render(line(Verb::step, "one"), false, false), "  \u2022 one\n");
    EXPECT_EQ(human.render(line(Verb::warn, "odd", {"ship"}), true, true),
              "\x1B[2m09:15:02\x1B[0m \x1B[33m\x1B[1m\u26A0\x1B[0m \x1B[2m[ship]\x1B[0m odd\n");
    // A message is shown as it is, and a duration only on an end line.
    Event start = spanEvent(Verb::wait, Phase::start, parent, std::nullopt, "a \"b\"=c");
    start.durMs = 3;
    EXPECT_EQ(human.render(start, false, false), "\u25CB a \"b\"=c\n");
}

TEST(HumanLines, ClockIsTheLocalTimeOfDay) {
    TestSupport::ScopedTimeZone zone("EST5");
    EXPECT_EQ(Log::clock(Log::Date(1772356502999ms)), "04:15:02");
    zone.set("UTC");
    EXPECT_EQ(Log::clock(Log::Date(0s)), "00:00:00");
    EXPECT_EQ(Log::clock(Log::Date(86399999ms)), "23:59:59");
}

TEST(HumanPlaces, LinesInsideASpanGoOneDeeper) {
    Human human;
    EXPECT_EQ(human.place(spanEvent(Verb::wait, Phase::start, parent, std::nullopt)), 0);
    EXPECT_EQ(human.place(spanEvent(Verb::info, std::nullopt, parent, std::nullopt)), 1);
    EXPECT_EQ(human.place(spanEvent(Verb::wait, Phase::start, child, parent)), 1);
    EXPECT_EQ(human.place(spanEvent(Verb::info, std::nullopt, child, std::nullopt)), 2);
    EXPECT_EQ(human.place(spanEvent(Verb::success, Phase::end, child, parent)), 1);
    // Its place is forgotten at the end: lines naming it now go to the left.
    EXPECT_EQ(human.place(spanEvent(Verb::info, std::nullopt, child, std::nullopt)), 0);
    // An end whose start was not seen goes under its parent.
    EXPECT_EQ(human.place(spanEvent(Verb::success, Phase::end, "2222222222222222", parent)), 1);
    EXPECT_EQ(human.place(spanEvent(Verb::success, Phase::end, parent, std::nullopt)), 0);
    EXPECT_EQ(human.place(spanEvent(Verb::success, Phase::end, parent, std::nullopt)), 0);
    EXPECT_EQ(human.place(line(Verb::info, "plain")), 0);
    // A start under an unknown parent is at the left.
    EXPECT_EQ(human.place(spanEvent(Verb::wait, Phase::start, child, "3333333333333333")), 0);
}

TEST(HumanDuration, EveryForm) {
    struct Row {
        double ms;
        const char* text;
    };
    const Row rows[] = {
        {0, "0.000ms"},     {0.5, "0.500ms"},   {0.9994, "0.999ms"},     {1, "1.0ms"},      {5, "5.0ms"},
        {9.94, "9.9ms"},    {10, "10ms"},       {999.4, "999ms"},        {1000, "1.00s"},   {1500, "1.50s"},
        {1234.5, "1.23s"},  {59994, "59.99s"},  {60000, "1m0s"},         {61500, "1m2s"},   {119999, "1m60s"},
        {3600000, "60m0s"},
    };
    for (const auto& row : rows) EXPECT_EQ(Log::humanDuration(row.ms), row.text) << row.ms;
}

} // namespace
