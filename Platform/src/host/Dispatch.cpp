#include "Platform/Dispatch.hpp"
#include "Platform/SimulatedHost.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/thread_pool.hpp>

namespace Platform {

namespace {

// Runs `task` on `executor` once `delay` (shortened by `rate`) has passed.
// The timer is made on the executor's own thread, so callers on any thread
// never touch it.
template <typename Executor>
void scheduleAfter(const Executor& executor, Duration delay, double rate, Task task) {
    asio::post(executor, [executor, wait = hostDuration(delay, rate), task = std::move(task)]() mutable {
        auto timer = std::make_shared<asio::steady_timer>(executor, wait);
        timer->async_wait([timer, task = std::move(task)](const std::error_code& error) {
            if (!error) task();
        });
    });
}

// A serial queue with one thread of its own.
class BackgroundQueue final : public Queue {
public:
    explicit BackgroundQueue(double rate) : rate_(rate) {}
    // Work still waiting (a timer an hour away) must not hold the exit up.
    ~BackgroundQueue() override {
        pool_.stop();
        pool_.join();
    }

    void async(Task task) override { asio::post(pool_, std::move(task)); }
    void asyncAfter(Duration delay, Task task) override {
        scheduleAfter(pool_.get_executor(), delay, rate_, std::move(task));
    }

private:
    double rate_;
    asio::thread_pool pool_{1};
};

} // namespace

struct MainLoop::State {
    explicit State(double rate) : rate(rate) {}
    double rate;
    asio::io_context context{1};
    asio::executor_work_guard<asio::io_context::executor_type> keepAlive = asio::make_work_guard(context);
};

MainLoop::MainLoop(double timeRate) : state_(std::make_unique<State>(timeRate)) {}
MainLoop::~MainLoop() = default;

void MainLoop::async(Task task) { asio::post(state_->context, std::move(task)); }

void MainLoop::asyncAfter(Duration delay, Task task) {
    scheduleAfter(state_->context.get_executor(), delay, state_->rate, std::move(task));
}

void MainLoop::run() {
    // A stop() that came before run() still ends it; restarting afterwards
    // lets the loop be run again.
    state_->context.run();
    state_->context.restart();
}

void MainLoop::stop() { state_->context.stop(); }

MainLoop& mainLoop() {
    static MainLoop loop(SimulatedHost::timeRate());
    return loop;
}

Queue& globalQueue() {
    static BackgroundQueue queue(SimulatedHost::timeRate());
    return queue;
}

} // namespace Platform
