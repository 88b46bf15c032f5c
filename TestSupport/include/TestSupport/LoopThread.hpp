#pragma once

#include <Platform/Dispatch.hpp>

#include <chrono>
#include <future>
#include <thread>

namespace TestSupport {

// Serves `loop` on a thread of its own for the test's lifetime.
class LoopThread {
public:
    explicit LoopThread(Platform::MainLoop& loop)
        : loop_(loop), thread_([this] {
              id_.set_value(std::this_thread::get_id());
              loop_.run();
              returned_.set_value();
          }) {}
    ~LoopThread() {
        // Repeated: a stop that lands before run() starts would be missed.
        while (returnedFuture_.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) loop_.stop();
        thread_.join();
    }
    std::thread::id id() { return idFuture_.get(); }
    // Whether run() came back within `wait`.
    bool returnedWithin(std::chrono::milliseconds wait) {
        return returnedFuture_.wait_for(wait) == std::future_status::ready;
    }

private:
    Platform::MainLoop& loop_;
    std::promise<std::thread::id> id_;
    std::shared_future<std::thread::id> idFuture_ = id_.get_future().share();
    std::promise<void> returned_;
    std::future<void> returnedFuture_ = returned_.get_future();
    std::thread thread_;
};

} // namespace TestSupport
