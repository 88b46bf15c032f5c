#pragma once

#include "Ink/Look.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The pieces a screen is built from. A view builds a fresh tree of
// elements for each frame; the kit lays it out at the terminal's width
// (Layout.hpp). Every text given here may come from outside: it is drawn
// through visible(), so it never breaks out of its place.
namespace Ink {

using Action = std::function<void()>;

// One piece of the tree: a value, cheap to copy.
class Element {
public:
    struct Node;
    explicit Element(std::shared_ptr<const Node> node) : node_(std::move(node)) {}
    const Node& node() const { return *node_; }

private:
    std::shared_ptr<const Node> node_;
};

// Nothing: takes no room.
Element empty();
// One blank line.
Element spacer();

// Text in a role and colour, wrapped at word boundaries to the width it is
// given (a word wider than that is cut).
Element text(std::string content, Role role = Role::body, Hue hue = Hue::none);
// A symbol's glyph (see glyph()).
Element symbol(std::string name, Hue hue = Hue::none);

// The status mark: a green "✓ allowed" when `good`, else a dim "unknown".
Element mark(bool good);

// Anything that can take keyboard focus has a key: a name that stays the
// same from frame to frame, so focus stays on it across redraws.
struct Button {
    std::string key;
    std::string label;
    // `none` with `tinted` false: a plain button.
    Hue hue = Hue::none;
    bool tinted = true;
    // Takes the full width it is given.
    bool fill = false;
    // A trailing "↗" ("^" in ASCII) after the label.
    bool arrow = false;
    bool enabled = true;
    // Pressed by Return unless focus is on another piece.
    bool isDefault = false;
    Action onPress = {};
};
Element button(Button button);

// A link-style button in the caption role.
Element link(std::string key, std::string label, Action onPress);

// A switch: its label and "on"/"off"; Enter or Space flips it (calling
// onToggle with the new position); a disabled switch is drawn dim and
// takes no focus.
Element toggle(std::string key, std::string label, bool on, bool enabled, std::function<void(bool on)> onToggle);

// A command line the person can copy: the command after "$ " and a "copy"
// button; pressing it copies the command to the terminal's clipboard
// (OSC 52) and the button reads "copied" until the next press elsewhere.
Element commandLine(std::string key, std::string command);

// Children one under another, `gap` blank lines between them.
Element vstack(std::vector<Element> children, int gap = 0);
// Children side by side on the same lines, `gap` columns between them;
// the last child gets whatever width is left.
Element hstack(std::vector<Element> children, int gap = 1);
// `leading` on the left; `trailing` right-aligned on the first line,
// beside it. Leading gets the width trailing leaves.
Element row(Element leading, Element trailing);
// A frame around the content.
Element card(Element content);
// A header (title role) over the children, and a footer (caption,
// secondary) under them; either may be absent.
Element section(std::optional<std::string> header, std::vector<Element> children,
                std::optional<std::string> footer = std::nullopt);
// A paged view: a line of step dots (one per page, the current one
// marked, each in its hue), the page, then a footer bar.
Element pager(std::vector<Hue> dots, int current, Element page, Element footer);
// Buttons on one line at the bottom, right-aligned, with a rule above.
Element footerBar(std::vector<Element> buttons);

// A modal dialog: the message (title role), the informative text, and one
// button per choice (the first is the default); choosing calls `onChoose`
// with the button's index. Drawn over the screen by Screen::present.
Element dialog(std::string message, std::string informativeText, std::vector<std::string> buttons,
               std::function<void(size_t button)> onChoose);

} // namespace Ink
