#include "DeathMessage.hpp"
#include "OutputCapture.hpp"

#include <Log/Writer.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Log::Fields;
using Log::Span;
using nlohmann::json;

const std::string example = "00-4bf92f3577b34da6a3ce929d0e0e4736-00f067aa0ba902b7-01";

class Writers : public testing::Test {
protected:
    LogTest::Environment env;
};

using WritersDeathTest = Writers;

using LogTest::fatal;

TEST_F(Writers, ScopesChainAndNameTheirLevelVariables) {
    Log::LogWriter ab = Log::log.scope("a").scope("b");
    EXPECT_THAT(ab.scope(), testing::ElementsAre("a", "b"));
    EXPECT_THAT(ab.levelVariables(), testing::ElementsAre("A_B_LOG_LEVEL", "A_LOG_LEVEL"));
    EXPECT_TRUE(Log::log.scope().empty());
    EXPECT_TRUE(Log::log.levelVariables().empty());
    EXPECT_EQ(Log::log.scope("tcc-probe").levelVariables().front(), "TCC_PROBE_LOG_LEVEL");

    LogTest::CapturedStandardError err;
    ab.info("x");
    auto events = err.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["scope"], json({"a", "b"}));
    EXPECT_EQ(events[0]["verb"], "info");
    EXPECT_EQ(events[0]["msg"], "x");
    EXPECT_FALSE(events[0].contains("trace_id"));
}

// The most specific variable that is set decides, then the next, then LOG_LEVEL.
TEST_F(Writers, TheMostSpecificLevelVariableGoverns) {
    Log::LogWriter ab = Log::log.scope("a").scope("b");
    struct Row {
        const char* ab;
        const char* a;
        const char* all;
        bool written;
    };
    const Row rows[] = {
        {"info", "silent", "silent", true}, {"error", "info", "info", false}, {"", "info", "silent", true},
        {"", "error", "info", false},       {"", "", "info", true},           {"", "", "warn", false},
    };
    for (const auto& row : rows) {
        env.set("A_B_LOG_LEVEL", row.ab);
        env.set("A_LOG_LEVEL", row.a);
        env.set("LOG_LEVEL", row.all);
        LogTest::CapturedStandardError err;
        ab.info("x");
        EXPECT_EQ(err.lines().size(), row.written ? 1u : 0u) << row.ab << " " << row.a << " " << row.all;
    }
}

// Each line reads the variables of its own moment, whatever the writer's
// depth: the form, the clock, the service and the level.
TEST_F(Writers, EachLineFollowsTheVariablesOfItsMoment) {
    env.set("FORCE_COLOR", "0");
    Log::LogWriter deep = Log::log.scope("a").scope("b").scope("c");
    struct Row {
        const char* format;
        const char* time;
        const char* service;
        const char* level; // of A_B_C_LOG_LEVEL
        std::string line;
    };
    const Row rows[] = {
        {"json", "", "first", "", R"({"time":"2026-03-01T09:15:02.347Z","level":"info","verb":"info","msg":"x",)"
                                  R"("service":"first","scope":["a","b","c"],"fields":{"n":1}})"},
        {"human", "", "second", "", "  [a b c] x n=1"},
        {"HUMAN", "1", "third", "info", "09:15:02   [a b c] x n=1"},
        {"json", "1", "", "warn", ""},
    };
    for (const auto& row : rows) {
        env.set("LOG_FORMAT", row.format);
        env.set("LOG_TIME", row.time);
        env.set("LOG_SERVICE", row.service);
        env.set("A_B_C_LOG_LEVEL", row.level);
        LogTest::CapturedStandardError err;
        deep.info("x", [] { return Fields{{"n", 1}}; });
        std::string text = err.text();
        if (row.line.starts_with("{")) {
            auto written = json::parse(text);
            written["time"] = "2026-03-01T09:15:02.347Z";
            EXPECT_EQ(written, json::parse(row.line)) << row.format;
        } else if (row.line.size() > 8 && row.line[2] == ':') {
            ASSERT_GT(text.size(), 9u);
            EXPECT_EQ(text.substr(8), row.line.substr(8) + "\n") << row.format;
        } else {
            EXPECT_EQ(text, row.line.empty() ? "" : row.line + "\n") << row.format;
        }
    }
}

TEST_F(WritersDeathTest, ABadFormatIsFatalOnlyForALineThatIsWritten) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    env.set("LOG_FORMAT", "xml");
    env.set("LOG_LEVEL", "warn");
    Log::log.info("below the level");
    EXPECT_DEATH(Log::log.warn("written"), fatal(R"(LOG_FORMAT: unknown format "xml" (want human, json))"));
}

TEST_F(Writers, FieldsAreComputedOnlyForWrittenLinesAndOnce) {
    env.set("LOG_LEVEL", "info");
    int calls = 0;
    auto fields = [&] {
        ++calls;
        return Fields{{"kind", "camera"}, {"n", 2}};
    };
    LogTest::CapturedStandardError err;
    Log::log.debug("below", fields);
    Log::log.scope("a").trace("below", fields);
    EXPECT_EQ(calls, 0);

    // Written to standard error and recorded to a file: still one call.
    TestSupport::TempDir dir;
    env.set("LOG_RECORD_FILE", (dir / "events.jsonl").string());
    Log::log.info("asked", fields);
    EXPECT_EQ(calls, 1);
    auto events = err.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["fields"], json({{"kind", "camera"}, {"n", 2}}));
    EXPECT_EQ(TestSupport::lines(dir / "events.jsonl").size(), 1u);
}

TEST_F(WritersDeathTest, AnEmptyScopeNameStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH((void)Log::log.scope(""), fatal("scope: the scope name is empty"));
    EXPECT_DEATH((void)Log::log.begin(""), fatal("begin: the span name is empty"));
}

TEST_F(Writers, ASpanWritesAStartAndAnEndLine) {
    LogTest::CapturedStandardError err;
    auto span = Log::log.scope("install").begin("copy", {{"path", "/tmp/a"}});
    span->set({{"bytes", 512}, {"path", "/tmp/b"}});
    span->end();
    auto events = err.events();
    ASSERT_EQ(events.size(), 2u);
    const auto& start = events[0];
    const auto& end = events[1];
    EXPECT_EQ(start["verb"], "wait");
    EXPECT_EQ(start["phase"], "start");
    EXPECT_EQ(start["msg"], "copy");
    EXPECT_EQ(start["scope"], json({"install"}));
    EXPECT_EQ(start["trace_id"], std::string(span->traceID()));
    EXPECT_EQ(start["span_id"], std::string(span->spanID()));
    EXPECT_FALSE(start.contains("parent_id"));
    EXPECT_EQ(start["fields"], json({{"path", "/tmp/a"}}));
    EXPECT_EQ(end["verb"], "success");
    EXPECT_EQ(end["phase"], "end");
    EXPECT_EQ(end["status"], "ok");
    EXPECT_GE(end["dur_ms"].get<double>(), 0.0);
    EXPECT_EQ(end["span_id"], start["span_id"]);
    EXPECT_EQ(end["fields"], json({{"bytes", 512}, {"path", "/tmp/b"}}));
    EXPECT_TRUE(span->top());
    EXPECT_TRUE(span->ended());
    EXPECT_EQ(span->traceID().size(), 32u);
    EXPECT_EQ(span->spanID().size(), 16u);
}

TEST_F(Writers, LinesInsideASpanCarryItsIdentity) {
    LogTest::CapturedStandardError err;
    Log::log.span("outer", [](Span& outer) {
        outer.info("inside");
        outer.scope("nested").span("inner", [](Span& inner) { inner.writer().warn("deeper"); });
    });
    auto events = err.events();
    ASSERT_EQ(events.size(), 6u);
    std::string trace = events[0]["trace_id"];
    std::string outer = events[0]["span_id"];
    EXPECT_EQ(events[1]["msg"], "inside");
    EXPECT_EQ(events[1]["span_id"], outer);
    EXPECT_FALSE(events[1].contains("phase"));
    EXPECT_EQ(events[2]["msg"], "inner");
    EXPECT_EQ(events[2]["parent_id"], outer);
    EXPECT_EQ(events[2]["scope"], json({"nested"}));
    EXPECT_EQ(events[3]["span_id"], events[2]["span_id"]);
    EXPECT_EQ(events[3]["scope"], json({"nested"}));
    for (const auto& event : events) EXPECT_EQ(event["trace_id"], trace);
}

TEST_F(Writers, SpanReturnsTheBodysResult) {
    LogTest::CapturedStandardError err;
    int answer = Log::log.span("compute", [](Span&) { return 42; });
    EXPECT_EQ(answer, 42);
    std::string text = Log::log.span("text", {{"k", 1}}, [](Span& span) {
        span.set({{"more", true}});
        return std::string("made");
    });
    EXPECT_EQ(text, "made");
    int value = 7;
    int& same = Log::log.span("reference", [&](Span&) -> int& { return value; });
    EXPECT_EQ(&same, &value);
    EXPECT_EQ(err.events().size(), 6u);
}

TEST_F(Writers, AFailingBodyFailsTheSpanAndItsErrorIsThrownOn) {
    LogTest::CapturedStandardError err;
    EXPECT_THROW(Log::log.scope("install").span("move", {{"to", "/Applications"}},
                                                [](Span&) { throw std::invalid_argument("no room"); }),
                 std::invalid_argument);
    auto events = err.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1]["verb"], "fail");
    EXPECT_EQ(events[1]["level"], "error");
    EXPECT_EQ(events[1]["status"], "error");
    EXPECT_EQ(events[1]["fields"]["to"], "/Applications");
    EXPECT_EQ(events[1]["fields"]["err"]["message"], "no room");
    EXPECT_EQ(events[1]["fields"]["err"]["type"], "std::invalid_argument");
    Log::log.begin("denied")->end(std::make_error_code(std::errc::permission_denied));
    events = err.events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[3]["fields"]["err"]["message"], "Permission denied");
}

// Level warn: spans write nothing, warn lines point to the nearest written
// span (none here), and a failure writes one fail line.
TEST_F(Writers, QuietSpansLeaveNoIdentifiersAndReportAFailureOnce) {
    env.set("LOG_LEVEL", "warn");
    LogTest::CapturedStandardError err;
    EXPECT_THROW(Log::log.scope("install").span("copy", {{"path", "/tmp/a"}},
                                                [](Span& span) {
                                                    span.warn("slow disk");
                                                    span.span("inner", [](Span& inner) { inner.warn("deeper"); });
                                                    throw std::runtime_error("disk full");
                                                }),
                 std::runtime_error);
    auto events = err.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["msg"], "slow disk");
    EXPECT_EQ(events[1]["msg"], "deeper");
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(events[i].contains("trace_id"));
        EXPECT_FALSE(events[i].contains("span_id"));
    }
    const auto& failure = events[2];
    EXPECT_EQ(failure["verb"], "fail");
    EXPECT_EQ(failure["msg"], "copy");
    EXPECT_EQ(failure["scope"], json({"install"}));
    EXPECT_FALSE(failure.contains("phase"));
    EXPECT_FALSE(failure.contains("dur_ms"));
    EXPECT_FALSE(failure.contains("span_id"));
    EXPECT_EQ(failure["fields"]["err"]["message"], "disk full");
    EXPECT_EQ(failure["fields"]["path"], "/tmp/a");
    EXPECT_TRUE(failure["fields"]["dur_ms"].is_number());
}

TEST_F(Writers, LinesOfAQuietSpanPointToTheNearestWrittenAncestor) {
    env.set("QUIET_LOG_LEVEL", "warn");
    LogTest::CapturedStandardError err;
    auto outer = Log::log.begin("outer");
    auto quiet = outer->scope("quiet").begin("quiet");
    auto child = quiet->begin("child");
    quiet->warn("careful");
    EXPECT_EQ(quiet->anchor(), outer->spanID());
    EXPECT_EQ(child->parentID(), outer->spanID());
    EXPECT_EQ(quiet->parentID(), outer->spanID());
    EXPECT_EQ(quiet->traceparent().description(),
              "00-" + std::string(outer->traceID()) + "-" + std::string(outer->spanID()) + "-01");
    EXPECT_EQ(outer->traceparent().description(),
              "00-" + std::string(outer->traceID()) + "-" + std::string(outer->spanID()) + "-01");
    EXPECT_FALSE(quiet->top());
    quiet->end(std::runtime_error("no"));
    child->end();
    outer->end();
    auto events = err.events();
    std::vector<std::string> messages;
    for (const auto& event : events) messages.push_back(event["msg"]);
    EXPECT_THAT(messages, testing::ElementsAre("outer", "careful", "quiet", "outer"));
    EXPECT_EQ(events[1]["span_id"], std::string(outer->spanID()));
    EXPECT_EQ(events[2]["verb"], "fail");
    EXPECT_EQ(events[2]["span_id"], std::string(outer->spanID()));
    EXPECT_EQ(events[2]["trace_id"], std::string(outer->traceID()));
    // A quiet top span without an ancestor: its traceparent is its own.
    env.set("LOG_LEVEL", "silent");
    auto alone = Log::log.begin("alone");
    EXPECT_EQ(alone->anchor(), std::nullopt);
    EXPECT_EQ(alone->traceparent().spanID, alone->spanID());
    alone->end();
}

TEST_F(Writers, AQuietFailureBelowTheErrorLevelWritesNothing) {
    env.set("LOG_LEVEL", "silent");
    LogTest::CapturedStandardError err;
    Log::log.begin("quiet")->end(std::runtime_error("no"));
    EXPECT_EQ(err.text(), "");
}

TEST_F(Writers, JoiningATraceMakesSpansItsChildren) {
    LogTest::CapturedStandardError err;
    Log::LogWriter joined = Log::log.scope("grant").join(example);
    EXPECT_EQ(joined.remote(), Log::Traceparent::parsing(example));
    EXPECT_THAT(joined.scope(), testing::ElementsAre("grant"));
    joined.info("plain lines carry no identifiers");
    auto span = joined.begin("probe");
    EXPECT_EQ(span->traceID(), "4bf92f3577b34da6a3ce929d0e0e4736");
    EXPECT_EQ(span->parentID(), "00f067aa0ba902b7");
    EXPECT_TRUE(span->top());
    // Joining from inside a span leaves the span behind.
    Log::LogWriter rejoined = span->join(Log::Traceparent::parsing(example));
    EXPECT_EQ(rejoined.span(), nullptr);
    EXPECT_NE(span->writer().span(), nullptr);
    span->end();
    auto events = err.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_FALSE(events[0].contains("trace_id"));
    EXPECT_EQ(events[1]["parent_id"], "00f067aa0ba902b7");

    EXPECT_EQ(Log::log.join(std::nullopt).remote(), std::nullopt);
    EXPECT_EQ(Log::log.join(static_cast<const char*>(nullptr)).remote(), std::nullopt);
    EXPECT_EQ(Log::log.join(std::string(example)).remote()->spanID, "00f067aa0ba902b7");
}

TEST_F(Writers, AMalformedTraceparentIsReportedOncePerText) {
    LogTest::CapturedStandardError err;
    const std::string text = "00-" + std::to_string(::getpid()) + "-not-a-trace";
    Log::LogWriter writer = Log::log.scope("grant");
    EXPECT_EQ(writer.join(text).remote(), std::nullopt);
    EXPECT_EQ(writer.join(text).remote(), std::nullopt);
    (void)writer.join(text + "!");
    auto events = err.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["verb"], "warn");
    EXPECT_EQ(events[0]["msg"], "malformed traceparent ignored");
    EXPECT_EQ(events[0]["scope"], json({"grant"}));
    EXPECT_EQ(events[0]["fields"], json({{"traceparent", text}, {"why", "shorter than 55 characters"}}));
    EXPECT_EQ(events[1]["fields"]["traceparent"], text + "!");
}

// Long texts from outside are remembered in a bounded form that still tells
// texts apart anywhere along their length.
TEST_F(Writers, LongMalformedTraceparentsAreToldApartByTheirWholeText) {
    LogTest::CapturedStandardError err;
    const std::string text = std::to_string(::getpid()) + std::string(100000, 'x');
    (void)Log::log.join(text + "a");
    (void)Log::log.join(text + "a");
    (void)Log::log.join(text + "b");
    (void)Log::log.join(text + "b");
    EXPECT_EQ(err.lines().size(), 2u);
}

TEST_F(Writers, AMalformedTraceparentBelowTheLevelIsRememberedOnlyOnceWritten) {
    const std::string text = "quiet-" + std::to_string(::getpid());
    LogTest::CapturedStandardError err;
    env.set("LOG_LEVEL", "error");
    (void)Log::log.join(text);
    env.set("LOG_LEVEL", "info");
    (void)Log::log.join(text);
    (void)Log::log.join(text);
    EXPECT_EQ(err.lines().size(), 1u);
}

TEST_F(Writers, WarnOnceIsPerScopeAndMessage) {
    LogTest::CapturedStandardError err;
    const std::string message = "disk full " + std::to_string(::getpid());
    Log::LogWriter install = Log::log.scope("install");
    install.warnOnce(message, [] { return Fields{{"free", 1}}; });
    install.warnOnce(message, [] { return Fields{{"free", 0}}; });
    Log::log.scope("grant").warnOnce(message);
    Log::log.scope("install").scope("copy").warnOnce(message);
    Log::log.warnOnce(message);
    Log::log.warnOnce(message);
    // Below the level nothing is remembered.
    env.set("LOG_LEVEL", "error");
    Log::log.scope("other").warnOnce(message);
    env.set("LOG_LEVEL", "warn");
    Log::log.scope("other").warnOnce(message);
    auto events = err.events();
    std::vector<json> scopes;
    for (const auto& event : events) scopes.push_back(event.value("scope", json::array()));
    EXPECT_THAT(scopes, testing::ElementsAre(json({"install"}), json({"grant"}), json({"install", "copy"}),
                                             json::array(), json({"other"})));
    EXPECT_EQ(events[0]["fields"], json({{"free", 1}}));
    EXPECT_EQ(events[0]["verb"], "warn");
}

// The key separates scope names and message, so these do not collide.
TEST_F(Writers, WarnOnceKeysDoNotRunTogether) {
    LogTest::CapturedStandardError err;
    const std::string tag = std::to_string(::getpid());
    Log::log.scope("a" + tag).scope("b").warnOnce("c");
    Log::log.scope("a" + tag + "b").warnOnce("c");
    Log::log.scope("a" + tag).warnOnce("b\x01" "c");
    EXPECT_EQ(err.lines().size(), 3u);
}

TEST_F(Writers, WarnOnceForgetsEverythingAtThe1025thKey) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        LogTest::CapturedStandardError err;
        for (int i = 0; i < 1024; ++i) Log::log.warnOnce("key " + std::to_string(i));
        Log::log.warnOnce("key 0"); // remembered: nothing
        Log::log.warnOnce("key 1024"); // the memory is cleared first
        Log::log.warnOnce("key 0"); // new again
        Log::log.warnOnce("key 1024"); // remembered since the clearing
        auto lines = err.lines();
        err.restore();
        if (lines.size() != 1026) return "want 1026 lines, got " + std::to_string(lines.size());
        if (json::parse(lines[1024])["msg"] != "key 1024" || json::parse(lines[1025])["msg"] != "key 0")
            return "wrong order: " + lines[1024] + " " + lines[1025];
        return std::string();
    });
}

TEST_F(WritersDeathTest, AnEndedSpanCannotBeUsed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    env.set("LOG_LEVEL", "silent");
    auto ended = [] {
        auto span = Log::log.begin("copy");
        span->end();
        return span;
    };
    EXPECT_DEATH(ended()->end(), fatal("cannot end the span \"copy\": it has ended"));
    EXPECT_DEATH(ended()->set({{"k", 1}}), fatal("cannot set fields on the span \"copy\": it has ended"));
    EXPECT_DEATH((void)ended()->begin("child"), fatal("cannot begin a span in the span \"copy\": it has ended"));
    env.set("LOG_LEVEL", "info");
    EXPECT_DEATH(ended()->info("late"), fatal("cannot log through the span \"copy\": it has ended"));
    Log::LogWriter kept = ended()->writer();
    EXPECT_DEATH(kept.warn("late"), fatal("cannot log through the span \"copy\": it has ended"));
}

TEST_F(Writers, ASpanMayBeUsedFromSeveralThreads) {
    LogTest::CapturedStandardError err;
    auto span = Log::log.begin("shared");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                span->set({{"t" + std::to_string(t), i}});
                span->info("tick");
                span->begin("child")->end();
            }
        });
    for (auto& thread : threads) thread.join();
    span->end();
    auto events = err.events();
    ASSERT_EQ(events.size(), 2u + 4 * 200 * 3);
    EXPECT_EQ(events.back()["fields"], json({{"t0", 199}, {"t1", 199}, {"t2", 199}, {"t3", 199}}));
    for (const auto& event : events) EXPECT_EQ(event["trace_id"], std::string(span->traceID()));
}

// Over random nestings and random levels per scope, every identifier in a
// written line names a span whose start line was written, or the remote
// parent.
class RandomTrees : public Writers {
protected:
    void grow(const Log::LogWriter& writer, int depth) {
        int actions = std::uniform_int_distribution(1, 4)(random_);
        for (int i = 0; i < actions; ++i) {
            switch (std::uniform_int_distribution(0, 5)(random_)) {
            case 0: writer.info("note"); break;
            case 1: writer.warn("careful"); break;
            case 2: writer.debug("detail"); break;
            case 3: writer.error("broken"); break;
            default:
                if (depth >= 4) break;
                Log::LogWriter scoped = coin() ? writer.scope(coin() ? "p" : "q") : writer;
                bool fails = std::uniform_int_distribution(0, 3)(random_) == 0;
                try {
                    scoped.span("work", [&](Span& span) {
                        grow(span.writer(), depth + 1);
                        if (fails) throw std::runtime_error("failed");
                    });
                } catch (const std::runtime_error&) {
                }
            }
        }
    }
    bool coin() { return std::uniform_int_distribution(0, 1)(random_) == 1; }

    std::mt19937 random_;
};

TEST_F(RandomTrees, EveryIdentifierNamesAWrittenSpanOrTheRemoteParent) {
    const char* levels[] = {"", "silent", "error", "warn", "info", "debug"};
    std::vector<std::string> variables{"LOG_LEVEL"};
    for (std::string a : {"P", "Q"}) {
        variables.push_back(a + "_LOG_LEVEL");
        for (std::string b : {"P", "Q"}) {
            variables.push_back(a + "_" + b + "_LOG_LEVEL");
            for (std::string c : {"P", "Q"}) variables.push_back(a + "_" + b + "_" + c + "_LOG_LEVEL");
        }
    }
    size_t linesSeen = 0;
    for (unsigned seed = 1; seed <= 150; ++seed) {
        random_.seed(seed);
        for (const auto& variable : variables)
            env.set(variable, levels[std::uniform_int_distribution<size_t>(0, std::size(levels) - 1)(random_)]);
        bool remote = coin();
        Log::LogWriter root = remote ? Log::log.join(example) : Log::log;
        LogTest::CapturedStandardError err;
        grow(root, 0);
        auto events = err.events();
        linesSeen += events.size();
        std::set<std::string> written;
        if (remote) written.insert("00f067aa0ba902b7");
        for (const auto& event : events)
            if (event.value("phase", "") == "start") written.insert(event["span_id"].get<std::string>());
        for (const auto& event : events) {
            for (const char* key : {"span_id", "parent_id"}) {
                if (!event.contains(key)) continue;
                EXPECT_TRUE(written.contains(event[key].get<std::string>()))
                    << "seed " << seed << ": " << key << " of " << event.dump();
            }
            EXPECT_EQ(event.contains("trace_id"), event.contains("span_id")) << event.dump();
        }
        if (HasFailure()) break;
    }
    EXPECT_GT(linesSeen, 300u); // the trees did write something
}

} // namespace
