#include <Platform/AppEvents.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/Files.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/LoopThread.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// What reached the handlers, in order, with the thread each ran on.
class Inbox {
public:
    std::function<void()> handler(std::string name) {
        return [this, name] {
            std::lock_guard lock(mutex_);
            names_.push_back(name);
            threads_.push_back(std::this_thread::get_id());
            arrived_.notify_all();
        };
    }
    // The names received once `count` have arrived (or after 5 s).
    std::vector<std::string> await(size_t count) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, 5s, [&] { return names_.size() >= count; });
        return names_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> names_;
    std::vector<std::thread::id> threads_;
};

TEST(DescriptorWatch, RunsOnTheLoopWhileReadableUntilCancelled) {
    Platform::MainLoop loop;
    TestSupport::LoopThread serving(loop);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    Inbox inbox;
    auto note = inbox.handler("readable");
    auto watch = loop.watchReadable(ends[0], [&] {
        char byte;
        ASSERT_EQ(::read(ends[0], &byte, 1), 1);
        note();
    });
    ASSERT_EQ(::write(ends[1], "ab", 2), 2);
    EXPECT_EQ(inbox.await(2).size(), 2u);
    EXPECT_EQ(inbox.threads()[0], serving.id());
    watch->cancel();
    ASSERT_EQ(::write(ends[1], "c", 1), 1);
    // The loop turns twice after the cancel; nothing more arrives.
    std::promise<void> turned;
    loop.async([&] { loop.async([&] { turned.set_value(); }); });
    ASSERT_EQ(turned.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_EQ(inbox.await(2).size(), 2u);
    ::close(ends[0]);
    ::close(ends[1]);
}

// A regular file (standard input redirected from one) cannot be polled: it
// counts as readable, as poll() has it, until the watch is cancelled.
TEST(DescriptorWatch, TakesARegularFileAsAlwaysReadable) {
    TestSupport::TempDir folder;
    Platform::Files::writeAtomically(folder / "input", "abc");
    int fd = ::open((folder / "input").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    Platform::MainLoop loop;
    TestSupport::LoopThread serving(loop);
    std::string read;
    std::promise<std::string> whole;
    std::unique_ptr<Platform::DescriptorWatch> watch;
    loop.async([&] {
        watch = loop.watchReadable(fd, [&] {
            char buffer[2];
            ssize_t length = ::read(fd, buffer, sizeof buffer);
            if (length > 0) {
                read.append(buffer, static_cast<size_t>(length));
                return;
            }
            watch->cancel(); // at its end: done
            whole.set_value(read);
        });
    });
    auto future = whole.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), "abc");
    ::close(fd);
}

TEST(AppEvents, DeliverPostsToAllAndActivationsToTheirAppOnTheLoop) {
    TestSupport::TempDir root;
    Platform::postAppEvent(root.path(), "before.subscribing"); // never delivered
    Platform::MainLoop loop;
    TestSupport::LoopThread serving(loop);
    auto events = Platform::makeSimulatedAppEvents(root.path(), {std::string("app.me"), ::getpid()}, loop);
    Inbox inbox;
    auto ping = events->subscribe("app.ping", inbox.handler("ping"));
    auto active = events->subscribe(std::string(Platform::didBecomeActive), inbox.handler("active"));
    auto cancelled = events->subscribe("app.ping", inbox.handler("cancelled"));
    cancelled.reset();

    Platform::postAppEvent(root.path(), "before.subscribing");
    Platform::activateApp(root.path(), {std::string("app.other"), 0});
    Platform::postAppEvent(root.path(), "app.ping");
    Platform::activateApp(root.path(), {std::string("app.me"), 0});
    Platform::activateApp(root.path(), {std::nullopt, ::getpid()});
    EXPECT_EQ(inbox.await(3), (std::vector<std::string>{"ping", "active", "active"}));
    EXPECT_EQ(inbox.threads()[0], serving.id());

    // activate() of the app itself: an event only when it was not in front.
    events->activate();
    Platform::activateApp(root.path(), {std::string("app.other"), 0});
    events->activate();
    Platform::postAppEvent(root.path(), "app.ping");
    EXPECT_EQ(inbox.await(5), (std::vector<std::string>{"ping", "active", "active", "active", "ping"}));
    EXPECT_EQ(Platform::frontApp(root.path())->pid, ::getpid());
}

class ChoosingPresenter final : public Platform::AlertPresenter {
public:
    void present(const Platform::Alert& alert, std::function<void(size_t)> completion) override {
        shown.push_back(alert.message);
        completion(1);
    }
    std::vector<std::string> shown;
};

TEST(Alerts, ThePersonAnswersUnlessAFrontEndPresents) {
    TestSupport::TempDir root;
    Platform::Files::createDirectories(root / "person");
    Platform::Files::writeAtomically(root / "person/rules.json", R"([{"kind":"alert","answer":"Later"}])");
    TestSupport::ImmediateQueue queue;
    auto person = Platform::makeSimulatedPerson(root.path(), {std::nullopt, ::getpid()}, queue);
    std::optional<size_t> pressed;
    Platform::presentAlert({"Update?", "A new version is out.", {"Install", "Later"}}, [&](size_t i) { pressed = i; },
                           *person);
    EXPECT_EQ(pressed, 1u);

    ChoosingPresenter presenter;
    Platform::setAlertPresenter(&presenter);
    pressed.reset();
    Platform::presentAlert({"Quit?", "", {"Quit", "Cancel"}}, [&](size_t i) { pressed = i; }, *person);
    Platform::setAlertPresenter(nullptr);
    EXPECT_EQ(pressed, 1u);
    EXPECT_EQ(presenter.shown, std::vector<std::string>{"Quit?"});
}

} // namespace
