#include <Ink/Screen.hpp>

#include <TestSupport/LoopThread.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace Ink;
using namespace std::chrono_literals;

constexpr std::string_view entered = "\x1B[?1049h\x1B[?25l\x1B[?1004h";
constexpr std::string_view left = "\x1B[?1004l\x1B[?25h\x1B[?1049l";

// A pseudo-terminal: the kit gets the slave side, the test reads and types
// on the master side.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string output;

    Pty(int columns, int rows) {
        winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
        if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) throw std::runtime_error("no pty");
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
    // Reads what the kit wrote until `wanted` shows up (two seconds at most).
    bool waitFor(std::string_view wanted) {
        auto deadline = std::chrono::steady_clock::now() + 2s;
        while (output.find(wanted) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            pollfd wait{master, POLLIN, 0};
            ::poll(&wait, 1, 20);
            char bytes[4096];
            ssize_t count = ::read(master, bytes, sizeof bytes);
            if (count > 0) output.append(bytes, static_cast<size_t>(count));
        }
        return true;
    }
    void type(std::string_view keys) {
        ASSERT_EQ(::write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    termios modes() const {
        termios now{};
        ::tcgetattr(slave, &now);
        return now;
    }
};

bool sameModes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag && a.c_cflag == b.c_cflag;
}

template <typename Work>
auto onLoop(Platform::MainLoop& loop, Work work) {
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    loop.async([&task] { task(); });
    return result.get();
}

template <typename Condition>
bool eventually(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(Screen, IsAvailableOnTerminalsOnly) {
    Pty pty(20, 5);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    EXPECT_TRUE(Screen::available(pty.slave, pty.slave));
    EXPECT_FALSE(Screen::available(pipe[0], pty.slave));
    EXPECT_FALSE(Screen::available(pty.slave, pipe[1]));
    ::close(pipe[0]);
    ::close(pipe[1]);
}

TEST(Screen, TakesTheTerminalAndGivesItBack) {
    Pty pty(40, 4);
    termios before = pty.modes();
    ASSERT_TRUE((before.c_lflag & ECHO) && (before.c_lflag & ICANON));
    Platform::MainLoop loop;
    {
        Screen screen(
            loop, [] { return text("Hello \x1B[2J\nthere"); }, {}, Look::plain(), pty.slave, pty.slave);
        termios raw = pty.modes();
        EXPECT_EQ(raw.c_lflag & (ECHO | ICANON | ISIG), 0u);
        EXPECT_TRUE(pty.waitFor(std::string(entered) + "\x1B[H\x1B[2J\x1B[1;1HHello \\x1B[2J\\nthere"));
        screen.copy("hi");
        EXPECT_TRUE(pty.waitFor("\x1B]52;c;aGk=\x07"));
    }
    EXPECT_TRUE(sameModes(pty.modes(), before));
    EXPECT_TRUE(pty.waitFor(left));
}

TEST(Screen, ServesKeysResizesAndAlertsOnTheLoop) {
    Pty pty(30, 8);
    Platform::MainLoop loop;
    std::atomic<int> quits = 0;
    std::atomic<int> activations = 0;
    std::atomic<int> renders = 0;
    auto render = [&] {
        ++renders;
        return vstack({button(Button{.key = "a", .label = "Alpha"}), button(Button{.key = "b", .label = "Beta"})});
    };
    auto screen = std::make_unique<Screen>(loop, render, Window::Handlers{[&] { ++quits; }, [&] { ++activations; }},
                                           Look::plain(), pty.slave, pty.slave);
    TestSupport::LoopThread thread(loop);
    ASSERT_TRUE(pty.waitFor("( Beta )"));

    pty.type("\t");
    EXPECT_TRUE(pty.waitFor("\x1B[1;1H[ Alpha ]\x1B[K"));
    pty.type("\x1B[I");
    EXPECT_TRUE(eventually([&] { return activations == 1; }));

    // A resize: the terminal says so with SIGWINCH.
    winsize smaller{3, 12, 0, 0};
    ::ioctl(pty.master, TIOCSWINSZ, &smaller);
    pty.output.clear();
    ::kill(::getpid(), SIGWINCH);
    EXPECT_TRUE(pty.waitFor("\x1B[H\x1B[2J\x1B[1;1H[ Alpha ]\x1B[2;1H( Beta )"));
    EXPECT_EQ(onLoop(loop, [&] { return screen->window().size(); }), (Size{12, 3}));

    // Invalidations from another thread coalesce into one redraw.
    std::promise<void> hold;
    loop.async([&] { hold.get_future().wait(); });
    int before = renders;
    for (int i = 0; i < 50; ++i) screen->invalidate();
    hold.set_value();
    onLoop(loop, [] { return 0; });
    EXPECT_EQ(renders, before + 1);

    // An alert: a dialog; its completion runs on the loop.
    winsize roomy{10, 30, 0, 0};
    ::ioctl(pty.master, TIOCSWINSZ, &roomy);
    ::kill(::getpid(), SIGWINCH);
    std::promise<std::pair<size_t, bool>> chosen;
    onLoop(loop, [&] {
        screen->present(Platform::Alert{"Allow it?", "", {"Allow", "Deny"}}, [&](size_t button) {
            chosen.set_value({button, loop.runsOnThisThread()});
        });
        return 0;
    });
    EXPECT_TRUE(pty.waitFor("Allow it?"));
    pty.type("q\t\r");
    auto answer = chosen.get_future();
    ASSERT_EQ(answer.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(answer.get(), std::make_pair(size_t{1}, true));
    EXPECT_EQ(quits, 0);

    // A lone ESC is read as escape once nothing more comes.
    pty.type("\x1B");
    EXPECT_TRUE(eventually([&] { return quits == 1; }));
    // An arrow key is no escape.
    pty.type("\x1B[B");
    onLoop(loop, [] { return 0; });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(quits, 1);
    onLoop(loop, [&] {
        screen.reset();
        return 0;
    });
    EXPECT_TRUE(pty.waitFor(left));
}

TEST(Screen, AnEscapeWaitsOnTheWallClockWhateverTheLoopsRate) {
    Pty pty(20, 3);
    // Timers on this loop run a thousand times too fast.
    Platform::MainLoop loop(1000.0);
    std::atomic<int> quits = 0;
    Screen screen(
        loop, [] { return button(Button{.key = "a", .label = "A"}); }, Window::Handlers{[&] { ++quits; }, {}},
        Look::plain(), pty.slave, pty.slave);
    TestSupport::LoopThread thread(loop);
    ASSERT_TRUE(pty.waitFor("( A )"));
    pty.type("\x1B");
    std::this_thread::sleep_for(10ms);
    pty.type("[B");
    EXPECT_TRUE(pty.waitFor("[ A ]"));
    EXPECT_EQ(quits, 0);
    pty.type("\x1B");
    EXPECT_TRUE(eventually([&] { return quits == 1; }));
    onLoop(loop, [] { return 0; });
}

TEST(Screen, QuitMayEndTheScreenFromItsOwnKey) {
    Pty pty(20, 3);
    Platform::MainLoop loop;
    std::unique_ptr<Screen> screen;
    screen = std::make_unique<Screen>(
        loop, [] { return text("up"); }, Window::Handlers{[&] { screen.reset(); }, {}}, Look::plain(), pty.slave,
        pty.slave);
    TestSupport::LoopThread thread(loop);
    ASSERT_TRUE(pty.waitFor("up"));
    // Keys after the q find no screen.
    pty.type("q\tq\x1B");
    EXPECT_TRUE(pty.waitFor(left));
    EXPECT_TRUE(onLoop(loop, [&] { return screen == nullptr; }));
    std::this_thread::sleep_for(100ms);
    onLoop(loop, [] { return 0; });
}

enum class Ending { signal, handledSignal, exit };

// A child process puts a Screen on the terminal, then ends as `ending`
// says; the test checks that the terminal's modes came back.
void endChild(int number, Ending ending) {
    Pty pty(20, 4);
    termios before = pty.modes();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        if (ending == Ending::handledSignal) {
            struct sigaction own {};
            own.sa_handler = [](int) { ::_exit(7); };
            ::sigaction(number, &own, nullptr);
        }
        Platform::MainLoop loop;
        Screen screen(
            loop, [] { return text("child"); }, {}, Look::plain(), pty.slave, pty.slave);
        if (ending == Ending::exit) std::exit(3);
        [[maybe_unused]] ssize_t written = ::write(ready[1], "r", 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    if (ending != Ending::exit) {
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::kill(child, number);
    }
    ::close(ready[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    switch (ending) {
    case Ending::signal: EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << status; break;
    case Ending::handledSignal: EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status; break;
    case Ending::exit: EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status; break;
    }
    EXPECT_TRUE(sameModes(pty.modes(), before)) << number;
    EXPECT_TRUE(pty.waitFor(std::string(entered))) << number;
    EXPECT_TRUE(pty.waitFor(left)) << number;
}

TEST(Screen, GivesTheTerminalBackWhenTheProgramEnds) {
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) endChild(number, Ending::signal);
    // The program's own handler still runs, on a terminal given back.
    endChild(SIGTERM, Ending::handledSignal);
    // exit() without the Screen's destructor.
    endChild(0, Ending::exit);
}

} // namespace
