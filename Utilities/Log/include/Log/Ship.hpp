#pragma once

#include <Platform/Clock.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/HTTP.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace Log {

inline constexpr std::size_t largestShippableLine = 65536;
inline constexpr std::size_t largestBatchBody = 65536;
inline constexpr std::size_t mostLinesPerBatch = 50;
inline constexpr Platform::Duration shipAfter = std::chrono::seconds(2);
inline constexpr Platform::Duration shipRequestTimeout = std::chrono::seconds(10);
// How much of a refusing collector's answer a report keeps.
inline constexpr std::size_t keptAnswerBytes = 1000;

// What went wrong with one batch; reported from the HTTP worker thread.
struct ShipProblem {
    enum class Kind { notDelivered, refused };
    Kind kind;
    std::string error;  // notDelivered: the transport's error text
    long status = 0;    // refused: the HTTP status, 0 when there was no HTTP response
    std::string answer; // refused: the first 1000 bytes of the body, invalid UTF-8 replaced
};

// Batches lines per URL and posts them. Thread-safe (its own shipping lock).
// Reads the bearer token (Log::shipToken()) when it posts a batch.
//
// A batch is posted when it reaches 50 lines, when the next line would take
// its body past 64 KiB or goes to another URL, 2 seconds (on `timers`) after
// its first line, or when asked. Posting only hands the request to the client,
// so no call here waits on the network except flush(). A refused or
// undelivered batch is reported once through `report`, on the client's worker
// thread, and dropped. `report` may ship lines again but must not flush.
//
// Destruction flushes: the pending batch is posted and every post still in
// flight has completed (its report has run) before the destructor returns, so
// `report` is never called afterwards. A delayed check still waiting on
// `timers` only holds the shipper weakly and does nothing once it is gone.
class Shipper {
public:
    using Report = std::function<void(const ShipProblem&)>;
    Shipper(Platform::HTTPClient& client, Platform::Queue& timers, Report report);
    ~Shipper();
    Shipper(const Shipper&) = delete;
    Shipper& operator=(const Shipper&) = delete;

    // False when the line is longer than largestShippableLine (not shipped).
    bool ship(const std::string& url, std::string_view line);
    // Posts the pending batch now, without waiting for it.
    void sendPending();
    // Posts the pending batch and waits until every post has completed,
    // repeating while new batches appear.
    void flush();

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

} // namespace Log
