#include "OutputCapture.hpp"

#include <Log/Output.hpp>
#include <Log/Writer.hpp>
#include <TestSupport/Collector.hpp>
#include <TestSupport/Subprocess.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace {

using Log::Fields;
using nlohmann::json;
using TestSupport::Collector;

class Shipping : public testing::Test {
protected:
    LogTest::Environment env;
};

std::vector<std::string> linesOf(const std::string& body) {
    std::vector<std::string> lines;
    std::istringstream in(body);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// flushLog() waits for the delivery: the collector has the batch at once.
TEST_F(Shipping, FlushLogReturnsAfterDelivery) {
    Collector collector;
    env.set("LOG_SHIP", collector.url());
    env.set("LOG_SHIP_TOKEN", "s3cret");
    LogTest::CapturedStandardError err;
    Log::log.scope("install").info("copied", [] { return Fields{{"bytes", 512}}; });
    Log::log.warn("odd");
    Log::flushLog();
    auto posts = collector.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].path, "/v1/logs");
    EXPECT_EQ(posts[0].header("Authorization"), "Bearer s3cret");
    EXPECT_EQ(posts[0].header("Content-Type"), "text/plain;charset=utf-8");
    // The batch is the lines of standard error, joined by line feeds.
    EXPECT_EQ(linesOf(posts[0].body), err.lines());
    EXPECT_EQ(posts[0].body.back(), '}');
}

TEST_F(Shipping, OnlyLinesOnTheOutputAreShipped) {
    Collector collector;
    TestSupport::TempDir dir;
    env.set("LOG_SHIP", collector.url());
    env.set("LOG_RECORD_FILE", (dir / "events.jsonl").string());
    env.set("LOG_RECORD_LEVEL", "debug");
    LogTest::CapturedStandardError err;
    Log::log.debug("recorded only");
    Log::log.info("shown");
    Log::flushLog();
    auto posts = collector.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(json::parse(posts[0].body)["msg"], "shown");
    EXPECT_EQ(TestSupport::lines(dir / "events.jsonl").size(), 2u);
}

// The end of a top-level span sends what is pending, long before the
// two-second batch delay, without waiting for the answer.
TEST_F(Shipping, ATopLevelSpanEndSendsThePendingBatchWithoutWaiting) {
    Collector collector;
    collector.holdAnswers();
    env.set("LOG_SHIP", collector.url());
    LogTest::CapturedStandardError err;
    Log::log.span("work", [](Log::Span& span) {
        span.info("inside");
        span.span("nested", [](Log::Span&) {});
    });
    // The caller is free while the collector holds its answer.
    ASSERT_TRUE(collector.waitForPosts(1));
    auto posts = collector.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(linesOf(posts[0].body), err.lines());
    EXPECT_EQ(linesOf(posts[0].body).size(), 5u);
    collector.releaseAnswers();
    Log::flushLog();
}

TEST_F(Shipping, ACollectorThatIsDownIsReportedOnce) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        Collector collector;
        collector.stop();
        env.set("LOG_SHIP", collector.url());
        LogTest::CapturedStandardError err;
        Log::log.info("first batch");
        Log::flushLog();
        Log::log.info("second batch");
        Log::flushLog();
        auto events = err.events();
        err.restore();
        int warnings = 0;
        for (const auto& event : events) {
            if (event["msg"] != "log batch not delivered") continue;
            ++warnings;
            if (event["scope"] != json({"ship"}) || event["verb"] != "warn" || !event["fields"]["err"].is_string() ||
                event["fields"]["err"].get<std::string>().empty())
                return "wrong warning: " + event.dump();
        }
        if (warnings != 1) return "want one warning, got " + std::to_string(warnings);
        if (events.size() != 3) return "want three lines, got " + std::to_string(events.size());
        return std::string();
    });
}

TEST_F(Shipping, ACollectorAnswering200RefusesTheBatch) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        Collector collector;
        collector.answer(200, "thanks, I guess");
        env.set("LOG_SHIP", collector.url());
        LogTest::CapturedStandardError err;
        Log::log.info("one");
        Log::flushLog();
        Log::log.info("two");
        Log::flushLog();
        auto events = err.events();
        err.restore();
        std::vector<json> warnings;
        for (const auto& event : events)
            if (event["msg"] == "log batch refused") warnings.push_back(event);
        if (warnings.size() != 1) return "want one refusal, got " + std::to_string(warnings.size());
        json want = {{"answer", "thanks, I guess"}, {"status", 200}};
        if (warnings[0]["fields"] != want || warnings[0]["scope"] != json({"ship"}))
            return "wrong warning: " + warnings[0].dump();
        return std::string();
    });
}

TEST_F(Shipping, ALineTooLargeToShipIsShownButNotShipped) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        Collector collector;
        env.set("LOG_SHIP", collector.url());
        LogTest::CapturedStandardError err;
        std::string large(70000, 'x');
        Log::log.info("large", [&] { return Fields{{"blob", large}}; });
        Log::log.info("large again", [&] { return Fields{{"blob", large}}; });
        Log::flushLog();
        auto events = err.events();
        auto posts = collector.posts();
        err.restore();
        if (events.size() != 3) return "want three lines, got " + std::to_string(events.size());
        const auto& warning = events[1];
        size_t bytes = err.lines()[0].size();
        if (warning["msg"] != "event too large to ship" || warning["scope"] != json({"ship"}) ||
            warning["fields"] != json({{"bytes", bytes}, {"limit", 65536}}))
            return "wrong warning: " + warning.dump();
        // Only the warning itself was shipped.
        if (posts.size() != 1 || json::parse(posts[0].body)["msg"] != "event too large to ship")
            return "wrong posts: " + std::to_string(posts.size());
        return std::string();
    });
}

// A process that ships and exits normally delivers its last batch on the
// way out.
TEST_F(Shipping, ExitDeliversTheLastBatch) {
    Collector collector;
    auto finished = TestSupport::runProcess(LOG_EXIT_PROBE, {"leaving"},
                                            {{"LOG_SHIP", collector.url()}, {"LOG_FORMAT", "json"}});
    ASSERT_EQ(finished.status, 0) << finished.err;
    auto posts = collector.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(json::parse(posts[0].body)["msg"], "leaving");
    EXPECT_EQ(posts[0].body + "\n", finished.err);
}

} // namespace
