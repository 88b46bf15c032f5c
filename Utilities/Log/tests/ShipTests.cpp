#include <Log/Settings.hpp>
#include <Log/Ship.hpp>
#include <TestSupport/Collector.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Log::ShipProblem;
using Log::Shipper;
using testing::MatchesRegex;

// Upper bound on any real wait in these tests; only reached when the code
// under test is broken.
constexpr auto patience = 5s;

// The process's client, counting what it is handed: what was handed over
// is known at once, what arrives at the collector only later.
class CountingClient final : public Platform::HTTPClient {
public:
    void post(Platform::HTTPRequest request, std::function<void(Platform::HTTPResponse)> completion) override {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        Platform::httpClient().post(std::move(request), std::move(completion));
    }
    std::vector<Platform::HTTPRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    size_t handed() const { return requests().size(); }

private:
    mutable std::mutex mutex_;
    std::vector<Platform::HTTPRequest> requests_;
};

// Keeps every request until the test completes it.
class HeldClient final : public Platform::HTTPClient {
public:
    void post(Platform::HTTPRequest, std::function<void(Platform::HTTPResponse)> completion) override {
        std::lock_guard lock(mutex_);
        completions_.push_back(std::move(completion));
        arrived_.notify_all();
    }
    bool waitForPosts(size_t count) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, patience, [&] { return completions_.size() >= count; });
    }
    void complete(size_t index, Platform::HTTPResponse response) {
        std::function<void(Platform::HTTPResponse)> completion;
        {
            std::lock_guard lock(mutex_);
            completion = std::move(completions_.at(index));
        }
        completion(std::move(response));
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::function<void(Platform::HTTPResponse)>> completions_;
};

class Reports {
public:
    Shipper::Report sink() {
        return [this](const ShipProblem& problem) {
            std::lock_guard lock(mutex_);
            problems_.push_back(problem);
        };
    }
    std::vector<ShipProblem> all() const {
        std::lock_guard lock(mutex_);
        return problems_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<ShipProblem> problems_;
};

std::string line(int n) { return "{\"n\":" + std::to_string(n) + "}"; }

std::string linesJoined(int from, int to) {
    std::string body;
    for (int n = from; n < to; ++n) body += (n > from ? "\n" : "") + line(n);
    return body;
}

// The token variable is cleared for each test and put back after it.
class Shipping : public testing::Test {
protected:
    Shipping() { env.unset("LOG_SHIP_TOKEN"); }

    // The bodies handed to the client, in order, once the collector has
    // them all (it may take them in another order).
    std::vector<std::string> bodies() const {
        std::vector<std::string> handed, arrived;
        for (const auto& request : client.requests()) handed.push_back(request.body);
        for (const auto& post : collector.posts()) arrived.push_back(post.body);
        EXPECT_THAT(arrived, testing::UnorderedElementsAreArray(handed));
        return handed;
    }

    TestSupport::ScopedEnvironment env;
    TestSupport::Collector collector;
    TestSupport::VirtualTime time;
    CountingClient client;
    Reports reports;
    Shipper shipper{client, time, reports.sink()};
    std::string url = collector.url();
};

TEST_F(Shipping, ABurstPostsFiftyLinesAtOnceAndTheRestTwoSecondsLater) {
    for (int n = 0; n < 60; ++n) ASSERT_TRUE(shipper.ship(url, line(n)));
    EXPECT_EQ(client.handed(), 1u);
    time.advance(Log::shipAfter - 1ns);
    EXPECT_EQ(client.handed(), 1u);
    time.advance(1ns);
    EXPECT_EQ(client.handed(), 2u);

    shipper.flush();
    EXPECT_EQ(bodies(), (std::vector<std::string>{linesJoined(0, 50), linesJoined(50, 60)}));
    EXPECT_TRUE(reports.all().empty());
}

TEST_F(Shipping, ABatchIsPlainTextWithoutAFinalLineFeed) {
    shipper.ship(url, "one");
    shipper.ship(url, "two");
    shipper.flush();
    ASSERT_EQ(collector.posts().size(), 1u);
    auto post = collector.posts()[0];
    EXPECT_EQ(post.path, "/v1/logs");
    EXPECT_EQ(post.body, "one\ntwo");
    EXPECT_EQ(post.header("Content-Type"), "text/plain;charset=utf-8");
    EXPECT_EQ(post.header("Authorization"), std::nullopt);
    EXPECT_EQ(client.requests()[0].timeout, 10s);
}

TEST_F(Shipping, ALineThatWouldOverfillTheBatchSendsItFirst) {
    std::string first(40000, 'a'), second(40000, 'b');
    shipper.ship(url, first);
    EXPECT_EQ(client.handed(), 0u);
    shipper.ship(url, second);
    EXPECT_EQ(client.handed(), 1u);
    shipper.flush();
    EXPECT_EQ(bodies(), (std::vector<std::string>{first, second}));
}

TEST_F(Shipping, ABatchBodyMayReachExactly64KiB) {
    std::string first(32767, 'a'), second(32768, 'b');
    shipper.ship(url, first);
    shipper.ship(url, second);
    EXPECT_EQ(client.handed(), 0u);
    shipper.ship(url, "");
    shipper.flush();
    EXPECT_EQ(bodies(), (std::vector<std::string>{first + "\n" + second, ""}));
}

TEST_F(Shipping, ALineOver64KiBIsRefused) {
    EXPECT_FALSE(shipper.ship(url, std::string(Log::largestShippableLine + 1, 'x')));
    EXPECT_TRUE(shipper.ship(url, std::string(Log::largestShippableLine, 'y')));
    shipper.flush();
    EXPECT_EQ(bodies(), std::vector<std::string>{std::string(Log::largestShippableLine, 'y')});
}

TEST_F(Shipping, AnotherURLSendsTheFirstURLsBatchFirst) {
    shipper.ship(collector.url("/first"), "a");
    shipper.ship(collector.url("/second"), "b");
    ASSERT_EQ(client.handed(), 1u);
    EXPECT_EQ(client.requests()[0].url, collector.url("/first"));
    shipper.flush();
    EXPECT_EQ(client.requests()[1].url, collector.url("/second"));
    EXPECT_EQ(bodies(), (std::vector<std::string>{"a", "b"}));
    std::vector<std::string> paths;
    for (const auto& post : collector.posts()) paths.push_back(post.path);
    EXPECT_THAT(paths, testing::UnorderedElementsAre("/first", "/second"));
}

// The check of the batch that was sent early finds a newer batch pending and
// must leave it to fill up until its own check.
TEST_F(Shipping, AnOldBatchsCheckLeavesANewerBatchAlone) {
    shipper.ship(url, "a");
    time.advance(1s);
    shipper.sendPending();
    shipper.ship(url, "b");
    time.advance(1s);
    EXPECT_EQ(client.handed(), 1u);
    shipper.ship(url, "c");
    time.advance(1s);
    EXPECT_EQ(client.handed(), 2u);
    shipper.flush();
    EXPECT_EQ(bodies(), (std::vector<std::string>{"a", "b\nc"}));
}

TEST_F(Shipping, AnyAnswerBut204IsARefusal) {
    std::string cut(999, 'a');
    struct Row {
        int status;
        std::string body;
        std::optional<std::string> answer; // absent: nothing reported
    };
    for (const auto& row : std::vector<Row>{
             {204, "", std::nullopt},
             {200, "ok", "ok"},
             {202, "", ""},
             {500, std::string(5000, 'x'), std::string(1000, 'x')},
             {400, cut + "\xC3\xA9", cut + "\xEF\xBF\xBD"}, // é cut in half
         }) {
        collector.answer(row.status, row.body);
        shipper.ship(url, "line");
        shipper.flush();
        auto problems = reports.all();
        if (!row.answer) {
            EXPECT_TRUE(problems.empty()) << row.status;
            continue;
        }
        ASSERT_FALSE(problems.empty()) << row.status;
        EXPECT_EQ(problems.back().kind, ShipProblem::Kind::refused);
        EXPECT_EQ(problems.back().status, row.status);
        EXPECT_EQ(problems.back().answer, *row.answer);
    }
    EXPECT_EQ(reports.all().size(), 4u);
}

TEST_F(Shipping, ADownCollectorGivesOneNotDeliveredReportPerBatch) {
    collector.stop();
    for (int n = 0; n < 60; ++n) ASSERT_TRUE(shipper.ship(url, line(n)));
    time.advance(Log::shipAfter);
    shipper.flush();
    auto problems = reports.all();
    ASSERT_EQ(problems.size(), 2u);
    for (const auto& problem : problems) {
        EXPECT_EQ(problem.kind, ShipProblem::Kind::notDelivered);
        EXPECT_THAT(problem.error, MatchesRegex("Failed to connect to 127\\.0\\.0\\.1 port " +
                                                std::to_string(collector.port()) +
                                                " after [0-9]+ ms: Couldn't connect to server"));
    }
}

TEST_F(Shipping, ShipWaitsForNothingAndFlushWaitsForEverything) {
    collector.holdAnswers();
    collector.answer(503, "busy");
    for (int n = 0; n < 50; ++n) shipper.ship(url, line(n));
    ASSERT_TRUE(collector.waitForPosts(1));
    shipper.ship(url, "pending");

    auto flushed = std::async(std::launch::async, [this] { shipper.flush(); });
    ASSERT_TRUE(collector.waitForPosts(2)) << "flush did not post the pending batch";
    EXPECT_EQ(flushed.wait_for(50ms), std::future_status::timeout);

    collector.releaseAnswers();
    ASSERT_EQ(flushed.wait_for(patience), std::future_status::ready);
    EXPECT_EQ(reports.all().size(), 2u) << "flush returned before every completion ran";
}

// A report usually logs a warning, and that line is shipped in turn.
TEST_F(Shipping, FlushGoesOnWhileCompletionsShipMore) {
    collector.answer(500, "down for maintenance");
    std::atomic<bool> warned = false;
    std::optional<Shipper> reporting;
    reporting.emplace(client, time, [&](const ShipProblem&) {
        if (!warned.exchange(true)) reporting->ship(url, "log batch refused");
    });
    reporting->ship(url, "first");
    reporting->flush();
    EXPECT_EQ(bodies(), (std::vector<std::string>{"first", "log batch refused"}));
}

TEST_F(Shipping, TheBearerTokenIsReadAtEachPost) {
    env.set("LOG_SHIP_TOKEN", "s3cret");
    shipper.ship(url, "a");
    shipper.flush();
    env.set("LOG_SHIP_TOKEN", "");
    shipper.ship(url, "b");
    shipper.flush();
    auto posts = collector.posts();
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].header("Authorization"), "Bearer s3cret");
    EXPECT_EQ(posts[1].header("Authorization"), std::nullopt);
}

// The token set in code cannot be taken back, so only a child sets it.
TEST_F(Shipping, ATokenGivenInCodeIsSentToo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Log::setLogShipToken("c0de");
            shipper.ship(url, "a");
            shipper.flush();
            auto posts = collector.posts();
            std::_Exit(posts.size() == 1 && posts[0].header("Authorization") == "Bearer c0de" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(Shipping, ATokenThatWouldBreakTheRequestIsNotSent) {
    env.set("LOG_SHIP_TOKEN", "t\r\nX-Admin: yes");
    shipper.ship(url, "a");
    shipper.flush();
    EXPECT_TRUE(collector.posts().empty());
    ASSERT_EQ(reports.all().size(), 1u);
    EXPECT_EQ(reports.all()[0].kind, ShipProblem::Kind::notDelivered);
    EXPECT_EQ(reports.all()[0].error, "header \"Authorization\" has a line break or NUL in it");
}

TEST(ShipperCompletion, NoHTTPResponseCountsAsStatusZero) {
    TestSupport::VirtualTime time;
    HeldClient client;
    Reports reports;
    Shipper shipper(client, time, reports.sink());
    shipper.ship("http://127.0.0.1:9/", "a");
    shipper.sendPending();
    client.complete(0, Platform::HTTPResponse{std::nullopt, "\xFF", std::nullopt});
    ASSERT_EQ(reports.all().size(), 1u);
    EXPECT_EQ(reports.all()[0].kind, ShipProblem::Kind::refused);
    EXPECT_EQ(reports.all()[0].status, 0);
    EXPECT_EQ(reports.all()[0].answer, "\xEF\xBF\xBD");
}

// The report may belong to whoever owns the shipper, so it must not run
// after the shipper is gone; nor may a delayed check touch it.
TEST(ShipperCompletion, DestructionWaitsForPostsInFlight) {
    TestSupport::VirtualTime time;
    HeldClient client;
    Reports reports;
    std::optional<Shipper> shipper;
    shipper.emplace(client, time, reports.sink());
    shipper->ship("http://127.0.0.1:9/", "a");
    auto destroyed = std::async(std::launch::async, [&] { shipper.reset(); });
    ASSERT_TRUE(client.waitForPosts(1)) << "the pending batch was not sent";
    EXPECT_EQ(destroyed.wait_for(50ms), std::future_status::timeout);

    client.complete(0, Platform::HTTPResponse{500, "", std::nullopt});
    ASSERT_EQ(destroyed.wait_for(patience), std::future_status::ready);
    EXPECT_EQ(reports.all().size(), 1u);
    time.advance(Log::shipAfter);
}

} // namespace
