#include "TestSupport/Collector.hpp"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace TestSupport {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// What the server library adds to the headers of its own accord.
bool addedByServer(std::string_view name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

} // namespace

std::optional<std::string> CollectedPost::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (sameName(key, name)) return value;
    return std::nullopt;
}

struct Collector::State {
    httplib::Server server;
    std::thread listener;
    int port = 0;
    std::atomic<bool> listenerDone = false;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<CollectedPost> posts;
    int status = 204;
    std::string body;
    bool holding = false;
    bool stopped = false;

    void take(const httplib::Request& request, httplib::Response& response) {
        CollectedPost post{request.path, {}, request.body, request.method};
        for (const auto& [name, value] : request.headers)
            if (!addedByServer(name)) post.headers.emplace_back(name, value);
        std::unique_lock lock(mutex);
        posts.push_back(std::move(post));
        changed.notify_all();
        changed.wait(lock, [this] { return !holding || stopped; });
        response.status = status;
        if (!body.empty()) response.set_content(body, "text/plain");
    }
};

Collector::Collector() : state_(std::make_unique<State>()) {
    auto& state = *state_;
    state.server.Post(".*", [&state](const httplib::Request& request, httplib::Response& response) {
        state.take(request, response);
    });
    state.server.Get(".*", [&state](const httplib::Request& request, httplib::Response& response) {
        state.take(request, response);
    });
    // One request per connection: an idle kept-alive connection would hold
    // stop() up for the library's keep-alive time.
    state.server.set_keep_alive_max_count(1);
    state.port = state.server.bind_to_any_port("127.0.0.1");
    if (state.port <= 0) throw std::runtime_error("the collector found no port on 127.0.0.1");
    // The socket listens from the bind on, so requests queue up until the
    // thread starts serving them.
    state.listener = std::thread([&state] {
        state.server.listen_after_bind();
        state.listenerDone = true;
    });
}

Collector::~Collector() { stop(); }

int Collector::port() const { return state_->port; }

std::string Collector::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(state_->port) + std::string(path);
}

void Collector::answer(int status, std::string body) {
    std::lock_guard lock(state_->mutex);
    state_->status = status;
    state_->body = std::move(body);
}

void Collector::holdAnswers() {
    std::lock_guard lock(state_->mutex);
    state_->holding = true;
}

void Collector::releaseAnswers() {
    std::lock_guard lock(state_->mutex);
    state_->holding = false;
    state_->changed.notify_all();
}

std::vector<CollectedPost> Collector::posts() const {
    std::lock_guard lock(state_->mutex);
    return state_->posts;
}

bool Collector::waitForPosts(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, limit, [&] { return state_->posts.size() >= count; });
}

void Collector::stop() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopped) return;
        state_->stopped = true;
        state_->changed.notify_all();
    }
    // The server ignores a stop() that comes before it started serving.
    while (!state_->server.is_running() && !state_->listenerDone)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    state_->server.stop();
    if (state_->listener.joinable()) state_->listener.join();
}

} // namespace TestSupport

// The server library is not built for the thread sanitizer, which then cannot
// see how the library's pool threads hand data to each other and reports
// races inside it. Only a sanitizer build reads this.
extern "C" const char* __tsan_default_suppressions() { return "race:libcpp-httplib.so\n"; }
