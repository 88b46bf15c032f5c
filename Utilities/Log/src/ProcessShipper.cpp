#include "ProcessShipper.hpp"

#include "Log/Output.hpp"
#include "Log/Ship.hpp"

#include <Platform/Dispatch.hpp>
#include <Platform/HTTP.hpp>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace Log {

namespace {

// Made by the first shipped line and never destroyed: posts still in flight
// at exit report through it, and the exit handler flushes it.
std::atomic<Shipper*> processShipper{nullptr};

void report(const ShipProblem& problem) {
    switch (problem.kind) {
    case ShipProblem::Kind::notDelivered:
        shipLog().warnOnce("log batch not delivered", [&] { return Fields{{"err", problem.error}}; });
        break;
    case ShipProblem::Kind::refused:
        shipLog().warnOnce("log batch refused",
                           [&] { return Fields{{"answer", problem.answer}, {"status", problem.status}}; });
        break;
    }
}

Shipper& shipper() {
    static Shipper* instance = [] {
        auto* made = new Shipper(Platform::httpClient(), Platform::globalQueue(), report);
        processShipper.store(made, std::memory_order_release);
        return made;
    }();
    return *instance;
}

} // namespace

namespace detail {

bool shipLine(const std::string& url, std::string_view line) {
    if (!shipper().ship(url, line)) return false;
    static std::once_flag exitHandler;
    std::call_once(exitHandler, [] { std::atexit([] { flushLog(); }); });
    return true;
}

} // namespace detail

void flushLog() {
    if (Shipper* shipper = processShipper.load(std::memory_order_acquire)) shipper->flush();
}

void sendPendingBatch() {
    if (Shipper* shipper = processShipper.load(std::memory_order_acquire)) shipper->sendPending();
}

} // namespace Log
