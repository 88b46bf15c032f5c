#include "Block.hpp"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace Ink {

struct Window::Dialog {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons;
    std::function<void(size_t)> completion;
    // The view's focus, given back when the dialog closes.
    std::string viewFocus;
    int viewFocusLine = 0;
    std::string viewFocusScope;
};

namespace {

const Target* find(const std::vector<Target>& targets, const std::string& key) {
    if (key.empty()) return nullptr;
    for (const Target& target : targets)
        if (target.key == key) return &target;
    return nullptr;
}

// The target of `scope` closest to `line`, the earlier one on a tie.
const Target* nearest(const std::vector<Target>& targets, int line, const std::string& scope) {
    const Target* best = nullptr;
    for (const Target& target : targets)
        if (target.scope == scope && (best == nullptr || std::abs(target.line - line) < std::abs(best->line - line)))
            best = &target;
    return best;
}

} // namespace

Window::Window(std::function<Element()> render, Look look, Handlers handlers)
    : render_(std::move(render)), look_(look), handlers_(std::move(handlers)) {}

void Window::resize(Size size) {
    if (size == size_) return;
    size_ = size;
    // The terminal may have reflowed what it showed: draw it all again.
    shown_ = false;
    stale_ = true;
}

std::string Window::redraw() {
    if (shown_ && !stale_) return {};
    Frame next = compose();
    std::string bytes = repaint(shown_ ? &frame_ : nullptr, next);
    frame_ = std::move(next);
    shown_ = true;
    stale_ = false;
    return bytes;
}

Frame Window::compose() {
    Element view = render_ ? render_() : empty();
    if (dialogs_.empty()) {
        Frame frame = layout(view, size_, look_, focused_, copied_);
        const Target* held = find(frame.targets, focused_);
        if (!focused_.empty() && (held == nullptr || held->scope != focusScope_)) {
            const Target* closest = nearest(frame.targets, focusLine_, focusScope_);
            focused_ = closest != nullptr ? closest->key : std::string();
            frame = layout(view, size_, look_, focused_, copied_);
        }
        focus(find(frame.targets, focused_));
        return frame;
    }
    // The view stays in sight behind the dialog but takes no keys.
    Frame frame = layout(view, size_, look_, {}, copied_);
    frame.targets.clear();
    std::shared_ptr<Dialog> dialog = dialogs_.back();
    int width = std::min(size_.columns, 60);
    detail::Context context{look_, focused_, copied_};
    std::weak_ptr<Dialog> weak = dialog;
    detail::Block box = detail::layDialog(Ink::Dialog{dialog->message, dialog->informativeText, dialog->buttons,
                                                      [this, weak](size_t button) {
                                                          if (auto open = weak.lock()) choose(open, button);
                                                      }},
                                          width, context);
    int rows = static_cast<int>(frame.lines.size());
    int height = std::min(rows, static_cast<int>(box.lines.size()));
    int top = std::max(0, (rows - height) / 2);
    std::string margin(static_cast<size_t>(std::max(0, (size_.columns - width) / 2)), ' ');
    for (int i = 0; i < height; ++i)
        frame.lines[static_cast<size_t>(top + i)] = margin + box.lines[static_cast<size_t>(i)];
    for (Target& target : box.targets) {
        target.line += top;
        frame.targets.push_back(std::move(target));
    }
    return frame;
}

void Window::key(Key key) {
    switch (key) {
    case Key::tab:
    case Key::down:
    case Key::right: move(1); break;
    case Key::backTab:
    case Key::up:
    case Key::left: move(-1); break;
    case Key::enter:
    case Key::space: {
        const Target* target = find(frame_.targets, focused_);
        if (target == nullptr && key == Key::enter) {
            auto isDefault = std::find_if(frame_.targets.begin(), frame_.targets.end(),
                                          [](const Target& candidate) { return candidate.isDefault; });
            if (isDefault != frame_.targets.end()) target = &*isDefault;
        }
        if (target != nullptr) press(*target);
        break;
    }
    case Key::escape:
        if (!dialogs_.empty()) {
            std::shared_ptr<Dialog> dialog = dialogs_.back();
            choose(dialog, dialog->buttons.empty() ? 0 : dialog->buttons.size() - 1);
        } else if (handlers_.quit) {
            handlers_.quit();
        }
        break;
    case Key::quit:
        // A dialog must be answered; q is no answer.
        if (dialogs_.empty() && handlers_.quit) handlers_.quit();
        break;
    case Key::interrupt:
        if (handlers_.quit) handlers_.quit();
        break;
    case Key::focusIn:
        stale_ = true;
        if (handlers_.becameActive) handlers_.becameActive();
        break;
    case Key::focusOut: break;
    }
}

void Window::move(int step) {
    const std::vector<Target>& targets = frame_.targets;
    if (targets.empty()) return;
    auto count = static_cast<long>(targets.size());
    long index = -1;
    for (long i = 0; i < count; ++i)
        if (targets[static_cast<size_t>(i)].key == focused_) index = i;
    if (index < 0)
        index = step > 0 ? 0 : count - 1;
    else
        index = ((index + step) % count + count) % count;
    focused_ = targets[static_cast<size_t>(index)].key;
    focus(&targets[static_cast<size_t>(index)]);
    stale_ = true;
}

void Window::focus(const Target* target) {
    if (target == nullptr) return;
    focusLine_ = target->line;
    focusScope_ = target->scope;
}

void Window::press(const Target& target) {
    stale_ = true;
    if (!target.copies.empty()) {
        sideOutput_ += detail::clipboard(target.copies);
        copied_ = target.key;
        return;
    }
    copied_.clear();
    // The press may redraw, present a dialog or close one: it runs on a copy.
    Action action = target.onPress;
    if (action) action();
}

void Window::present(std::string message, std::string informativeText, std::vector<std::string> buttons,
                     std::function<void(size_t button)> completion) {
    auto dialog = std::make_shared<Dialog>(Dialog{std::move(message), std::move(informativeText), std::move(buttons),
                                                  std::move(completion), focused_, focusLine_, focusScope_});
    dialogs_.push_back(dialog);
    // The default button has focus.
    focused_ = "dialog.0";
    stale_ = true;
}

bool Window::presenting() const { return !dialogs_.empty(); }

void Window::choose(const std::shared_ptr<Dialog>& dialog, size_t button) {
    auto open = std::find(dialogs_.begin(), dialogs_.end(), dialog);
    if (open == dialogs_.end()) return;
    bool top = open + 1 == dialogs_.end();
    dialogs_.erase(open);
    if (top) {
        focused_ = dialogs_.empty() ? dialog->viewFocus : "dialog.0";
        focusLine_ = dialog->viewFocusLine;
        focusScope_ = dialog->viewFocusScope;
    }
    stale_ = true;
    if (dialog->completion) dialog->completion(button);
}

std::string Window::takeSideOutput() { return std::exchange(sideOutput_, {}); }

} // namespace Ink
