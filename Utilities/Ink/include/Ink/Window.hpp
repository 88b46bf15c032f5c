#pragma once

#include "Ink/Element.hpp"
#include "Ink/Keys.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Ink {

struct Size {
    int columns = 80;
    int rows = 24;
    friend bool operator==(const Size&, const Size&) = default;
};

// Something on a frame that takes focus: where it is and what pressing it
// does.
struct Target {
    std::string key;
    int line = 0;
    bool isDefault = false;
    Action onPress;
    // What pressing it puts on the terminal's clipboard, if anything.
    std::string copies;
    // Which page of a pager it is on (empty outside one): focus does not
    // follow a key, or move to a neighbour, onto another page.
    std::string scope;
};

// An element tree laid out at a size: exactly `rows` lines, none wider
// than `columns`, styled with SGR only when the look has colour. The
// focused target is highlighted (reverse video, or "[ ]" brackets without
// colour). Targets are in reading order; disabled pieces are not targets.
struct Frame {
    std::vector<std::string> lines;
    std::vector<Target> targets;
};
// `copied` is the key of the command line copied last, whose button reads
// "copied".
Frame layout(const Element& root, Size size, const Look& look, const std::string& focused = {},
             const std::string& copied = {});

// The bytes that turn a terminal showing `before` (none: a cleared or
// unknown screen) into `after`: only the lines that differ are written.
std::string repaint(const Frame* before, const Frame& after);

// The headless part of a full-screen program: it draws the view's element
// tree into frames, keeps keyboard focus, and turns keys into presses.
// Screen puts one on a terminal; tests and benchmarks drive it directly.
class Window {
public:
    struct Handlers {
        // Esc with no dialog open, and q.
        std::function<void()> quit;
        // The terminal got focus (ESC [ I): the application became active.
        std::function<void()> becameActive;
    };

    Window(std::function<Element()> render, Look look, Handlers handlers = {});

    void resize(Size size);
    Size size() const { return size_; }

    // Something the view shows may have changed.
    void invalidate() { stale_ = true; }
    // When something changed (or the size did): lays the view out again and
    // answers the bytes that bring the terminal up to date, which are empty
    // when the new frame equals the one shown. Nothing changed: nothing is
    // laid out.
    std::string redraw();
    // The frame shown now.
    const Frame& frame() const { return frame_; }
    const std::string& focused() const { return focused_; }

    // Tab, arrows down and right: next target; Shift-Tab, up and left: the
    // one before (both wrap). Enter and Space press the focused target;
    // Enter with nothing focused presses the default one. In a dialog the
    // keys move among its buttons only, Esc picks its last button.
    void key(Key key);

    // Shows a dialog over the view until one of its buttons is chosen.
    void present(std::string message, std::string informativeText, std::vector<std::string> buttons,
                 std::function<void(size_t button)> completion);
    bool presenting() const;

    // Bytes for the terminal that are not part of a frame (a copy to the
    // clipboard), taken once.
    std::string takeSideOutput();

private:
    std::function<Element()> render_;
    Look look_;
    Handlers handlers_;
    Size size_;
    Frame frame_;
    bool shown_ = false;
    bool stale_ = true;
    std::string focused_;
    // Where the focused target was, to find the nearest one when it goes,
    // and the page it was on.
    int focusLine_ = 0;
    std::string focusScope_;
    std::string copied_;
    std::string sideOutput_;
    struct Dialog;
    std::vector<std::shared_ptr<Dialog>> dialogs_;

    Frame compose();
    void move(int step);
    void focus(const Target* target);
    void press(const Target& target);
    void choose(const std::shared_ptr<Dialog>& dialog, size_t button);
};

} // namespace Ink
