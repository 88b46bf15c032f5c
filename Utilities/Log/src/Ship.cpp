#include "Log/Ship.hpp"

#include "Log/Settings.hpp"

#include <Platform/UTF8.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace Log {

namespace {

struct Batch {
    std::string url;
    std::uint64_t generation = 0;
    std::vector<std::string> lines;
    // The length of the lines joined with line feeds: -1 while there are none.
    std::int64_t bytes = -1;
};

// No line feed after the last line: the collector splits on them.
std::string joined(const Batch& batch) {
    std::string body;
    body.reserve(static_cast<std::size_t>(std::max<std::int64_t>(batch.bytes, 0)));
    for (std::size_t i = 0; i < batch.lines.size(); ++i) {
        if (i > 0) body += '\n';
        body += batch.lines[i];
    }
    return body;
}

} // namespace

// Shared with the completions of posts (strongly: they must be able to leave
// the in-flight count) and with the delayed checks (weakly).
struct Shipper::Core : std::enable_shared_from_this<Core> {
    Core(Platform::HTTPClient& client, Platform::Queue& timers, Report report)
        : client(client), timers(timers), report(std::move(report)) {}

    Platform::HTTPClient& client;
    Platform::Queue& timers;
    Report report;

    std::mutex shipping; // guards pending and counter
    std::optional<Batch> pending;
    std::uint64_t counter = 0;

    std::mutex flight; // guards inFlight
    std::condition_variable landed;
    std::size_t inFlight = 0;

    // Under the shipping lock, so that batches reach the client in order.
    void postPending() {
        if (!pending) return;
        Batch batch = std::move(*pending);
        pending.reset();
        {
            std::lock_guard lock(flight);
            ++inFlight;
        }
        Platform::HTTPRequest request;
        request.url = std::move(batch.url);
        request.headers.emplace_back("Content-Type", "text/plain;charset=utf-8");
        if (auto token = shipToken()) request.headers.emplace_back("Authorization", "Bearer " + *token);
        request.body = joined(batch);
        request.timeout = shipRequestTimeout;
        client.post(std::move(request), [core = shared_from_this()](Platform::HTTPResponse response) {
            core->completed(response);
            core->leave();
        });
    }

    void completed(const Platform::HTTPResponse& response) const {
        if (!report) return;
        if (response.error) {
            report(ShipProblem{ShipProblem::Kind::notDelivered, *response.error, 0, {}});
        } else if (response.status != 204) {
            std::string_view answer(response.body);
            report(ShipProblem{ShipProblem::Kind::refused, {}, response.status.value_or(0),
                               Platform::UTF8::repaired(answer.substr(0, keptAnswerBytes))});
        }
    }

    void leave() {
        std::lock_guard lock(flight);
        if (--inFlight == 0) landed.notify_all();
    }

    void waitUntilLanded() {
        std::unique_lock lock(flight);
        landed.wait(lock, [this] { return inFlight == 0; });
    }
};

Shipper::Shipper(Platform::HTTPClient& client, Platform::Queue& timers, Report report)
    : core_(std::make_shared<Core>(client, timers, std::move(report))) {}

Shipper::~Shipper() { flush(); }

bool Shipper::ship(const std::string& url, std::string_view line) {
    if (line.size() > largestShippableLine) return false;
    auto length = static_cast<std::int64_t>(line.size());
    std::lock_guard lock(core_->shipping);
    auto& pending = core_->pending;
    if (pending && (pending->url != url || pending->bytes + length + 1 > std::int64_t(largestBatchBody)))
        core_->postPending();
    if (!pending) {
        pending = Batch{url, ++core_->counter, {}, -1};
        core_->timers.asyncAfter(shipAfter, [weak = std::weak_ptr(core_), generation = pending->generation] {
            auto core = weak.lock();
            if (!core) return;
            std::lock_guard lock(core->shipping);
            if (core->pending && core->pending->generation == generation) core->postPending();
        });
    }
    pending->lines.emplace_back(line);
    pending->bytes += length + 1;
    if (pending->lines.size() >= mostLinesPerBatch) core_->postPending();
    return true;
}

void Shipper::sendPending() {
    std::lock_guard lock(core_->shipping);
    core_->postPending();
}

void Shipper::flush() {
    for (;;) {
        sendPending();
        core_->waitUntilLanded();
        std::lock_guard lock(core_->shipping);
        if (!core_->pending) return;
    }
}

} // namespace Log
