#include "Ink/Screen.hpp"

#include "Block.hpp"
#include "FullScreen.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace Ink {

namespace {

// How long an ESC waits for the rest of a sequence before it is a key.
constexpr auto escapeWait = std::chrono::milliseconds(50);

void writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) {
            pollfd wait{descriptor, POLLOUT, 0};
            ::poll(&wait, 1, 100);
            continue;
        }
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

Size terminalSize(int descriptor) {
    winsize size{};
    if (::ioctl(descriptor, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return Size{};
    return Size{size.ws_col, size.ws_row};
}

} // namespace

struct Screen::State : std::enable_shared_from_this<State> {
    State(Platform::MainLoop& loop, std::function<Element()> render, Window::Handlers handlers, Look look, int input,
          int output)
        : loop(loop), quit(handlers.quit), window(std::move(render), look, std::move(handlers)), input(input),
          output(output) {}

    Platform::MainLoop& loop;
    std::function<void()> quit;
    Window window;
    int input;
    int output;
    KeyReader reader;
    std::unique_ptr<Platform::DescriptorWatch> inputWatch;
    std::unique_ptr<Platform::DescriptorWatch> resizeWatch;
    int resizePipe[2] = {-1, -1};
    std::atomic<bool> redrawPosted{false};
    unsigned escapeGeneration = 0;
    std::chrono::steady_clock::time_point escapeSince;
    bool closed = false;

    void draw() {
        if (closed || !detail::fullScreen()) return;
        std::string bytes = window.redraw();
        bytes += window.takeSideOutput();
        writeAll(output, bytes);
    }

    // Each key acts on the frame its predecessor left on the screen.
    void handle(const std::vector<Key>& keys) {
        for (Key key : keys) {
            if (closed) return;
            window.key(key);
            draw();
        }
    }

    void readInput() {
        auto self = shared_from_this();
        char bytes[4096];
        ssize_t count = ::read(input, bytes, sizeof bytes);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (count <= 0) {
            // The terminal went away: nothing more can be shown or asked.
            inputWatch.reset();
            if (quit) quit();
            return;
        }
        handle(reader.feed(std::string_view(bytes, static_cast<size_t>(count))));
        if (closed || !reader.pending()) return;
        ++escapeGeneration;
        escapeSince = std::chrono::steady_clock::now();
        waitForEscape(escapeGeneration);
    }

    // The loop's timers run at the simulated clock's rate, a person's typing
    // does not: the wait is measured on the steady clock and the timer
    // armed again until it has passed.
    void waitForEscape(unsigned generation) {
        std::weak_ptr<State> weak = shared_from_this();
        loop.asyncAfter(escapeWait, [weak, generation] {
            auto state = weak.lock();
            if (!state || state->closed || state->escapeGeneration != generation) return;
            if (std::chrono::steady_clock::now() - state->escapeSince < escapeWait)
                state->waitForEscape(generation);
            else
                state->handle(state->reader.flush());
        });
    }

    void resized() {
        char drained[64];
        while (::read(resizePipe[0], drained, sizeof drained) > 0) {
        }
        window.resize(terminalSize(output));
        draw();
    }
};

bool Screen::available(int input, int output) { return ::isatty(input) == 1 && ::isatty(output) == 1; }

Screen::Screen(Platform::MainLoop& loop, std::function<Element()> render, Window::Handlers handlers, Look look,
               int input, int output)
    : state_(std::make_shared<State>(loop, std::move(render), std::move(handlers), look, input, output)) {
    State& state = *state_;
    detail::enterFullScreen(input, output);
    if (::pipe2(state.resizePipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        detail::startResizeSignals(state.resizePipe[1]);
        std::weak_ptr<State> weak = state_;
        state.resizeWatch = loop.watchReadable(state.resizePipe[0], [weak] {
            if (auto live = weak.lock()) live->resized();
        });
    }
    std::weak_ptr<State> weak = state_;
    state.inputWatch = loop.watchReadable(input, [weak] {
        if (auto live = weak.lock()) live->readInput();
    });
    state.window.resize(terminalSize(output));
    state.draw();
}

Screen::~Screen() {
    State& state = *state_;
    state.closed = true;
    state.inputWatch.reset();
    state.resizeWatch.reset();
    detail::stopResizeSignals();
    detail::closeFullScreen();
    for (int& descriptor : state.resizePipe)
        if (descriptor >= 0) ::close(std::exchange(descriptor, -1));
}

void Screen::invalidate() {
    if (state_->redrawPosted.exchange(true)) return;
    std::weak_ptr<State> weak = state_;
    state_->loop.async([weak] {
        auto state = weak.lock();
        if (!state) return;
        state->redrawPosted = false;
        state->window.invalidate();
        state->draw();
    });
}

void Screen::copy(std::string_view text) {
    if (!state_->closed && detail::fullScreen()) writeAll(state_->output, detail::clipboard(text));
}

void Screen::present(const Platform::Alert& alert, std::function<void(size_t button)> completion) {
    std::weak_ptr<State> weak = state_;
    // The completion runs on the loop, from the key that chose.
    auto show = [weak, alert, completion = std::move(completion)]() mutable {
        auto state = weak.lock();
        if (!state) return;
        state->window.present(alert.message, alert.informativeText, alert.buttons, std::move(completion));
        state->draw();
    };
    if (state_->loop.runsOnThisThread() || !state_->loop.running())
        show();
    else
        state_->loop.async(std::move(show));
}

Window& Screen::window() { return state_->window; }

} // namespace Ink
