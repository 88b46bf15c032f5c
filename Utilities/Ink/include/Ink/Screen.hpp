#pragma once

#include "Ink/Window.hpp"

#include <Platform/AppEvents.hpp>
#include <Platform/Dispatch.hpp>

#include <functional>
#include <memory>
#include <string_view>

namespace Ink {

// A Window on a real terminal, served by the main loop: raw mode, the
// alternate screen, a hidden cursor and focus reporting while it lives;
// all restored when it is destroyed, when the process exits and on every
// signal that ends the program (the signal then ends it as it would have).
// It redraws when invalidated (coalesced, and only bytes that change the
// screen), follows resizes, and shows alerts as its own modal dialogs.
class Screen final : public Platform::AlertPresenter {
public:
    // Whether `input` and `output` are both terminals.
    static bool available(int input = 0, int output = 1);

    Screen(Platform::MainLoop& loop, std::function<Element()> render, Window::Handlers handlers, Look look,
           int input = 0, int output = 1);
    ~Screen() override;
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Any thread: a redraw soon, on the loop.
    void invalidate();
    // Writes the text to the terminal's clipboard (OSC 52).
    void copy(std::string_view text);

    // On the loop: a modal dialog over the screen; completion gets the
    // index of the button chosen.
    void present(const Platform::Alert& alert, std::function<void(size_t button)> completion) override;

    Window& window();

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace Ink
