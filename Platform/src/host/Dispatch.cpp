#include "Platform/Dispatch.hpp"
#include "Platform/SimulatedHost.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/thread_pool.hpp>

#include <atomic>
#include <cerrno>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // `niceness` is added to the thread's scheduling niceness (0: as the
    // process).
    explicit BackgroundQueue(double rate, int niceness = 0) : rate_(rate) {
        if (niceness != 0)
            asio::post(pool_, [niceness] {
                // Per thread on Linux; a refusal leaves the thread as it was.
                errno = 0;
                int now = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
                if (errno == 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), now + niceness);
            });
    }
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

// The shared part of a repeating timer: queued runs hold it weakly, so a
// cancelled or destroyed timer leaves nothing behind but runs that do nothing.
class Repeater final : public std::enable_shared_from_this<Repeater> {
public:
    Repeater(Queue& queue, Duration interval, Task task) : queue_(queue), interval_(interval), task_(std::move(task)) {}

    void schedule() {
        queue_.asyncAfter(interval_, [weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self || self->cancelled_) return;
            self->task_();
            if (!self->cancelled_) self->schedule();
        });
    }
    void cancel() { cancelled_ = true; }

private:
    Queue& queue_;
    Duration interval_;
    Task task_;
    std::atomic<bool> cancelled_{false};
};

class RepeaterHandle final : public RepeatingTimer {
public:
    explicit RepeaterHandle(std::shared_ptr<Repeater> repeater) : repeater_(std::move(repeater)) {}
    ~RepeaterHandle() override { repeater_->cancel(); }
    void cancel() override { repeater_->cancel(); }

private:
    std::shared_ptr<Repeater> repeater_;
};

// How much lower than the process's other threads the utility queue runs.
constexpr int utilityNiceness = 10;

} // namespace

struct MainLoop::State {
    explicit State(double rate) : rate(rate) {}
    double rate;
    std::atomic<bool> running{false};
    asio::io_context context{1};
    asio::executor_work_guard<asio::io_context::executor_type> keepAlive = asio::make_work_guard(context);
};

namespace {

// The descriptor object lives on the loop's thread only: arming, waiting and
// letting go all happen there. It borrows the caller's descriptor and gives
// it back (release, never close) when the watch ends.
class ReadableWatch final : public DescriptorWatch, public std::enable_shared_from_this<ReadableWatch> {
public:
    ReadableWatch(asio::io_context& context, int fd, Task onReadable)
        : context_(context), descriptor_(context), onReadable_(std::move(onReadable)) {
        // A regular file cannot be polled; like poll(), treat it as always
        // readable. A descriptor that cannot be watched at all is never
        // reported.
        struct stat status {};
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
            alwaysReadable_ = true;
            return;
        }
        std::error_code error;
        descriptor_.assign(fd, error);
        if (error) cancelled_ = true;
    }
    // A watch the loop never let go (the loop ended first) still gives the
    // descriptor back rather than closing it.
    ~ReadableWatch() override {
        if (descriptor_.is_open()) descriptor_.release();
    }

    void arm() {
        if (cancelled_) return;
        if (alwaysReadable_) {
            asio::post(context_, [self = shared_from_this()] { self->report(); });
            return;
        }
        descriptor_.async_wait(asio::posix::stream_descriptor::wait_read,
                               [self = shared_from_this()](const std::error_code& error) {
                                   if (!error) self->report();
                               });
    }

    void cancel() override {
        if (cancelled_.exchange(true)) return;
        if (context_.get_executor().running_in_this_thread()) {
            letGo();
            return;
        }
        asio::post(context_, [self = shared_from_this()] { self->letGo(); });
    }

private:
    void report() {
        if (cancelled_) return;
        onReadable_();
        arm();
    }

    void letGo() {
        if (descriptor_.is_open()) {
            std::error_code ignored;
            descriptor_.cancel(ignored);
            descriptor_.release();
        }
        // onReadable_ stays: it may be the very call that cancelled.
    }

    asio::io_context& context_;
    asio::posix::stream_descriptor descriptor_;
    Task onReadable_;
    bool alwaysReadable_ = false;
    std::atomic<bool> cancelled_{false};
};

// What the caller holds: ending it ends the watch.
class WatchHandle final : public DescriptorWatch {
public:
    explicit WatchHandle(std::shared_ptr<ReadableWatch> watch) : watch_(std::move(watch)) {}
    ~WatchHandle() override { watch_->cancel(); }
    void cancel() override { watch_->cancel(); }

private:
    std::shared_ptr<ReadableWatch> watch_;
};

} // namespace

MainLoop::MainLoop(double timeRate) : state_(std::make_unique<State>(timeRate)) {}
MainLoop::~MainLoop() = default;

void MainLoop::async(Task task) { asio::post(state_->context, std::move(task)); }

void MainLoop::asyncAfter(Duration delay, Task task) {
    scheduleAfter(state_->context.get_executor(), delay, state_->rate, std::move(task));
}

std::unique_ptr<DescriptorWatch> MainLoop::watchReadable(int fd, Task onReadable) {
    auto watch = std::make_shared<ReadableWatch>(state_->context, fd, std::move(onReadable));
    asio::post(state_->context, [watch] { watch->arm(); });
    return std::make_unique<WatchHandle>(watch);
}

void MainLoop::run() {
    // A stop() that came before run() still ends it; restarting afterwards
    // lets the loop be run again.
    state_->running = true;
    state_->context.run();
    state_->running = false;
    state_->context.restart();
}

bool MainLoop::runsOnThisThread() const { return state_->context.get_executor().running_in_this_thread(); }

bool MainLoop::running() const { return state_->running; }

void MainLoop::stop() { state_->context.stop(); }

MainLoop& mainLoop() {
    // Never destroyed: background threads may still hand it work while the
    // process exits.
    static MainLoop& loop = *new MainLoop(SimulatedHost::timeRate());
    return loop;
}

bool isMainThread() {
    MainLoop& loop = mainLoop();
    if (loop.running()) return loop.runsOnThisThread();
    return ::gettid() == ::getpid();
}

Queue& globalQueue() {
    static BackgroundQueue queue(SimulatedHost::timeRate());
    return queue;
}

Queue& utilityQueue() {
    static BackgroundQueue queue(SimulatedHost::timeRate(), utilityNiceness);
    return queue;
}

std::unique_ptr<Queue> makeUtilityQueue() {
    return std::make_unique<BackgroundQueue>(SimulatedHost::timeRate(), utilityNiceness);
}

std::unique_ptr<RepeatingTimer> repeating(Queue& queue, Duration interval, Task task) {
    auto repeater = std::make_shared<Repeater>(queue, interval, std::move(task));
    repeater->schedule();
    return std::make_unique<RepeaterHandle>(std::move(repeater));
}

} // namespace Platform
