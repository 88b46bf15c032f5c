#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace TestSupport {

// One POST (or GET) as the collector received it.
struct CollectedPost {
    std::string path; // without the query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string method; // "POST" or "GET"

    // The value of the first header of that name, in any letter case.
    std::optional<std::string> header(std::string_view name) const;
};

// A real HTTP server on 127.0.0.1 for tests, standing in for a log
// collector (or a file server): it takes POSTs and GETs on any path, records each one and answers with
// the status and body it was told (204 and nothing at first). Answers can be
// held back, so that a test sees what happens while requests are in flight.
// Every member may be called from any thread.
class Collector {
public:
    // Listening on a free port when the constructor returns.
    Collector();
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    int port() const;
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(std::string_view path = "/v1/logs") const;

    // How to answer the posts that arrive from now on.
    void answer(int status, std::string body = {});
    // Posts arriving from now on are recorded at once but answered only after
    // releaseAnswers() or stop().
    void holdAnswers();
    void releaseAnswers();

    std::vector<CollectedPost> posts() const;
    // True once at least `count` posts have arrived; false when `limit`
    // passes first.
    bool waitForPosts(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

    // Answers what is held and closes the port, so that a request to url()
    // is then refused. Further calls do nothing.
    void stop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace TestSupport
