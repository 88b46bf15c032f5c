#include <Platform/HTTP.hpp>
#include <TestSupport/Collector.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Platform::HTTPRequest;
using Platform::HTTPResponse;
using testing::MatchesRegex;

// Upper bound on any real wait in these tests; only reached when the code
// under test is broken.
constexpr auto patience = 5s;

struct Outcome {
    HTTPResponse response;
    std::thread::id thread;
};

// Posts through the process's client; the future is ready once the
// completion has run.
std::future<Outcome> post(HTTPRequest request) {
    auto done = std::make_shared<std::promise<Outcome>>();
    auto future = done->get_future();
    Platform::httpClient().post(std::move(request), [done](HTTPResponse response) {
        done->set_value(Outcome{std::move(response), std::this_thread::get_id()});
    });
    return future;
}

Outcome awaited(std::future<Outcome> future) {
    if (future.wait_for(patience) != std::future_status::ready) {
        ADD_FAILURE() << "the completion did not run";
        return {};
    }
    return future.get();
}

HTTPRequest request(std::string url, std::string body = "line", Platform::Duration timeout = 5s) {
    return HTTPRequest{std::move(url), {{"Content-Type", "text/plain"}}, std::move(body), timeout};
}

TEST(HTTPClient, PostsBodyAndHeadersAndHandsBackTheAnswer) {
    TestSupport::Collector collector;
    collector.answer(202, "queued");
    auto sent = request(collector.url("/v1/logs"), "one\ntwo");
    sent.headers.emplace_back("X-Trace", "abc");
    auto outcome = awaited(post(sent));

    EXPECT_EQ(outcome.response.status, 202);
    EXPECT_EQ(outcome.response.body, "queued");
    EXPECT_EQ(outcome.response.error, std::nullopt);
    EXPECT_NE(outcome.thread, std::this_thread::get_id());

    auto posts = collector.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].path, "/v1/logs");
    EXPECT_EQ(posts[0].body, "one\ntwo");
    EXPECT_EQ(posts[0].header("content-type"), "text/plain");
    EXPECT_EQ(posts[0].header("X-Trace"), "abc");
    EXPECT_EQ(posts[0].header("Expect"), std::nullopt);
}

// curl would label a body without a type as a form.
TEST(HTTPClient, SendsNoHeadersItWasNotGiven) {
    TestSupport::Collector collector;
    auto outcome = awaited(post(HTTPRequest{collector.url(), {}, "a=b", 5s}));
    EXPECT_EQ(outcome.response.status, 204);
    ASSERT_EQ(collector.posts().size(), 1u);
    EXPECT_EQ(collector.posts()[0].header("Content-Type"), std::nullopt);
    EXPECT_EQ(collector.posts()[0].body, "a=b");
}

TEST(HTTPClient, ALargeBodyArrivesWhole) {
    TestSupport::Collector collector;
    std::string body;
    for (int i = 0; body.size() < 300000; ++i) body += std::to_string(i) + "\n";
    auto outcome = awaited(post(request(collector.url(), body)));
    EXPECT_EQ(outcome.response.status, 204);
    ASSERT_EQ(collector.posts().size(), 1u);
    EXPECT_EQ(collector.posts()[0].body, body);
}

// Sent one after another, the second request would not reach the collector
// while it holds the first answer back.
TEST(HTTPClient, RequestsRunSideBySideAndCompleteOnTheWorker) {
    TestSupport::Collector collector;
    collector.holdAnswers();
    std::vector<std::future<Outcome>> outcomes;
    for (int i = 0; i < 3; ++i) outcomes.push_back(post(request(collector.url(), std::to_string(i))));
    EXPECT_TRUE(collector.waitForPosts(3));
    for (auto& outcome : outcomes) EXPECT_NE(outcome.wait_for(0s), std::future_status::ready);

    collector.releaseAnswers();
    std::vector<std::thread::id> threads;
    for (auto& outcome : outcomes) {
        auto done = awaited(std::move(outcome));
        EXPECT_EQ(done.response.status, 204);
        threads.push_back(done.thread);
    }
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_THAT(threads, testing::Each(threads[0]));
}

TEST(HTTPClient, ARefusedConnectionIsATransportError) {
    TestSupport::Collector collector;
    collector.stop();
    auto outcome = awaited(post(request(collector.url())));
    EXPECT_EQ(outcome.response.status, std::nullopt);
    EXPECT_THAT(outcome.response.error.value_or(""),
                MatchesRegex("Failed to connect to 127\\.0\\.0\\.1 port " + std::to_string(collector.port()) +
                             " after [0-9]+ ms: Couldn't connect to server"));
}

TEST(HTTPClient, ARequestEndsAtItsTimeOut) {
    TestSupport::Collector collector;
    collector.holdAnswers();
    auto outcome = awaited(post(request(collector.url(), "line", 100ms)));
    EXPECT_EQ(outcome.response.status, std::nullopt);
    EXPECT_THAT(outcome.response.error.value_or(""),
                MatchesRegex("Operation timed out after [0-9]+ milliseconds with 0 bytes received"));
}

TEST(HTTPClient, SpeaksOnlyHTTPAndHTTPS) {
    auto outcome = awaited(post(request("file:///etc/hostname")));
    EXPECT_EQ(outcome.response.status, std::nullopt);
    EXPECT_EQ(outcome.response.error, "Protocol \"file\" not supported or disabled in libcurl");
}

// A line break in a value (a token from the environment, say) would smuggle
// headers of its own into the request.
TEST(HTTPClient, AHeaderWithALineBreakIsNeverSent) {
    TestSupport::Collector collector;
    auto smuggling = request(collector.url(), "bad");
    smuggling.headers.emplace_back("Authorization", "Bearer t\r\nX-Admin: 1");
    auto refused = post(smuggling);
    auto withNUL = request(collector.url(), "bad");
    withNUL.headers.emplace_back(std::string("X-A\0B", 5), "v");
    auto refusedToo = post(withNUL);
    auto fine = awaited(post(request(collector.url(), "good")));

    EXPECT_EQ(awaited(std::move(refused)).response.error, "header \"Authorization\" has a line break or NUL in it");
    EXPECT_EQ(awaited(std::move(refusedToo)).response.error,
              "header \"" + std::string("X-A\0B", 5) + "\" has a line break or NUL in it");
    EXPECT_EQ(fine.response.status, 204);
    ASSERT_EQ(collector.posts().size(), 1u);
    EXPECT_EQ(collector.posts()[0].body, "good");
}

} // namespace
