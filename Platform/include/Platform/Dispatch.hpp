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

// A watch on a descriptor, started by MainLoop::watchReadable. Cancelling
// (or destroying) it on the loop's thread takes effect at once, so the
// descriptor may be closed right after; from another thread it takes effect
// before the loop runs anything posted later.
class DescriptorWatch {
public:
    virtual ~DescriptorWatch() = default;
    virtual void cancel() = 0;
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

    // Runs `onReadable` on the loop each time `fd` has something to read (or
    // is at its end), until the watch is cancelled. The descriptor stays the
    // caller's and must stay open while the watch lives; `onReadable` should
    // read what is there, or it runs again at once.
    std::unique_ptr<DescriptorWatch> watchReadable(int fd, Task onReadable);

    // Serves the queue on the calling thread until stop(), even while idle.
    void run();
    void stop();

    // Whether the calling thread is the one serving the loop now.
    bool runsOnThisThread() const;
    // Whether some thread is serving the loop now.
    bool running() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The process's main loop, running at the simulated host's time rate.
MainLoop& mainLoop();

// Whether the caller is on the main thread: the thread serving mainLoop(),
// or, while no thread serves it, the process's first thread.
bool isMainThread();

// A background serial queue with a thread of its own, started on first use.
// Platform services deliver their completions here, never on the caller's
// thread.
Queue& globalQueue();

// A background serial queue for housekeeping nobody waits for (watching
// files, tidying up): its thread runs at a lower scheduling priority than
// the process's other threads. Started on first use; timers run at the
// simulated host's time rate.
Queue& utilityQueue();

// Another queue like utilityQueue, for work that may block for long (running
// tools) and must not hold up the shared one. At its destruction the task
// under way finishes; waiting ones are dropped.
std::unique_ptr<Queue> makeUtilityQueue();

// A task that runs again and again until its timer is cancelled or
// destroyed. Cancelling from the task itself, or from any other thread, is
// fine; a run already under way finishes.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void cancel() = 0;
};

// Runs `task` on `queue` every `interval`, the first time one interval from
// now. The next run is scheduled when a run ends, so runs never overlap.
std::unique_ptr<RepeatingTimer> repeating(Queue& queue, Duration interval, Task task);

} // namespace Platform
