#pragma once

#include "Platform/Clock.hpp"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Platform {

// One HTTP POST: the body goes as it is, with the given headers besides those
// the protocol needs (Host, Content-Length, Accept); no Content-Type is made up
// for a body without one. Only http and https URLs are accepted, and redirects
// are not followed, so a 3xx answer is what the completion sees.
struct HTTPRequest {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The whole exchange, from connecting to the last byte of the answer.
    Duration timeout;
    // A GET instead of the POST: no body is sent.
    bool get = false;
};

struct HTTPResponse {
    std::optional<long> status;       // absent when no HTTP response arrived
    std::string body;
    std::optional<std::string> error; // transport error text (refused, timed out, ...)
};

// Sends requests from a worker thread of its own (libcurl); post() never blocks
// on the network; each completion runs exactly once, on the worker thread.
// Requests run side by side, so one slow server does not hold up the others;
// a completion that blocks holds up every completion after it. A header name
// or value with a line break or NUL is refused with an error before anything
// is sent.
class HTTPClient {
public:
    virtual ~HTTPClient() = default;
    virtual void post(HTTPRequest request, std::function<void(HTTPResponse)> completion) = 0;
};

// The process's client, started on first use, never destroyed.
HTTPClient& httpClient();

} // namespace Platform
