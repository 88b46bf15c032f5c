#include "OutputCapture.hpp"

#include <Log/Traceparent.hpp>
#include <Log/Writer.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using Log::Traceparent;

const std::string example = "00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01";

// The reason a text is refused with, or "" when it parses.
std::string reasonFor(const std::string& text) {
    try {
        Traceparent::parsing(text);
        return "";
    } catch (const Traceparent::Malformed& malformed) {
        EXPECT_EQ(malformed.value(), text);
        EXPECT_EQ(std::string(malformed.what()), malformed.description());
        return std::string(malformed.reason());
    }
}

TEST(TraceparentParsing, KeepsTheIdentitiesAndFlags) {
    Traceparent parsed = Traceparent::parsing(example);
    EXPECT_EQ(parsed.traceID, "4bf92f3577b34da6a3ce929d0e0e4736");
    EXPECT_EQ(parsed.spanID, "00f067aa0ba902b7");
    EXPECT_EQ(parsed.flags, 1);
    EXPECT_EQ(Traceparent::parsing("00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-fe").flags, 0xFE);
    EXPECT_EQ(parsed.description(), example);
}

TEST(TraceparentParsing, EveryReasonInTheOrderOfTheChecks) {
    struct Row {
        std::string text;
        std::string reason;
    };
    std::string upper = example;
    upper[10] = 'F';
    const Row rows[] = {
        {example.substr(0, 54), "shorter than 55 characters"},
        {"", "shorter than 55 characters"},
        {"00_4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01", "dashes not at 2, 35 and 52"},
        {"00-4bf92f3577b34da6a3ce929d0e0e4736_00f067aa0ba902b7-01", "dashes not at 2, 35 and 52"},
        {"00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7_01", "dashes not at 2, 35 and 52"},
        // The dash check comes before the hex check, even on a shorter-looking text.
        {"0x-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7_01", "dashes not at 2, 35 and 52"},
        {upper, "not lowercase hex"},
        {"0g-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01", "not lowercase hex"},
        {"00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-0G", "not lowercase hex"},
        {"ff-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01", "version ff"},
        {example + "-", "version 00 with trailing data"},
        {example + "x", "version 00 with trailing data"},
        {"01-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01x",
         "a later version's extra fields must follow a dash"},
        {"00-00000000000000000000000000000000-00f067aa0ba902b7-01", "all-zero trace id"},
        // The trace id is checked before the parent id.
        {"00-00000000000000000000000000000000-0000000000000000-01", "all-zero trace id"},
        {"00-4bf92f3577b34da6a3ce929d0e0e4736-0000000000000000-01", "all-zero parent id"},
        {"01-00000000000000000000000000000000-00f067aa0ba902b7-01-more", "all-zero trace id"},
    };
    for (const auto& row : rows) EXPECT_EQ(reasonFor(row.text), row.reason) << row.text;
}

TEST(TraceparentParsing, LaterVersionsDropTheirExtraFieldsAndPrintAsVersion00) {
    Traceparent later = Traceparent::parsing("01-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01-what-ever");
    EXPECT_EQ(later, Traceparent::parsing(example));
    EXPECT_EQ(later.description(), example);
    EXPECT_EQ(Traceparent::parsing("cc-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01").description(), example);
}

TEST(TraceparentParsing, DescriptionOfTheError) {
    try {
        Traceparent::parsing("nope");
        FAIL() << "parsed";
    } catch (const Traceparent::Malformed& malformed) {
        EXPECT_STREQ(malformed.what(), "malformed traceparent \"nope\": shorter than 55 characters");
    }
    std::string_view reason;
    EXPECT_FALSE(Traceparent::parsed("ff-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01", reason));
    EXPECT_EQ(reason, "version ff");
}

TEST(TraceparentJSON, IsTheTextAsOneString) {
    Traceparent parsed = Traceparent::parsing(example);
    nlohmann::json json = parsed;
    EXPECT_EQ(json.dump(), "\"" + example + "\"");
    EXPECT_EQ(json.get<Traceparent>(), parsed);
    nlohmann::json bad = "00-zz";
    try {
        (void)bad.get<Traceparent>();
        FAIL() << "decoded";
    } catch (const Traceparent::Malformed& malformed) {
        EXPECT_STREQ(malformed.what(), "malformed traceparent \"00-zz\": shorter than 55 characters");
    }
    EXPECT_THROW((void)nlohmann::json(55).get<Traceparent>(), nlohmann::json::type_error);
}

TEST(NewID, IsLowercaseHexOfTwiceTheLengthAndDiffersEachTime) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        std::string id = Log::newID(8);
        ASSERT_EQ(id.size(), 16u);
        ASSERT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
        ASSERT_NE(id, std::string(16, '0'));
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_EQ(Log::newID(16).size(), 32u);
    EXPECT_EQ(Log::newID(100).size(), 200u);
}

// A forked child must not repeat identifiers its parent draws next.
TEST(NewID, AForkedChildDrawsItsOwnBytes) {
    (void)Log::newID(8); // the parent now holds a block of random bytes
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    pid_t child = ::fork();
    if (child == 0) {
        std::string id = Log::newID(8);
        [[maybe_unused]] auto written = ::write(pipe[1], id.data(), id.size());
        std::_Exit(0);
    }
    ::close(pipe[1]);
    char text[16];
    ASSERT_EQ(::read(pipe[0], text, sizeof text), 16);
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_NE(std::string(text, 16), Log::newID(8));
}

TEST(EnvironmentTraceparent, IsReadOnceFromTRACEPARENT) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        env.set("TRACEPARENT", example);
        auto first = Log::environmentTraceparent();
        env.set("TRACEPARENT", "00-11111111111111111111111111111111-2222222222222222-01");
        if (first != Traceparent::parsing(example)) return std::string("TRACEPARENT was not picked up");
        if (Log::environmentTraceparent() != first) return std::string("TRACEPARENT was read again");
        return std::string();
    });
}

TEST(EnvironmentTraceparent, EmptyMeansNone) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        env.set("TRACEPARENT", "");
        LogTest::CapturedStandardError err;
        if (Log::environmentTraceparent()) return std::string("an empty TRACEPARENT gave a context");
        if (!err.text().empty()) return "unexpected output: " + err.text();
        return std::string();
    });
}

TEST(EnvironmentTraceparent, AMalformedValueWarnsOnceAndGivesNone) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        env.set("TRACEPARENT", "00-abc");
        LogTest::CapturedStandardError err;
        bool none = !Log::environmentTraceparent() && !Log::environmentTraceparent();
        auto span = Log::log.begin("work");
        span->end();
        auto events = err.events();
        err.restore();
        if (!none) return std::string("a malformed TRACEPARENT gave a context");
        if (events.size() != 3) return "want a warning and the span's two lines, got " + err.text();
        const auto& warning = events[0];
        if (warning["verb"] != "warn" || warning["msg"] != "malformed TRACEPARENT ignored" ||
            warning["fields"] != nlohmann::json{{"traceparent", "00-abc"}, {"why", "shorter than 55 characters"}} ||
            warning.contains("scope"))
            return "wrong warning: " + warning.dump();
        if (events[1].contains("parent_id")) return "the span has a parent: " + events[1].dump();
        return std::string();
    });
}

TEST(EnvironmentTraceparent, SpansOfTheRootWriterContinueIt) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        env.set("TRACEPARENT", example);
        auto span = Log::log.begin("child work");
        std::string trace(span->traceID());
        std::optional<std::string> parent(span->parentID());
        span->end();
        if (trace != "4bf92f3577b34da6a3ce929d0e0e4736" || parent != "00f067aa0ba902b7" || !span->top())
            return "wrong trace: " + trace + " " + parent.value_or("none");
        return std::string();
    });
}

} // namespace
