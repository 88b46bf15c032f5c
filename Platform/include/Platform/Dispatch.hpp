#pragma once

#include "Platform/Clock.hpp"

#include <functional>
#include <memory>

namespace Platform {

using Task = std::function<void()>;

// A serial queue: tasks run one at a time, in the order they become due.
// `async` and `asyncAfter` may be called from any thread.
class Queue {
public:
    virtual ~Queue() = default;
    virtual void async(Task task) = 0;
    virtual void asyncAfter(Duration delay, Task task) = 0;
};

// The process's main run loop. Whatever the program treats as "the main
// thread" is the one thread that calls run(); everything posted here runs on
// it. Timers are shortened by the time rate given at construction.
class MainLoop final : public Queue {
public:
    explicit MainLoop(double timeRate = 1.0);
    ~MainLoop() override;
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    void async(Task task) override;
    void asyncAfter(Duration delay, Task task) override;

    // Serves the queue on the calling thread until stop(), even while idle.
    void run();
    void stop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The process's main loop, running at the simulated host's time rate.
MainLoop& mainLoop();

// A background serial queue with a thread of its own, started on first use.
// Platform services deliver their completions here, never on the caller's
// thread.
Queue& globalQueue();

} // namespace Platform
